// Every page on a real X display, filled as a user's provider fills it, in en_US and de_DE:
// nothing reaches outside its page, no two controls overlap, no text or sentence is cut, and no
// hidden control leaves a gap. Each page's
// picture is written to $QUORVANE_SCREENSHOTS for a person to look at.
#include "app/history_chart.h"
#include "app/history_window.h"
#include "app/timer.h"
#include "settings/history.h"
#include "tests/app/window_test.h"
#include "watch/net_interfaces.h"
#include "watch/windows_list.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

class PageLayout : public test::WindowTest, public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        const auto regional = RegionalSettings::FromLocale(GetParam());
        ASSERT_TRUE(regional) << GetParam();
        Regional() = *regional;
        QLocale::setDefault(QLocale(QString::fromLatin1(GetParam()).section('.', 0, 0)));
    }
    void TearDown() override {
        QLocale::setDefault(QLocale::c());
        WindowTest::TearDown();
    }

    // The window's own controls on the page, not the parts inside a spin box or combo box.
    static std::vector<QWidget*> Own(TfrmTimer& w, QWidget* page) {
        std::vector<QWidget*> own;
        for (QWidget* widget : page->findChildren<QWidget*>()) {
            if (std::find(w.components.begin(), w.components.end(), widget) !=
                    w.components.end() ||
                widget == w.lCaptionNote || widget == w.lPortDevice || widget == w.lWaylandNote ||
                widget == w.lInterfaceNote || widget == w.lDataAllowanceNote)
                own.push_back(widget);
        }
        return own;
    }
    // Those a user sees.
    static std::vector<QWidget*> Shown(TfrmTimer& w, QWidget* page) {
        std::vector<QWidget*> shown;
        for (QWidget* widget : Own(w, page))
            if (widget->isVisibleTo(page))
                shown.push_back(widget);
        return shown;
    }

    static void ExpectLaidOut(TfrmTimer& w, QWidget* page, const QString& shot) {
        const std::vector<QWidget*> shown = Shown(w, page);
        for (QWidget* widget : shown) {
            SCOPED_TRACE(widget->objectName().toStdString());
            const QRect box(widget->mapTo(page, QPoint(0, 0)), widget->size());
            EXPECT_TRUE(page->rect().contains(box)) << "outside the page";
            const auto* label = qobject_cast<QLabel*>(widget);
            if (label && label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "text cut";
                // The page's sentences are whole.
                const QString text = label->text().trimmed();
                EXPECT_TRUE(text.endsWith('.') || text.endsWith('?') || text.endsWith('!'))
                    << "a sentence ends mid-way: " << text.toStdString();
            } else if (label || qobject_cast<QAbstractButton*>(widget) ||
                       qobject_cast<QComboBox*>(widget) || qobject_cast<QSpinBox*>(widget)) {
                EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << "text cut";
                EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << "text cut";
            }
            for (QWidget* other : shown) {
                if (other != widget && other->parentWidget() == widget->parentWidget()) {
                    EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
                        << "overlaps " << other->objectName().toStdString();
                }
            }
        }
        // A control that the options hide keeps its room only where nothing shown comes below
        // it: room kept above a shown control is a gap on the page.
        for (QWidget* hidden : Own(w, page)) {
            if (hidden->isVisibleTo(page) || !hidden->sizePolicy().retainSizeWhenHidden() ||
                !hidden->parentWidget()->isVisibleTo(page) || hidden->geometry().isEmpty())
                continue;
            const QRect room = hidden->geometry();
            for (QWidget* widget : shown) {
                const QRect box = widget->geometry();
                EXPECT_FALSE(widget->parentWidget() == hidden->parentWidget() &&
                             box.top() > room.bottom() && box.left() <= room.right() &&
                             room.left() <= box.right())
                    << hidden->objectName().toStdString() << ", hidden, keeps "
                    << room.height() << " px above " << widget->objectName().toStdString();
            }
        }
        if (const char* folder = std::getenv("QUORVANE_SCREENSHOTS")) {
            QDir().mkpath(folder);
            EXPECT_TRUE(w.grab().save(QDir(folder).filePath(shot + ".png")));
        }
    }
};

TEST_P(PageLayout, NothingCutOrOverlappingAtTheFixedSize) {
    clock_.Set(EncodeDate(2026, 12, 10) + EncodeTime(21, 5, 9));
    FixedWindowTitles desktop;
    desktop.readable = false; // the note beside the seek text shows too
    FakeNetInterfaces interfaces;
    interfaces.Add("enx0a1b2c3d4e5f");
    TfrmTimer w;
    w.SetWindowTitleSource(desktop);
    w.SetInterfaceSource(interfaces);
    w.OnRestore();
    // The longest texts a provider brings, with every panel shown.
    w.cbProvider->setEditText("Northern Lights Dial-Up Internet Services");
    w.cbProv->setEditText("Northern Lights Dial-Up");
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText("999");
    w.ePrice->setText(QString::fromStdString(FormatAmount(1234567.5)));
    w.seCycleDay->setValue(31);
    w.eWavAlarm->setText("/home/someone/sounds/free hours are used up.wav");
    w.ckEnablePeak->setChecked(true);
    w.eStart->setText("08:00:00 AM");
    w.eStop->setText("06:00:00 PM");
    w.ckEnableLogging->setChecked(true);
    w.eLogFile->setText("/home/someone/Documents/dial-up sessions.TXT");
    w.cbMinimizedTime->setCurrentIndex(1);
    w.eInterface->setEditText("Mobile Broadband Connection");
    w.eDataAllowance->setText("999999999999");
    w.ckDataRxOnly->setChecked(true);
    w.Timers = {false, 123 * 3600, 456 * 3600, 7 * 3600, 999 * 3600 + 59 * 60 + 59};
    w.Data = {{123456789, 1234567}, {999499999999, 99999999999}};
    w.sbManual->click();
    w.tOnLineTimer();

    const QString locale = QString::fromLatin1(GetParam()).section('.', 0, 0);
    for (int page = 0; page < w.nbMain->count(); ++page) {
        w.nbMain->setCurrentIndex(page);
        const QString name = w.nbMain->currentWidget()->objectName();
        SCOPED_TRACE(name.toStdString());
        if (name == "Detection") {
            // The Network Interface method last: the Timer page then shows the data read-outs.
            for (int method : {kTcpIp, kComPort, kNetworkInterface}) {
                w.cbDetection->setCurrentIndex(method);
                QCoreApplication::processEvents();
                ExpectLaidOut(w, w.nbMain->currentWidget(),
                              QStringLiteral("%1-Detection-%2").arg(locale).arg(method));
            }
            continue;
        }
        QCoreApplication::processEvents();
        ExpectLaidOut(w, w.nbMain->currentWidget(),
                      QStringLiteral("%1-%2").arg(locale, QString(name).remove(' ')));
    }
    w.tOnLine->stop();
}

TEST_P(PageLayout, TheHistoryWindowReadsWhole) {
    clock_.Set(EncodeDate(2026, 12, 10) + EncodeTime(21, 5, 9));
    // A cycle with a session most days, one of them with data.
    for (int day = 1; day <= 10; ++day) {
        SessionRow row;
        row.provider = "Northern Lights Dial-Up Internet Services";
        row.start = MomentOf(EncodeDate(2026, 12, day) + EncodeTime(8, 0, 0));
        row.end = MomentOf(EncodeDate(2026, 12, day) + EncodeTime(8 + day % 4, 0, 0));
        row.seconds = (day % 4) * 3600;
        row.insidePeak = row.seconds / 3;
        row.outsidePeak = row.seconds - row.insidePeak;
        if (day == 3)
            row.rx = 1234567890;
        row.charges = FormatAmount(1234.5);
        ASSERT_TRUE(AppendSessionRow(row));
    }
    TfrmTimer w;
    w.cbProvider->setEditText("Northern Lights Dial-Up Internet Services");
    w.seCycleDay->setValue(1);
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText("30");
    w.ckEnablePeak->setChecked(true);
    w.btnSave->click();
    w.Timers.TotalTime = 20 * 3600;
    w.btnHistory->click();
    auto* h = w.findChild<THistoryWindow*>();
    ASSERT_NE(h, nullptr);
    h->resize(h->sizeHint());
    QCoreApplication::processEvents();

    const QString locale = QString::fromLatin1(GetParam()).section('.', 0, 0);
    for (int view = 0; view < 2; ++view) {
        h->cbHistoryView->setCurrentIndex(view);
        QCoreApplication::processEvents();
        SCOPED_TRACE(view);
        const std::vector<QWidget*> shown = {h->btnEarlier, h->lCycle,    h->btnLater,
                                             h->cbHistoryView, h->cbMeasure, h->chHistory,
                                             h->lProjection,   h->tvSessions, h->btnExport};
        for (QWidget* widget : shown) {
            SCOPED_TRACE(widget->objectName().toStdString());
            EXPECT_TRUE(h->rect().contains(widget->geometry())) << "outside the window";
            EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << "text cut";
            EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << "text cut";
            for (QWidget* other : shown)
                EXPECT_TRUE(other == widget || !widget->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
        }
        EXPECT_FALSE(h->lProjection->text().isEmpty() && view == 0);
        if (const char* folder = std::getenv("QUORVANE_SCREENSHOTS")) {
            QDir().mkpath(folder);
            EXPECT_TRUE(h->grab().save(
                QDir(folder).filePath(QStringLiteral("%1-History-%2").arg(locale).arg(view) +
                                      QStringLiteral(".png"))));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, PageLayout, testing::Values("en_US.UTF-8", "de_DE.UTF-8"),
                         [](const auto& info) { return std::string(info.param).substr(0, 5); });

} // namespace
