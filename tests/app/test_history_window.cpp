// The Usage History window on the real main window, over rows in the test's own store: the days
// of a cycle and the last twelve cycles, the limit and the projection, the sessions table and
// its sorting, the arrows, the tray's entry and the export.
#include "app/history_chart.h"
#include "app/history_window.h"
#include "app/save_dialog.h"
#include "settings/history.h"
#include "support/files.h"
#include "window_test.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>

#include <algorithm>
#include <fstream>

namespace quorvane {
namespace {

using test::H;

class HistoryWindowTest : public test::WindowTest {
protected:
    // A session of `provider` starting on `day` at `hour`, `seconds` long, outside the peak.
    static void Row(const char* provider, DateTime day, int hour, std::int64_t seconds,
                    std::optional<std::uint64_t> rx = std::nullopt) {
        SessionRow row;
        row.provider = provider;
        row.start = MomentOf(day + EncodeTime(hour, 0, 0));
        row.end = MomentOf(day + EncodeTime(hour, 0, 0) + seconds * kOneSecond);
        row.seconds = row.outsidePeak = seconds;
        row.rx = rx;
        row.tx = rx ? std::optional<std::uint64_t>(0) : std::nullopt;
        row.charges = "$0.00";
        ASSERT_TRUE(AppendSessionRow(row));
    }

    // "Dial Net" saved with cycle day 1 and ten free hours.
    static void Provider(TfrmTimer& w) {
        w.cbProvider->setEditText(QStringLiteral("Dial Net"));
        w.seCycleDay->setValue(1);
        w.ckEnableBilling->setChecked(true);
        w.eFreeHours->setText(QStringLiteral("10"));
        w.btnSave->click();
    }

    static THistoryWindow* Open(TfrmTimer& w) {
        w.btnHistory->click();
        auto* history = w.findChild<THistoryWindow*>(QStringLiteral("frmHistory"));
        EXPECT_NE(history, nullptr);
        EXPECT_TRUE(history && history->isVisible());
        return history;
    }

    static std::vector<double> Heights(const THistoryWindow& h) {
        std::vector<double> sums;
        for (const UsageBar& bar : h.chHistory->Bars())
            sums.push_back(bar.Sum());
        return sums;
    }
};

TEST_F(HistoryWindowTest, TheCycleByDayWithTheFreeHoursLineAndWhereTheRateLeads) {
    // The clock stands on 7 March 2026; the cycle runs from 1 March to 31 March.
    const DateTime march = EncodeDate(2026, 3, 1);
    Row("Dial Net", march + 1, 8, H(1));
    Row("Dial Net", march + 1, 20, H(0, 30));
    Row("Dial Net", march + 5, 9, H(2));
    Row("Other ISP", march + 5, 9, H(5)); // another provider's
    Row("Dial Net", march - 3, 9, H(3));  // the cycle before
    TfrmTimer w;
    Provider(w);
    // Six hours by 7 March, 10:00: the other four are used up by the afternoon of the 11th.
    w.Timers.TotalTime = H(6);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);

    std::vector<double> expected(31, 0);
    expected[1] = H(1, 30);
    expected[5] = H(2);
    EXPECT_EQ(Heights(*h), expected);
    EXPECT_EQ(h->chHistory->Bars()[0].label, "1");
    EXPECT_EQ(h->chHistory->DailyLine(), H(10) / 31.0);
    EXPECT_EQ(h->lCycle->text(), "03/01/2026 - 03/31/2026");
    EXPECT_EQ(h->lProjection->text().toStdString(), "At this rate the free hours run out on 03/11/2026.");
    ASSERT_EQ(h->tvSessions->rowCount(), 3);

    // Sorted by length as numbers, not as texts.
    h->tvSessions->sortItems(2, Qt::DescendingOrder);
    EXPECT_EQ(h->tvSessions->item(0, 2)->text(), "002:00:00");
    EXPECT_EQ(h->tvSessions->item(2, 2)->text(), "000:30:00");
    EXPECT_EQ(h->tvSessions->item(0, 0)->text(), "03/06/2026 09:00:00 AM");

    // Back a cycle, and forward again; there is none after the current one.
    EXPECT_FALSE(h->btnLater->isEnabled());
    h->btnEarlier->click();
    EXPECT_EQ(h->lCycle->text(), "02/01/2026 - 02/28/2026");
    EXPECT_EQ(h->chHistory->Bars().size(), 28u);
    EXPECT_EQ(h->tvSessions->rowCount(), 1);
    EXPECT_EQ(h->lProjection->text().toStdString(), "") << "a past cycle has no future";
    h->btnLater->click();
    EXPECT_EQ(h->tvSessions->rowCount(), 3);

    // The last twelve cycles, each as one bar, the line at the whole free hours.
    h->cbHistoryView->setCurrentIndex(1);
    ASSERT_EQ(h->chHistory->Bars().size(), 12u);
    EXPECT_EQ(h->chHistory->Bars()[11].Sum(), H(3, 30));
    EXPECT_EQ(h->chHistory->Bars()[10].Sum(), H(3));
    EXPECT_EQ(h->chHistory->DailyLine(), H(10));
    EXPECT_FALSE(h->btnEarlier->isEnabled());
}

TEST_F(HistoryWindowTest, DataIsShownWhereItIsCountedAndTheTrayOpensTheSameWindow) {
    const DateTime march = EncodeDate(2026, 3, 1);
    Row("Dial Net", march + 2, 8, H(1), 400'000'000);
    Row("Dial Net", march + 3, 8, H(1)); // a method that counts no bytes
    TfrmTimer w;
    Provider(w);
    w.eDataAllowance->setText(QStringLiteral("3100"));
    w.btnSave->click();
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->cbMeasure->currentText(), "Data") << "a data allowance is counted in data";
    EXPECT_EQ(h->chHistory->Bars()[2].Sum(), 400'000'000);
    EXPECT_EQ(h->chHistory->Bars()[3].Sum(), 0);
    EXPECT_EQ(h->chHistory->DailyLine(), 100'000'000);
    EXPECT_EQ(h->tvSessions->item(0, 3)->text(), "400 MB");
    EXPECT_EQ(h->tvSessions->item(1, 3)->text(), "");

    h->close();
    QAction* entry = nullptr;
    for (QAction* action : w.findChildren<QMenu*>().front()->actions())
        if (action->text() == "Usage History")
            entry = action;
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    EXPECT_TRUE(h->isVisible());
    EXPECT_EQ(w.findChildren<THistoryWindow*>().size(), 1u);
}

TEST_F(HistoryWindowTest, AnOpenWindowFollowsTheSessionsAsTheyEnd) {
    TfrmTimer w;
    Provider(w);
    w.cbDetection->setCurrentIndex(kManual);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->tvSessions->rowCount(), 0);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 90);
    w.sbManual->click();
    ASSERT_EQ(h->tvSessions->rowCount(), 1);
    EXPECT_EQ(h->tvSessions->item(0, 2)->text(), "000:01:30");
    EXPECT_EQ(h->chHistory->Bars()[6].Sum(), 90);
}

TEST_F(HistoryWindowTest, TheSessionsShownAreExportedAsCsvOrJsonAndALinkIsRefused) {
    const DateTime march = EncodeDate(2026, 3, 1);
    Row("Dial Net", march + 2, 8, H(1), 1234);
    Row("Dial Net", march + 3, 8, H(0, 2));
    TfrmTimer w;
    Provider(w);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    FileDialogScript dialog;

    const auto csv = home_ / "march.csv";
    dialog.Answer(QString::fromStdString(csv.string()));
    h->btnExport->click();
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0].filter, "CSV Files (*.csv)|*.csv|JSON Files (*.json)|*.json");
    EXPECT_EQ(test::ReadBytes(csv),
              "provider,start,end,seconds,inside_peak,outside_peak,rx,tx,charges,ended\r\n"
              "Dial Net,2026-03-03T08:00:00+00:00,2026-03-03T09:00:00+00:00,3600,0,3600,1234,0,"
              "$0.00,stopped\r\n"
              "Dial Net,2026-03-04T08:00:00+00:00,2026-03-04T08:02:00+00:00,120,0,120,,,"
              "$0.00,stopped\r\n");

    const auto json = home_ / "march.json";
    dialog.Answer(QString::fromStdString(json.string()));
    h->btnExport->click();
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(test::ReadBytes(json)));
    ASSERT_TRUE(doc.isObject());
    const QJsonArray sessions = doc.object()[QStringLiteral("sessions")].toArray();
    ASSERT_EQ(sessions.size(), 2);
    EXPECT_EQ(sessions[0].toObject()[QStringLiteral("rx")].toInteger(), 1234);
    EXPECT_TRUE(sessions[1].toObject()[QStringLiteral("rx")].isNull());

    // A link is never written through: the file it points at stays as it was.
    const auto target = home_ / "precious.txt";
    std::ofstream(target) << "keep me";
    const auto link = home_ / "link.csv";
    std::filesystem::create_symlink(target, link);
    const std::size_t boxes = boxes_->shown.size();
    dialog.Answer(QString::fromStdString(link.string()));
    h->btnExport->click();
    EXPECT_EQ(test::ReadBytes(target), "keep me");
    ASSERT_EQ(boxes_->shown.size(), boxes + 1);
    EXPECT_TRUE(boxes_->shown.back().text.startsWith("The usage history could not be exported"))
        << boxes_->shown.back().text.toStdString();
}

TEST_F(HistoryWindowTest, AFewSecondsAreDrawnAndTheEarlierArrowStopsAtTheFirstSession) {
    // Three sessions of sixteen seconds in all on 2 March; one in January.
    const DateTime march = EncodeDate(2026, 3, 1);
    Row("Dial Net", march + 1, 8, 5);
    Row("Dial Net", march + 1, 9, 5);
    Row("Dial Net", march + 1, 10, 6);
    Row("Dial Net", EncodeDate(2026, 1, 20), 9, H(1));
    TfrmTimer w;
    Provider(w);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->chHistory->Bars()[1].Sum(), 16);
    EXPECT_EQ(h->tvSessions->rowCount(), 3);
    EXPECT_EQ(h->chHistory->Note(), "");
    // The axis is a minute's; the ten free hours' daily share (19 min) lies above it.
    EXPECT_EQ(h->chHistory->Scale().axis.top, 60);
    EXPECT_TRUE(h->chHistory->Scale().lineAbove);

    // February has no session, January has the first: the arrow goes no further.
    ASSERT_TRUE(h->btnEarlier->isEnabled());
    h->btnEarlier->click();
    EXPECT_EQ(h->lCycle->text(), "02/01/2026 - 02/28/2026");
    EXPECT_EQ(h->tvSessions->rowCount(), 0);
    EXPECT_EQ(h->chHistory->Note(), "No sessions in this cycle.");
    EXPECT_TRUE(h->btnEarlier->isEnabled());
    h->btnEarlier->click();
    EXPECT_EQ(h->lCycle->text(), "01/01/2026 - 01/31/2026");
    EXPECT_EQ(h->tvSessions->rowCount(), 1);
    EXPECT_EQ(h->chHistory->Note(), "");
    EXPECT_FALSE(h->btnEarlier->isEnabled());
    EXPECT_TRUE(h->btnLater->isEnabled());
}

TEST_F(HistoryWindowTest, TheCyclesAreNamedByTheirMonthsWithTheYears) {
    TfrmTimer w;
    Provider(w);
    // Cycles from the 15th: on 7 March 2026 the current one runs from 15 February to 14 March.
    w.seCycleDay->setValue(15);
    w.btnSave->click();
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    h->cbHistoryView->setCurrentIndex(1);
    const std::vector<UsageBar>& bars = h->chHistory->Bars();
    ASSERT_EQ(bars.size(), 12u);
    EXPECT_EQ(bars[0].label, "Mar\u2013Apr\n2025");
    EXPECT_EQ(bars[9].label, "Dec\u2013Jan\n2025\u201326");
    EXPECT_EQ(bars[11].label, "Feb\u2013Mar\n2026");

    // Calendar months: each bar is its month.
    w.seCycleDay->setValue(1);
    w.btnSave->click();
    ASSERT_EQ(Open(w), h);
    ASSERT_EQ(h->chHistory->Bars().size(), 12u);
    EXPECT_EQ(h->chHistory->Bars()[0].label, "Apr\n2025");
    EXPECT_EQ(h->chHistory->Bars()[11].label, "Mar\n2026");
}

TEST_F(HistoryWindowTest, DaysWhereSomeSessionsCountedNoBytesAreMarked) {
    const DateTime march = EncodeDate(2026, 3, 1);
    Row("Dial Net", march + 2, 8, H(1), 400'000'000);
    Row("Dial Net", march + 3, 8, H(1)); // a method that counts no bytes
    Row("Dial Net", march + 4, 8, H(1), 100'000'000);
    Row("Dial Net", march + 4, 9, H(1));
    TfrmTimer w;
    Provider(w);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    h->cbMeasure->setCurrentIndex(1);
    const std::vector<UsageBar>* bars = &h->chHistory->Bars();
    EXPECT_EQ((*bars)[1].label, "2") << "a day without sessions";
    EXPECT_EQ((*bars)[2].label, "3");
    EXPECT_EQ((*bars)[3].label, "4*");
    EXPECT_EQ((*bars)[4].label, "5*");
    EXPECT_EQ((*bars)[4].Sum(), 100'000'000);
    EXPECT_EQ(h->chHistory->LabelStep(), 1) << "every day keeps its label at the default size";
    // Time is counted by every method.
    h->cbMeasure->setCurrentIndex(0);
    bars = &h->chHistory->Bars();
    EXPECT_EQ((*bars)[3].label, "4");
    EXPECT_EQ((*bars)[4].label, "5");
    // The cycle of them is marked too.
    h->cbMeasure->setCurrentIndex(1);
    h->cbHistoryView->setCurrentIndex(1);
    EXPECT_EQ(h->chHistory->Bars()[11].label, "Mar*\n2026");
    EXPECT_EQ(h->chHistory->Bars()[10].label, "Feb\n2026");
}

TEST_F(HistoryWindowTest, TheDefaultSizeShowsTenSessionsAndNamesEveryCycle) {
    const DateTime march = EncodeDate(2026, 3, 1);
    for (int i = 0; i < 12; ++i)
        Row("Dial Net", march + i % 6, 8 + i, 60);
    TfrmTimer w;
    Provider(w);
    w.seCycleDay->setValue(15);
    w.btnSave->click();
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    QTableWidget* table = h->tvSessions;
    ASSERT_EQ(table->rowCount(), 12);
    EXPECT_LE(table->rowViewportPosition(9) + table->rowHeight(9), table->viewport()->height())
        << "the table is " << table->height() << " pixels high in a window of " << h->height();
    // The widest names of the Cycles view, one under each bar.
    h->cbHistoryView->setCurrentIndex(1);
    ASSERT_EQ(h->chHistory->Bars().size(), 12u);
    EXPECT_EQ(h->chHistory->Bars()[9].label, "Dec\u2013Jan\n2025\u201326");
    EXPECT_EQ(h->chHistory->LabelStep(), 1)
        << "the chart is " << h->chHistory->width() << " pixels wide";
}

// An existing file is replaced only when the user says so: "No" goes back to the file dialog,
// "Cancel" leaves it. A file whose mode says read-only is refused without the question, root or
// not, and stays as it was. A text cell that a spreadsheet would run as a formula is written as
// text.
TEST_F(HistoryWindowTest, AnExportAsksBeforeReplacingAndNeverReplacesAReadOnlyFile) {
    SessionRow formula;
    formula.provider = "Dial Net";
    formula.start = MomentOf(EncodeDate(2026, 3, 3) + EncodeTime(8, 0, 0));
    formula.end = MomentOf(EncodeDate(2026, 3, 3) + EncodeTime(8, 1, 0));
    formula.seconds = formula.outsidePeak = 60;
    formula.charges = "=HYPERLINK(\"http://x\")";
    ASSERT_TRUE(AppendSessionRow(formula));
    TfrmTimer w;
    Provider(w);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    FileDialogScript dialog;
    const std::string exported =
        "provider,start,end,seconds,inside_peak,outside_peak,rx,tx,charges,ended\r\n"
        "Dial Net,2026-03-03T08:00:00+00:00,2026-03-03T08:01:00+00:00,60,0,60,,,"
        "\"'=HYPERLINK(\"\"http://x\"\")\",stopped\r\n";

    const auto file = home_ / "march.csv";
    std::ofstream(file) << "old";
    const auto confirms = [&] {
        return std::count_if(
            boxes_->shown.begin(), boxes_->shown.end(),
            [](const ModalScript::Shown& box) { return box.caption == "Confirm"; });
    };
    // No: the dialog comes again (and is cancelled here).
    dialog.Answer(QString::fromStdString(file.string()));
    boxes_->Answer(mrNo);
    h->btnExport->click();
    ASSERT_EQ(confirms(), 1);
    EXPECT_TRUE(boxes_->shown.back().text.contains(QString::fromStdString(file.string())));
    EXPECT_TRUE(boxes_->shown.back().text.contains("already exists"))
        << boxes_->shown.back().text.toStdString();
    EXPECT_EQ(dialog.shown.size(), 2u);
    EXPECT_EQ(test::ReadBytes(file), "old");
    // Cancel: nothing more is asked.
    dialog.Answer(QString::fromStdString(file.string()));
    boxes_->Answer(mrCancel);
    h->btnExport->click();
    EXPECT_EQ(confirms(), 2);
    EXPECT_EQ(dialog.shown.size(), 3u);
    EXPECT_EQ(test::ReadBytes(file), "old");
    // Yes.
    dialog.Answer(QString::fromStdString(file.string()));
    boxes_->Answer(mrYes);
    h->btnExport->click();
    EXPECT_EQ(confirms(), 3);
    EXPECT_EQ(test::ReadBytes(file), exported);
    // A new file is not asked about.
    dialog.Answer(QString::fromStdString((home_ / "new.csv").string()));
    h->btnExport->click();
    EXPECT_EQ(confirms(), 3);
    EXPECT_EQ(test::ReadBytes(home_ / "new.csv"), exported);

    // Read-only: refused with a message that says so, nothing asked.
    const auto readOnly = home_ / "read-only.csv";
    std::ofstream(readOnly) << "keep";
    std::filesystem::permissions(readOnly, std::filesystem::perms(0444));
    const std::size_t boxes = boxes_->shown.size();
    dialog.Answer(QString::fromStdString(readOnly.string()));
    h->btnExport->click();
    ASSERT_EQ(boxes_->shown.size(), boxes + 1);
    EXPECT_EQ(boxes_->shown.back().caption, "Error");
    EXPECT_TRUE(boxes_->shown.back().text.contains("read-only"))
        << boxes_->shown.back().text.toStdString();
    EXPECT_EQ(test::ReadBytes(readOnly), "keep");
    EXPECT_EQ(std::filesystem::status(readOnly).permissions(), std::filesystem::perms(0444));
}

TEST_F(HistoryWindowTest, AStoreWithoutHistoryShowsAnEmptyCycle) {
    TfrmTimer w;
    Provider(w);
    THistoryWindow* h = Open(w);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Heights(*h), std::vector<double>(31, 0));
    EXPECT_EQ(h->tvSessions->rowCount(), 0);
    EXPECT_FALSE(h->btnExport->isEnabled());
    EXPECT_EQ(h->chHistory->Note(), "No sessions in this cycle.");
    EXPECT_FALSE(h->btnEarlier->isEnabled()) << "there is nothing earlier";
    h->cbHistoryView->setCurrentIndex(1);
    EXPECT_EQ(h->chHistory->Note(), "No sessions in these twelve cycles.");
}

} // namespace
} // namespace quorvane
