// Sessions on the real window: the Manual button, Override, watching with each method, the icon
// rules, the session tick's read-outs on a moved clock, the day change, start-up toggles and the
// close of the window, the COM Port method on a pseudo-terminal held by a second process, and the
// seek text's list. Window captions come from a fixed list here; the X11 scan itself is tested
// on Xvfb with real windows.
#include "app/messages.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/regional.h"
#include "core/store_folder.h"
#include "serial/comm32.h"
#include "serial/posix_port.h"
#include "serial/serial_support.h"
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "settings/store.h"
#include "support/files.h"
#include "tests/app/window_test.h"
#include "watch/dialup_profiles.h"
#include "watch/windows_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <sys/file.h>

using namespace quorvane;

namespace {

// A store damaged by hand while the program runs, until the object ends: its table of values
// is pointed at a page of the keys, so every write of a value fails with an error while keys
// are still found; then it is put right. The edits go through a connection of their own, as a
// hand edit would.
class DamagedValues {
public:
    explicit DamagedValues(const std::filesystem::path& database) {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        db_.reset(raw);
        EXPECT_EQ(rc, SQLITE_OK) << database;
        root_ = Number("SELECT rootpage FROM sqlite_schema WHERE name = 'vals'");
        const int keysIndex =
            Number("SELECT rootpage FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'keys'");
        EXPECT_GT(root_, 0);
        EXPECT_GT(keysIndex, 0);
        PointValuesAt(keysIndex);
    }
    ~DamagedValues() { PointValuesAt(root_); }
    DamagedValues(const DamagedValues&) = delete;
    DamagedValues& operator=(const DamagedValues&) = delete;

private:
    int Number(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr);
        const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw,
                                                                              &sqlite3_finalize);
        return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int(raw, 0) : -1;
    }
    // A new schema version, so that the running program reads the changed schema.
    void PointValuesAt(int page) {
        const std::string sql =
            "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET rootpage = " +
            std::to_string(page) + " WHERE name = 'vals'; PRAGMA schema_version = " +
            std::to_string(Number("PRAGMA schema_version") + 1) + "; PRAGMA writable_schema = RESET;";
        EXPECT_EQ(sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_.get());
    }

    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db_{nullptr, &sqlite3_close};
    int root_ = -1;
};

class Sessions : public test::WindowTest {
protected:
    // A provider that logs its sessions, with the method given.
    void Provider(TfrmTimer& w, int method) {
        w.cbProvider->setEditText(QStringLiteral("Dial Net"));
        w.cbDetection->setCurrentIndex(method);
        w.ckEnableLogging->setChecked(true);
        w.eLogFile->setText(QString::fromStdString(Log().string()));
        w.cbProv->setEditText(QStringLiteral("MyISP"));
    }
    std::filesystem::path Log() const { return home_ / "sessions.txt"; }
    // A manual session of "Dial Net" (Today 600 s, Total Time 5000 s) started on the clock set to
    // kBeforeMidnight, ticked up to 23:59:59.
    const DateTime kBeforeMidnight = EncodeDate(2026, 3, 7) + EncodeTime(23, 59, 50);
    void SessionToMidnight(TfrmTimer& w) {
        Provider(w, 2);
        w.Timers = {false, 0, 0, 600, 5000};
        w.sbManual->click();
        Tick(w, 0);
        Tick(w, 9);
    }
    // A provider picked from the list, as the user picks it.
    static void Pick(TfrmTimer& w, const char* name) {
        const int index = w.cbProvider->findText(QString::fromLatin1(name));
        ASSERT_GE(index, 0) << name;
        w.cbProvider->setCurrentIndex(index);
        emit w.cbProvider->activated(index);
    }
    int LogLines() const {
        const std::string text = test::ReadBytes(Log());
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    static std::int32_t Stored(const char* total) {
        Variant value;
        ReadValueByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + total, vkInteger,
                        value);
        return value.isEmpty() ? -1 : value.toInt();
    }
};

TEST_F(Sessions, AManualSessionIsTimedSavedAndLogged) {
    TfrmTimer w;
    Provider(w, 2);
    w.Timers = {false, 0, 0, 100, 1000};
    w.sbManual->click();
    EXPECT_TRUE(w.tOnLine->isActive());
    EXPECT_EQ(Tag(w.tOnLine), 1);
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_FALSE(w.sbWatching->isEnabled());
    EXPECT_TRUE(w.sbOverRide->isEnabled());
    EXPECT_TRUE(w.sbManual->isEnabled());
    EXPECT_EQ(w.lElapsed->palette().color(QPalette::WindowText), QColor(0, 255, 0));

    Tick(w, 1);
    EXPECT_EQ(Tag(w.tOnLine), 0);
    EXPECT_EQ(w.lStart->text(), "10:00:01 AM");
    EXPECT_EQ(w.lCurrent->text(), w.lStart->text());
    EXPECT_EQ(w.lElapsed->text(), "000:00:00");
    EXPECT_EQ(w.lToday->text(), "000:01:40");
    Tick(w, 5); // a stall of five seconds loses nothing
    EXPECT_EQ(w.lElapsed->text(), "000:00:05");
    EXPECT_EQ(w.lToday->text(), "000:01:45");
    EXPECT_EQ(w.lTotalTime->text(), "000:16:45");
    EXPECT_EQ(w.lStart->text(), "10:00:01 AM");
    EXPECT_EQ(w.ApplicationTitle(), "E: 000:00:05");

    w.sbManual->click(); // released: the session ends
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_FALSE(w.sbOverRide->isEnabled());
    EXPECT_EQ(w.lElapsed->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(Stored("Today"), 105);
    EXPECT_EQ(Stored("TotalTime"), 1005);
    const std::string log = test::ReadBytes(Log());
    EXPECT_EQ(LogLines(), 1);
    EXPECT_NE(log.find("  Total: 000:16:45  Charges: "), std::string::npos) << log;
}

TEST_F(Sessions, StopSessionWithoutASessionStillSavesAndLogs) {
    TfrmTimer w;
    Provider(w, 0);
    w.Timers.Today = 42;
    w.StopSession();
    EXPECT_EQ(Stored("Today"), 42);
    EXPECT_EQ(LogLines(), 1);
    EXPECT_TRUE(w.sbWatching->isEnabled());
    EXPECT_FALSE(w.sbManual->isEnabled());
}

TEST_F(Sessions, OverrideInManualModeStopsOnceAndKeepsTheButtonDown) {
    TfrmTimer w;
    Provider(w, 2);
    w.ckCloseOnDisconnect->setChecked(true);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 3);
    w.sbOverRide->click();
    EXPECT_FALSE(w.ckCloseOnDisconnect->isChecked()); // so Override never ends the program
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_TRUE(w.sbManual->isChecked());
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_EQ(LogLines(), 1);
    EXPECT_EQ(Stored("Today"), 3);

    w.sbManual->click(); // released afterwards: one more stop
    EXPECT_EQ(LogLines(), 2);
}

TEST_F(Sessions, OverrideWhileWatchingLeavesWatchingOffButTheButtonDown) {
    FixedWindowTitles desktop;
    desktop.titles = {{1, "Connected to MyISP"}};
    TfrmTimer w;
    w.SetWindowTitleSource(desktop);
    Provider(w, 0);
    w.sbWatching->click();
    ASSERT_TRUE(w.tWatching->isActive());
    w.tWatchingTimer();
    ASSERT_TRUE(w.tOnLine->isActive());
    w.sbOverRide->click();
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_FALSE(w.tWatching->isActive());
    EXPECT_TRUE(w.sbWatching->isChecked());
    EXPECT_EQ(LogLines(), 1);
    for (QWidget* locked : {static_cast<QWidget*>(w.btnSave), static_cast<QWidget*>(w.sbNext),
                            static_cast<QWidget*>(w.AboutUs)})
        EXPECT_FALSE(locked->isEnabled()) << locked->objectName().toStdString();
    w.sbWatching->click(); // released
    w.sbWatching->click(); // and pressed again: watching resumes
    EXPECT_TRUE(w.tWatching->isActive());
}

TEST_F(Sessions, ACaptionSessionEndsWithItsWindowAndTheNextWindowStartsANewOne) {
    FixedWindowTitles desktop;
    TfrmTimer w;
    w.SetWindowTitleSource(desktop);
    Provider(w, 0);
    w.sbWatching->click();
    const auto watch = [&](std::vector<WindowTitle> titles) {
        desktop.titles = std::move(titles);
        w.tWatchingTimer();
        return w.tOnLine->isActive();
    };
    EXPECT_FALSE(watch({{1, "MyISP - Connected"}, {2, "Connected to MyISP (2)"}}));
    EXPECT_TRUE(watch({{3, "Editor"}, {1, "Connected to MyISP"}, {4, "MYISP"}}));
    EXPECT_EQ(w.ActivePageName(), "Timer");
    Tick(w, 1);
    Tick(w, 10);
    EXPECT_TRUE(watch({{1, "Connected to MyISP"}})); // still online: nothing changes
    EXPECT_EQ(Tag(w.tOnLine), 0);
    EXPECT_FALSE(watch({}));
    EXPECT_EQ(Stored("Today"), 10);
    EXPECT_EQ(LogLines(), 1);
    EXPECT_TRUE(watch({{5, "myisp"}}));
    EXPECT_EQ(Tag(w.tOnLine), 1); // a new session: its own first tick
}

// Manual detection has no watching. However Manual comes while watching is on, watching ends
// first, with the session it started (saved and logged once), and the toolbar is the user's
// again; then the Manual button times a session as after a fresh start.
TEST_F(Sessions, ManualComingWhileWatchingEndsWatchingFirst) {
    const std::pair<const char*, std::function<void(TfrmTimer&)>> ways[] = {
        {"the Detection page", [](TfrmTimer& w) { w.cbDetection->setCurrentIndex(2); }},
        {"a Manual provider picked", [](TfrmTimer& w) { Pick(w, "Hand Line"); }},
        {"a Delete that loads the Manual default",
         [this](TfrmTimer& w) {
             // Only the tray's Watching entry reaches watching while the question is up.
             boxes_->whileShown = [&w](const ModalScript::Shown& box) {
                 if (box.caption == "Confirm")
                     w.sbWatching->click();
             };
             boxes_->Answer(mrYes);
             w.btnDeleteClick();
             boxes_->whileShown = nullptr;
         }},
    };
    for (const auto& [way, toManual] : ways) {
        SCOPED_TRACE(way);
        std::filesystem::remove(Log());
        const auto store = [&](const char* name, int method, bool makeDefault) {
            ASSERT_TRUE(SaveProfile(name,
                                    {{"cbDetection", Variant(method), vkInteger},
                                     {"eProv", Variant(std::string("MyISP")), vkString},
                                     {"ckEnableLogging", Variant(true), vkBool},
                                     {"eLogFile", Variant(Log().string()), vkString}},
                                    {}, makeDefault));
        };
        store("Dial Net", 0, false);
        store("Hand Line", 2, true);
        FixedWindowTitles desktop;
        desktop.titles = {{1, "Connected to MyISP"}};
        TfrmTimer w;
        w.SetWindowTitleSource(desktop);
        Pick(w, "Dial Net");
        const bool deleting = std::string(way).starts_with("a Delete");
        if (!deleting) {
            w.sbWatching->click();
            w.tWatchingTimer();
            ASSERT_TRUE(w.tOnLine->isActive());
            Tick(w, 1);
            Tick(w, 20);
        }
        toManual(w);
        EXPECT_EQ(w.DetectionMethod(), 2);
        EXPECT_FALSE(w.tWatching->isActive());
        EXPECT_FALSE(w.sbWatching->isChecked());
        EXPECT_FALSE(w.sbWatching->isEnabled());
        EXPECT_FALSE(w.tOnLine->isActive());
        for (QToolButton* free : {w.sbPrevious, w.sbNext, w.sbManual})
            EXPECT_TRUE(free->isEnabled()) << free->objectName().toStdString();
        EXPECT_FALSE(w.sbManual->isChecked());
        if (!deleting) {
            EXPECT_EQ(Stored("Today"), 20);
            EXPECT_EQ(LogLines(), 1);
        }

        w.sbManual->click();
        Tick(w, 1);
        Tick(w, 5);
        EXPECT_TRUE(w.tOnLine->isActive());
        EXPECT_EQ(w.lElapsed->text(), "000:00:05");
        w.sbManual->click();
        EXPECT_EQ(LogLines(), deleting ? 1 : 2);
    }
}

// A session is the provider's it started with. Picking another provider while it runs ends it
// with its own provider first (saved and logged), then loads the one picked; its own provider
// cannot be deleted while it runs, another can. Each order of events, with both providers'
// stored totals and log lines afterwards.
struct ProviderRecord {
    std::int32_t today, total; // -1: no such provider stored
    int logLines;
    bool operator==(const ProviderRecord&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ProviderRecord& r) {
        return out << "Today " << r.today << ", Total " << r.total << ", " << r.logLines
                   << " log lines";
    }
};

TEST_F(Sessions, ASessionStaysWithItsProviderWhenAnotherIsPickedOrDeleted) {
    using Totals = ProviderRecord;
    using Step = std::function<void(TfrmTimer&)>;
    const Step start = [this](TfrmTimer& w) {
        w.sbManual->click();
        Tick(w, 1); // the first tick
    };
    const auto run = [this](int seconds) {
        return Step([this, seconds](TfrmTimer& w) { Tick(w, seconds); });
    };
    const Step stop = [](TfrmTimer& w) { w.sbManual->click(); };
    const auto pick = [](const char* name) {
        return Step([name](TfrmTimer& w) { Pick(w, name); });
    };
    const auto remove = [this](const char* name) {
        return Step([this, name](TfrmTimer& w) {
            w.cbProvider->setEditText(QString::fromLatin1(name)); // typed, not picked
            boxes_->Answer(mrYes);
            w.btnDelete->click();
        });
    };
    struct Case {
        const char* events;
        std::vector<Step> steps;
        Totals alpha, beta;
    };
    const Case cases[] = {
        {"Alpha's session, Beta picked",
         {start, run(15), pick("Beta")},
         {1015, 5015, 1},
         {50000, 90000, 0}},
        {"Alpha's session, Beta picked, Beta's session",
         {start, run(15), pick("Beta"), start, run(10), stop},
         {1015, 5015, 1},
         {50010, 90010, 1}},
        {"Alpha's session, Beta picked and Alpha again, Alpha's session",
         {start, run(15), pick("Beta"), pick("Alpha"), start, run(5), stop},
         {1020, 5020, 2},
         {50000, 90000, 0}},
        {"Alpha's session, Alpha deleted",
         {start, run(15), remove("Alpha"), run(5), stop},
         {1020, 5020, 1},
         {50000, 90000, 0}},
        {"Alpha's session, Beta deleted",
         {start, run(15), remove("Beta"), run(5), stop},
         {1020, 5020, 1},
         {-1, -1, 0}},
    };
    const auto stored = [this](const char* name) {
        ProfileTotals totals{-1, -1, -1, -1};
        if (ProviderExists(name))
            LoadProfileTotals(name, totals);
        const std::string log = test::ReadBytes(home_ / (std::string(name) + ".log"));
        return Totals{totals[0], totals[3], static_cast<int>(std::count(log.begin(), log.end(), '\n'))};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.events);
        boxes_->shown.clear();
        for (const auto& [name, today, total, makeDefault] :
             {std::tuple{"Alpha", 1000, 5000, true}, std::tuple{"Beta", 50000, 90000, false}}) {
            std::filesystem::remove(home_ / (std::string(name) + ".log"));
            ASSERT_TRUE(SaveProfile(
                name,
                {{"cbDetection", Variant(2), vkInteger},
                 {"ckEnableLogging", Variant(true), vkBool},
                 {"eLogFile", Variant((home_ / (std::string(name) + ".log")).string()), vkString},
                 LastSaveDateSetting(DateOf(Now()))},
                {today, 0, 0, total}, makeDefault));
        }
        TfrmTimer w;
        for (const Step& step : c.steps)
            step(w);
        EXPECT_FALSE(w.tOnLine->isActive());
        EXPECT_EQ(stored("Alpha"), c.alpha);
        EXPECT_EQ(stored("Beta"), c.beta);
    }
}

// A restore puts the focus in the provider box, and Manual then moves it to the Timer page: the
// box leaving with the name the window holds is no pick, so the session it starts runs on. A
// session stopped at its first tick counted nothing, and leaves no row in the history.
TEST_F(Sessions, TheProviderBoxLeftWithItsOwnNameIsNoPick) {
    ASSERT_TRUE(SaveProfile("Dial Net", {{"cbDetection", Variant(2), vkInteger}},
                            {100, 0, 0, 1000}, true));
    TfrmTimer w;
    w.ePrice->setText(QStringLiteral("2.50")); // an edit not saved
    w.OnRestore();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.SetActivePage(QStringLiteral("Provider"));
    w.cbProvider->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(w.cbProvider->hasFocus());

    QTest::mouseClick(w.sbManual, Qt::LeftButton);
    for (int round = 0; round < 10; ++round)
        QCoreApplication::processEvents();
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_FALSE(w.cbProvider->hasFocus());
    EXPECT_TRUE(w.tOnLine->isActive()) << "the session goes on";
    EXPECT_TRUE(w.sbManual->isChecked());
    EXPECT_EQ(w.ePrice->text(), "2.50") << "nothing was loaded over the edit";

    Tick(w, 0); // the first tick, and the session stops on it
    QTest::mouseClick(w.sbManual, Qt::LeftButton);
    EXPECT_FALSE(w.tOnLine->isActive());
    std::string why;
    const auto history = UsageHistory::Open(&why);
    ASSERT_TRUE(history) << why;
    EXPECT_TRUE(history->LastSessions("Dial Net", 10).empty());

    w.sbManual->click();
    Tick(w, 0);
    Tick(w, 3);
    w.sbManual->click();
    const auto rows = UsageHistory::Open(&why)->LastSessions("Dial Net", 10);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].seconds, 3);
}

// The session's own provider is refused with a message, and the session runs on; deleting
// another leaves the session's provider shown.
TEST_F(Sessions, DeletingTheProviderOfARunningSessionIsRefused) {
    for (const char* name : {"Alpha", "Beta"})
        ASSERT_TRUE(SaveProfile(name, {{"cbDetection", Variant(2), vkInteger}}, {}, true));
    TfrmTimer w;
    Pick(w, "Alpha");
    w.sbManual->click();
    Tick(w, 1);
    boxes_->shown.clear();
    w.cbProvider->setEditText(QStringLiteral("ALPHA")); // the store ignores letter case
    w.btnDelete->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "A session with \"ALPHA\" is running. Stop the session "
                                     "before you delete \"ALPHA\".");
    EXPECT_TRUE(ProviderExists("Alpha"));
    EXPECT_TRUE(w.tOnLine->isActive());

    w.cbProvider->setEditText(QStringLiteral("Beta"));
    boxes_->Answer(mrYes);
    w.btnDelete->click();
    EXPECT_FALSE(ProviderExists("Beta"));
    EXPECT_TRUE(w.tOnLine->isActive());
    EXPECT_EQ(w.cbProvider->currentText(), "Alpha");
    EXPECT_EQ(w.cbProvider->count(), 1);
}

TEST_F(Sessions, TheLampFollowsTheSessionOrWatchingAsTheToggleSays) {
    struct Case {
        bool colouredForWatching;
        bool greenAfterWatchingOn, greenAfterStart, greenAfterStop, greenAfterWatchingOff;
    };
    for (const Case c :
         {Case{false, false, true, false, false}, Case{true, true, true, true, false}}) {
        FixedWindowTitles desktop;
        TfrmTimer w;
        w.SetWindowTitleSource(desktop);
        Provider(w, 0);
        w.ckColoredIconWatching->setChecked(c.colouredForWatching);
        w.SetStateIcon(1);
        const auto green = [&] {
            const QImage shown = w.windowIcon().pixmap(16, 16).toImage();
            const QRgb centre = shown.pixel(8, 8);
            return qGreen(centre) > qRed(centre);
        };
        w.sbWatching->click();
        EXPECT_EQ(green(), c.greenAfterWatchingOn) << c.colouredForWatching;
        desktop.titles = {{1, "Connected to MyISP"}};
        w.tWatchingTimer();
        EXPECT_EQ(green(), c.greenAfterStart) << c.colouredForWatching;
        desktop.titles.clear();
        w.tWatchingTimer();
        EXPECT_EQ(green(), c.greenAfterStop) << c.colouredForWatching;
        w.sbWatching->click();
        EXPECT_EQ(green(), c.greenAfterWatchingOff) << c.colouredForWatching;
    }
}

TEST_F(Sessions, AtMidnightTheOldDayIsSavedAndTodayStartsAgain) {
    clock_.Set(kBeforeMidnight);
    TfrmTimer w;
    SessionToMidnight(w);
    Tick(w, 1);                           // 00:00:00 of the next day
    EXPECT_EQ(Stored("Today"), 600 + 10); // the old day as it ended, saved at the change
    EXPECT_EQ(w.Timers.Today, 0);
    EXPECT_EQ(w.lElapsed->text(), "000:00:00");
    Tick(w, 10);
    EXPECT_EQ(w.lToday->text(), "000:00:10");
    EXPECT_EQ(w.Timers.TotalTime, 5000 + 20); // no drop
    EXPECT_EQ(w.lStart->text(), "11:59:50 PM");
}

// The old day's save at midnight fails with an error: one error box, no save tried by the ticks
// that come while it is up, and the first tick after it is answered saves the old day. The store
// is damaged by hand under the running window for the failure, and put right afterwards.
TEST_F(Sessions, AFailedMidnightSaveIsToldOnceAndTriedAgainAfterTheAnswer) {
    clock_.Set(kBeforeMidnight);
    TfrmTimer w;
    SessionToMidnight(w);
    ASSERT_TRUE(w.TransferProviderSettings(false, w.Timers));

    std::optional<DamagedValues> damage{std::in_place, home_ / "machine.db"};
    boxes_->whileShown = [&](const ModalScript::Shown&) {
        if (boxes_->shown.size() > 1)
            return;
        for (int second = 0; second < 3; ++second)
            Tick(w, 1);
    };
    Tick(w, 1); // 00:00:00 of the next day: the save fails
    boxes_->whileShown = nullptr;
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].caption, "Error");
    EXPECT_EQ(w.Timers.Today, 600 + 10) << "the ticks while the box was up did nothing";

    damage.reset();
    EXPECT_EQ(Stored("Today"), 600 + 9);
    Tick(w, 1); // 00:00:04: the day change again, now saved
    EXPECT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(Stored("Today"), 600 + 14);
    EXPECT_EQ(w.Timers.Today, 0);
    EXPECT_EQ(w.Timers.TotalTime, 5000 + 14);
}

TEST_F(Sessions, NoTimerSelectedForTheTaskbarMeansElapsed) {
    TfrmTimer w;
    Provider(w, 2);
    w.cbMinimizedTime->setCurrentIndex(-1);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 7);
    EXPECT_EQ(w.cbMinimizedTime->currentIndex(), 2);
    EXPECT_EQ(w.ApplicationTitle(), "E: 000:00:07");
    w.cbMinimizedTime->setCurrentIndex(0);
    w.UpdateMinimizedCaption();
    EXPECT_EQ(w.ApplicationTitle(), "T: " + w.lToday->text());
}

// Providers stored with their toggles; the window's start-up acts on the default one.
TEST_F(Sessions, StartUpTogglesActOnlyWithTheirMethod) {
    struct Case {
        int method;
        bool watchOnRun, startWhenRun;
        bool watching, session;
    };
    const Case cases[] = {
        {0, true, true, true, false},   {1, true, false, true, false},
        {2, true, false, false, false}, {2, true, true, false, true},
        {0, false, true, false, false},
    };
    for (const Case& c : cases) {
        {
            TfrmTimer setup;
            setup.cbProvider->setEditText(QStringLiteral("Dial Net"));
            setup.cbDetection->setCurrentIndex(c.method);
            setup.ckWatchOnRun->setChecked(c.watchOnRun);
            setup.ckStartWhenRun->setChecked(c.startWhenRun);
            setup.ckSetAsDefault->setChecked(true);
            ASSERT_TRUE(setup.TransferProviderSettings(false, setup.Timers));
        }
        TfrmTimer w;
        EXPECT_EQ(w.tWatching->isActive(), c.watching) << c.method;
        EXPECT_EQ(w.sbWatching->isChecked(), c.watching) << c.method;
        EXPECT_EQ(w.tOnLine->isActive(), c.session) << c.method;
        w.tOnLine->stop();
    }
}

TEST_F(Sessions, ClosingTheWindowStopsTheSessionSavesLogsAndEnds) {
    TfrmTimer w;
    Provider(w, 2);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 30);
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_EQ(Stored("Today"), 30);
    EXPECT_EQ(LogLines(), 1);
}

TEST_F(Sessions, TheSeekTextsListIsTheStoresConnectionsThenPppPeersAndTheTextStays) {
    std::filesystem::create_directories(home_ / "peers");
    for (const char* peer : {"myisp", "Campus", ".hidden"})
        std::ofstream(home_ / "peers" / peer) << "115200 noauth defaultroute\n";
    const test::ScopedEnv peers("QUORVANE_PPP_PEERS", (home_ / "peers").string());
    for (const char* connection : {"Work Line", "MyISP"})
        ASSERT_TRUE(RegistryKey::Open(HKEY_CURRENT_USER,
                                      std::string(kDialUpProfilesKey) + connection, true));
    TfrmTimer w;
    // Read when the user comes to the list, not with the start.
    EXPECT_EQ(w.cbProv->count(), 0);
    w.cbProv->setEditText(QStringLiteral("Not Listed"));
    w.cbProv->showPopup();
    QStringList items;
    for (int i = 0; i < w.cbProv->count(); ++i)
        items << w.cbProv->itemText(i);
    w.cbProv->hidePopup();
    EXPECT_EQ(items, QStringList({"MyISP", "Work Line", "Campus"}));
    EXPECT_EQ(w.cbProv->currentText(), "Not Listed");
}

// The COM Port method on a pseudo-terminal that the store's ports/COM3 names, with lock files in
// a folder of the test's own. A dialer is a second process holding the port.
class ComPortSessions : public Sessions {
protected:
    void SetUp() override {
        Sessions::SetUp();
        std::filesystem::create_directories(home_ / "ports");
        std::filesystem::create_directories(home_ / "lock");
        std::filesystem::create_symlink(pty_.SlavePath(), home_ / "ports" / "COM3");
        // A link to nothing: a port number with no device behind it.
        std::filesystem::create_symlink(home_ / "no-such-device", home_ / "ports" / "COM4");
        lockDir_.emplace("QUORVANE_LOCK_DIR", (home_ / "lock").string());
    }
    void TearDown() override {
        lockDir_.reset();
        Sessions::TearDown();
    }

    // A provider watching COM`port`.
    void Watch(TfrmTimer& w, int port) {
        Provider(w, 1);
        w.seCOMPort->setValue(port);
        w.sbWatching->click();
    }
    // One watching tick; whether a session runs afterwards.
    static bool Probe(TfrmTimer& w) {
        w.tWatchingTimer();
        return w.tOnLine->isActive();
    }
    // The port as the probe leaves it: closed, its threads ended, no lock file of ours, and
    // free for the next program to lock.
    void ExpectPortLetGo(TfrmTimer& w) {
        EXPECT_FALSE(w.Comm32->IsOpen());
        EXPECT_EQ(w.Comm32->GetReadThread(), nullptr);
        EXPECT_FALSE(std::filesystem::exists(test::PortHolder::LockFile(pty_.SlavePath())));
        const int other = pty_.OpenSlave();
        EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }

    test::Pty pty_;
    std::optional<test::ScopedEnv> lockDir_;
};

TEST_F(ComPortSessions, AHeldPortStartsASessionAndItsReleaseEndsIt) {
    TfrmTimer w;
    Watch(w, 3);
    w.SetActivePage(QStringLiteral("Detection"));
    EXPECT_FALSE(Probe(w)); // free, and no session: nothing happens
    EXPECT_EQ(w.ActivePageName(), "Detection");
    ExpectPortLetGo(w);

    test::PortHolder dialer(pty_.SlavePath());
    EXPECT_TRUE(Probe(w));
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_FALSE(w.sbWatching->isEnabled());
    Tick(w, 1);
    Tick(w, 20);
    EXPECT_TRUE(Probe(w)); // still held: the session runs on, no new first tick
    EXPECT_EQ(Tag(w.tOnLine), 0);
    EXPECT_EQ(w.lElapsed->text(), "000:00:20");
    EXPECT_EQ(LogLines(), 0);
    EXPECT_EQ(test::ReadBytes(test::PortHolder::LockFile(pty_.SlavePath())),
              QString::asprintf("%10d\n", dialer.Pid()).toStdString());

    dialer.Release();
    EXPECT_FALSE(Probe(w));
    EXPECT_EQ(Stored("Today"), 20);
    EXPECT_EQ(LogLines(), 1);
    EXPECT_FALSE(Probe(w));
    EXPECT_EQ(LogLines(), 1);
    ExpectPortLetGo(w);
}

TEST_F(ComPortSessions, APortNumberWithNoDeviceReadsAsOnline) {
    TfrmTimer w;
    Watch(w, 4);
    EXPECT_TRUE(Probe(w));
    EXPECT_EQ(w.ActivePageName(), "Timer");
}

TEST_F(ComPortSessions, TheDetectionPageNamesTheDeviceOfThePortNumber) {
    TfrmTimer w;
    w.seCOMPort->setValue(3);
    EXPECT_EQ(w.lPortDevice->text().toStdString(), pty_.SlavePath());
    w.seCOMPort->setValue(4);
    EXPECT_EQ(w.lPortDevice->text().toStdString(),
              (home_ / "no-such-device").string() + " (not present)");
    w.seCOMPort->setValue(2); // no link: the second serial port, in the test's device folder
    EXPECT_EQ(w.lPortDevice->text().toStdString(),
              (DeviceDirectory() / "ttyS1").string() + " (not present)");
}

// A session's end whose save fails (another process holds the store's write lock for longer
// than the store waits) is not taken for "online": the session stays stopped on the free port,
// and its end is logged once, not once a tick.
TEST_F(ComPortSessions, AFailedSaveAtTheEndDoesNotStartAnotherSession) {
    TfrmTimer w;
    Watch(w, 3);
    {
        test::PortHolder dialer(pty_.SlavePath());
        ASSERT_TRUE(Probe(w));
        Tick(w, 1);
        Tick(w, 5);
        dialer.Release();
    }
    QProcess store;
    store.start(QStringLiteral(QUORVANE_STORE_PEER), {QStringLiteral("hold")});
    ASSERT_TRUE(store.waitForReadyRead(-1));
    ASSERT_EQ(store.readLine(), "held\n");

    EXPECT_FALSE(Probe(w));
    EXPECT_FALSE(Probe(w));
    EXPECT_FALSE(Probe(w));
    EXPECT_EQ(LogLines(), 1);

    store.closeWriteChannel();
    ASSERT_TRUE(store.waitForFinished(-1));
    EXPECT_EQ(store.exitCode(), 0);
    EXPECT_EQ(Stored("Today"), -1); // the save could not be made
    w.StopSession();                // the next save goes through
    EXPECT_EQ(Stored("Today"), 5);
}

} // namespace
