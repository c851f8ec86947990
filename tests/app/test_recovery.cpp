// A session cut short, on the real window with a real store: the state that a running session
// keeps against a kill (in the store every 30 seconds of its ticks and with every save of its
// totals, in the runtime folder's state file at every tick, both removed by a normal stop and by
// Exit), and what the next start makes of a state left behind. A kill is the window going away
// without any of its close steps; a power cut is a kill that takes the runtime folder (a tmpfs)
// with it. And a stop whose save is refused while a second process holds the store's write lock:
// the session kept, and saved once the lock goes.
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "settings/session_file.h"
#include "settings/session_store.h"
#include "support/files.h"
#include "tests/app/window_test.h"
#include "tests/settings/store_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace quorvane;
using quorvane::test::H;

namespace {

DateTime At(int day, int hour, int minute = 0, int second = 0) {
    return EncodeDate(2026, 3, day) + EncodeTime(hour, minute, second);
}

const TimerSet kTotals{false, 10, 20, 100, 1000};

// Another program holding the store's write lock (BEGIN EXCLUSIVE on the machine hive's
// database), a second process of its own, from its making until it is let go.
class HeldStore {
public:
    HeldStore() {
        peer_.start(QStringLiteral(QUORVANE_STORE_PEER), {QStringLiteral("exclusive")});
        EXPECT_TRUE(peer_.waitForReadyRead(-1));
        EXPECT_EQ(peer_.readLine(), "held\n");
    }
    ~HeldStore() {
        peer_.closeWriteChannel();
        EXPECT_TRUE(peer_.waitForFinished(-1));
        EXPECT_EQ(peer_.exitCode(), 0);
    }
    HeldStore(const HeldStore&) = delete;
    HeldStore& operator=(const HeldStore&) = delete;

private:
    QProcess peer_;
};

class Recovery : public test::WindowTest {
protected:
    // A Manual provider that logs to a file of its own, with a peak period from 8 AM to 6 PM.
    void StoreProvider(const std::string& name, bool makeDefault, int cycleDay = 0) {
        ASSERT_TRUE(
            SaveProfile(name,
                        {{"cbDetection", Variant(2), vkInteger},
                         {"seCycleDay", Variant(cycleDay), vkInteger},
                         {"ckEnablePeak", Variant(true), vkBool},
                         {"eStart", Variant("08:00:00 AM"), vkString},
                         {"eStop", Variant("06:00:00 PM"), vkString},
                         {"ckEnableLogging", Variant(true), vkBool},
                         {"eLogFile", Variant(Log(name).string()), vkString}},
                        {kTotals.Today, kTotals.InsidePeak, kTotals.OutsidePeak, kTotals.TotalTime},
                        makeDefault));
    }
    std::filesystem::path Log(const std::string& name) const { return home_ / (name + ".log"); }

    // The program started with the clock at `at`, its provider's session started by hand and
    // given its first tick.
    std::unique_ptr<TfrmTimer> StartSession(DateTime at) {
        clock_.Set(at);
        auto w = std::make_unique<TfrmTimer>();
        w->sbManual->click();
        w->tOnLineTimer();
        return w;
    }
    // Ticks once a second up to `seconds` after the session's first tick.
    void RunTo(TfrmTimer& w, DateTime first, int seconds) {
        while (clock_.Get() < first + (seconds - 0.5) * kOneSecond)
            Tick(w, 1);
    }

    static TimerSet Stored(const std::string& name) {
        ProfileTotals totals{};
        LoadProfileTotals(name, totals);
        return {false, totals[1], totals[2], totals[0], totals[3]};
    }
    std::vector<QString> Shown() {
        std::vector<QString> texts;
        for (const auto& shown : boxes_->shown)
            texts.push_back(shown.text);
        boxes_->shown.clear();
        return texts;
    }
    std::string LogText(const std::string& name) const { return test::ReadBytes(Log(name)); }

    static void PowerCut(std::unique_ptr<TfrmTimer>& w) {
        w.reset();
        std::filesystem::remove(SessionStateFilePath());
    }
};

TEST_F(Recovery, ACutSessionIsAddedAtTheNextStartAndLoggedAndToldOnce) {
    struct Case {
        const char* cut;
        bool powerCut;
        TimerSet recovered;
        const char* logged; // the session's end and its totals
        const char* told;   // the session's length up to its end
    };
    // Cut 75 s into the session: the store's last write was at 60 s, the state file's at 75 s.
    const Case cases[] = {
        {"a power cut",
         true,
         {false, 70, 20, 160, 1060},
         "10:01:00 AM  In Peak: 000:01:10  Out Peak: 000:00:20  Total: 000:17:40",
         "000:01:00 up to 10:01:00 AM"},
        {"a kill",
         false,
         {false, 85, 20, 175, 1075},
         "10:01:15 AM  In Peak: 000:01:25  Out Peak: 000:00:20  Total: 000:17:55",
         "000:01:15 up to 10:01:15 AM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cut);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software");
        std::filesystem::remove(Log("Dial Net"));
        StoreProvider("Dial Net", true);
        const DateTime first = At(7, 10, 0, 0);
        auto w = StartSession(first);
        RunTo(*w, first, 29);
        EXPECT_EQ(ReadSessionState(), std::nullopt);
        RunTo(*w, first, 30);
        const auto state = ReadSessionState();
        ASSERT_TRUE(state);
        EXPECT_EQ(state->provider, "Dial Net");
        EXPECT_NEAR(state->firstTick, first, kOneSecond / 1000);
        EXPECT_NEAR(state->lastWrite, first + 30 * kOneSecond, kOneSecond / 1000);
        EXPECT_EQ(state->counts, (SessionStateCounts{30, 30, 0, 0, 0, 0}));
        RunTo(*w, first, 75);
        EXPECT_EQ(ReadSessionState()->counts[0], 60);
        if (c.powerCut)
            PowerCut(w);
        else
            w.reset();
        EXPECT_EQ(Stored("Dial Net"), kTotals);
        Shown();

        clock_.Set(At(7, 10, 5));
        w = std::make_unique<TfrmTimer>();
        EXPECT_EQ(w->Timers, c.recovered);
        EXPECT_EQ(Stored("Dial Net"), c.recovered);
        EXPECT_EQ(ReadSessionState(), std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
        EXPECT_EQ(LogText("Dial Net"),
                  "03/07/2026  " + std::string(c.logged) + "  Charges: $0.00\r\n");
        EXPECT_EQ(Shown(), (std::vector<QString>{
                               "A session of 03/07/2026 with Dial Net was cut short: Quorvane or "
                               "the computer stopped while it ran.\r\n\r\nIts time, " +
                               QString::fromLatin1(c.told) +
                               ", has been recovered and added to the timers."}));
        // No session of its own yet: this start leaves nothing to recover.
        w.reset();
        w = std::make_unique<TfrmTimer>();
        EXPECT_EQ(w->Timers, c.recovered);
        EXPECT_TRUE(Shown().empty());
    }
}

TEST_F(Recovery, AStopOrExitLeavesNothingToRecover) {
    StoreProvider("Dial Net", true);
    const DateTime first = At(7, 10, 0, 0);
    auto w = StartSession(first);
    RunTo(*w, first, 40);
    ASSERT_TRUE(ReadSessionState());
    ASSERT_TRUE(std::filesystem::exists(SessionStateFilePath()));
    w->sbManual->click();
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
    EXPECT_EQ(Stored("Dial Net").TotalTime, 1040);

    // Exit ends the program without saving the session; nor is it recovered.
    w->sbManual->click();
    Tick(*w, 1);
    RunTo(*w, clock_.Get(), 31);
    ASSERT_TRUE(ReadSessionState());
    w->LeaveClick();
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
    w.reset();
    w = std::make_unique<TfrmTimer>();
    EXPECT_EQ(w->Timers.TotalTime, 1040);
}

// A provider Save and an adjustment while the session runs save its totals so far: the state
// written with them says so, and the recovery adds only what came after.
TEST_F(Recovery, SavesDuringTheSessionAreNotAddedTwice) {
    // As a stop at the last write would have saved: 1000 + 3600 + 70 (the store's, at a power
    // cut) or + 75 (the state file's, at a kill).
    for (const bool powerCut : {true, false}) {
        SCOPED_TRACE(powerCut ? "a power cut" : "a kill");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software");
        StoreProvider("Dial Net", true);
        const DateTime first = At(7, 10, 0, 0);
        auto w = StartSession(first);
        RunTo(*w, first, 20);
        w->btnSave->click();
        EXPECT_EQ(Stored("Dial Net").TotalTime, 1020);
        EXPECT_EQ(ReadSessionState()->counts, (SessionStateCounts{20, 20, 0, 20, 20, 0}));
        RunTo(*w, first, 40);
        w->SetActivePage("Adjust Timers");
        w->rbTotalTime->click();
        w->seAdjHour->setValue(1);
        w->btnAdjust->click();
        EXPECT_EQ(Stored("Dial Net").TotalTime, 4640);
        EXPECT_EQ(ReadSessionState()->counts, (SessionStateCounts{40, 40, 0, 40, 40, 0}));
        RunTo(*w, first, 75); // written at 70, 30 s after the adjustment's save
        EXPECT_EQ(ReadSessionState()->counts, (SessionStateCounts{70, 70, 0, 40, 40, 0}));
        if (powerCut)
            PowerCut(w);
        else
            w.reset();

        w = std::make_unique<TfrmTimer>();
        EXPECT_EQ(w->Timers, powerCut ? (TimerSet{false, 80, 20, 170, 4670})
                                      : (TimerSet{false, 85, 20, 175, 4675}));
    }
}

TEST_F(Recovery, ASessionOverMidnightGivesTheNewDayItsPart) {
    StoreProvider("Dial Net", true);
    const DateTime first = At(7, 23, 59, 40);
    auto w = StartSession(first);
    // The midnight tick saves the old day, and the state with it.
    RunTo(*w, first, 20);
    EXPECT_EQ(ReadSessionState()->counts, (SessionStateCounts{20, 0, 20, 20, 0, 20}));
    w->tRolloverTimer(); // the day check at midnight, as the program's timer runs it
    RunTo(*w, first, 65);
    EXPECT_EQ(ReadSessionState()->counts, (SessionStateCounts{50, 0, 50, 20, 0, 20}));
    PowerCut(w);
    Shown();

    clock_.Set(At(8, 0, 5));
    w = std::make_unique<TfrmTimer>();
    EXPECT_EQ(w->Timers, (TimerSet{false, 10, 70, 30, 1050}));
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), EncodeDate(2026, 3, 8));
    EXPECT_EQ(Shown().size(), 1u);
}

// Recovered before the day and cycle checks: the session belongs to the day and the billing
// cycle it ran in.
TEST_F(Recovery, TheDayAndCycleChecksComeAfter) {
    const std::string line = "03/07/2026  10:00:30 PM  In Peak: 000:00:10  Out Peak: 000:00:50  "
                             "Total: 000:17:10  Charges: $0.00\r\n";
    struct Case {
        int cycleDay;
        TimerSet totals;
        std::size_t boxes; // the recovery's, the new day's and the cycle's
    };
    const Case cases[] = {{0, {false, 10, 50, 0, 1030}, 2}, {8, {}, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cycleDay);
        std::filesystem::remove(Log("Dial Net"));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software");
        StoreProvider("Dial Net", true, c.cycleDay);
        const DateTime first = At(7, 22, 0, 0);
        auto w = StartSession(first);
        RunTo(*w, first, 45);
        PowerCut(w);
        Shown();

        clock_.Set(At(8, 9, 0));
        w = std::make_unique<TfrmTimer>();
        EXPECT_EQ(LogText("Dial Net"), line);
        EXPECT_EQ(w->Timers, c.totals);
        EXPECT_EQ(Stored("Dial Net"), c.totals);
        EXPECT_EQ(Shown().size(), c.boxes);
    }
}

TEST_F(Recovery, TheSessionsOwnProviderTakesItsTime) {
    StoreProvider("Dial Net", true);
    StoreProvider("Budget Line", false);
    clock_.Set(At(7, 10));
    auto w = std::make_unique<TfrmTimer>();
    w->cbProvider->setEditText(QStringLiteral("Budget Line"));
    w->cbProviderClick();
    w->sbManual->click();
    w->tOnLineTimer();
    RunTo(*w, At(7, 10), 30);
    PowerCut(w);

    w = std::make_unique<TfrmTimer>();
    EXPECT_EQ(w->cbProvider->currentText(), "Dial Net");
    EXPECT_EQ(w->Timers, kTotals);
    EXPECT_EQ(Stored("Budget Line"), (TimerSet{false, 40, 20, 130, 1030}));
    EXPECT_NE(LogText("Budget Line").find("Total: 000:17:10"), std::string::npos);
    EXPECT_EQ(LogText("Dial Net"), "");
}

// The stop comes while another program holds the store for longer than a save waits: the user
// is told once, the session is kept (the state file holds it as it stopped), a try while the
// lock is still held fails quietly and comes again, and the try after the lock has gone saves
// the session whole, its row with it. Time lost: none.
TEST_F(Recovery, AStopRefusedByAHeldStoreIsToldKeptAndSavedOnceTheLockGoes) {
    const test::ShortBusyTimeout shortWait;
    StoreProvider("Dial Net", true);
    const DateTime first = At(7, 10, 0, 0);
    auto w = StartSession(first);
    RunTo(*w, first, 40);
    Shown();
    std::optional<HeldStore> held{std::in_place};
    RunTo(*w, first, 75); // the store's write at 60 s is refused; the file's go on
    w->sbManual->click();
    const std::vector<QString> told = Shown();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].startsWith("The session's time could not be saved"))
        << told[0].toStdString();
    EXPECT_EQ(Stored("Dial Net"), kTotals);
    const std::optional<StoredSessionState> kept = ReadSessionStateFile().state;
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->counts, (SessionStateCounts{75, 75, 0, 0, 0, 0}));
    EXPECT_NEAR(kept->lastWrite, first + 75 * kOneSecond, kOneSecond / 1000);
    EXPECT_EQ(ReadSessionState()->counts[0], 30) << "the store's state as last written";
    // Tried again by a timer that comes once, not in a loop.
    EXPECT_TRUE(w->tSaveRetry->isActive());
    EXPECT_TRUE(w->tSaveRetry->isSingleShot());
    EXPECT_EQ(w->tSaveRetry->interval(), kSaveRetryMs);

    clock_.AdvanceSeconds(60);
    w->tSaveRetryTimer(); // still held
    EXPECT_TRUE(Shown().empty());
    EXPECT_TRUE(w->tSaveRetry->isActive());
    EXPECT_EQ(Stored("Dial Net"), kTotals);
    EXPECT_TRUE(ReadSessionStateFile().state);

    held.reset(); // a minute after the stop, the other program lets go
    // The program's event loop runs until the retry's next run, brought forward, has been.
    const QMetaObject::Connection done = QObject::connect(
        w->tSaveRetry, &QTimer::timeout, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    w->tSaveRetry->start(0);
    EXPECT_EQ(QApplication::exec(), 0);
    QObject::disconnect(done);
    const TimerSet whole{false, 10 + 75, 20, 100 + 75, 1000 + 75};
    EXPECT_EQ(Stored("Dial Net"), whole);
    EXPECT_EQ(w->Timers, whole);
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
    EXPECT_FALSE(w->tSaveRetry->isActive());
    std::string why;
    const auto history = UsageHistory::Open(&why);
    ASSERT_TRUE(history) << why;
    const std::vector<SessionRow> rows = history->LastSessions("Dial Net", 10);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].seconds, 75);
    EXPECT_EQ(rows[0].insidePeak, 75);
    EXPECT_EQ(rows[0].ended, SessionEnd::Stopped);
    EXPECT_EQ(rows[0].end, MomentOf(first + 75 * kOneSecond));
    EXPECT_EQ(LogText("Dial Net"), "03/07/2026  10:01:15 AM  In Peak: 000:01:25  Out Peak: "
                                   "000:00:20  Total: 000:17:55  Charges: $0.00\r\n");
    EXPECT_TRUE(Shown().empty());

    // Nothing is left for a later start, nor added twice.
    w.reset();
    w = std::make_unique<TfrmTimer>();
    EXPECT_EQ(w->Timers, whole);
    EXPECT_TRUE(Shown().empty());
}

// Exit while the store is still held: the last try fails, and the session's state stays, in
// the file as it stopped, for the next start to recover whole.
TEST_F(Recovery, ExitWhileTheStoreIsHeldLeavesTheStoppedSessionToTheNextStart) {
    const test::ShortBusyTimeout shortWait;
    StoreProvider("Dial Net", true);
    const DateTime first = At(7, 10, 0, 0);
    auto w = StartSession(first);
    RunTo(*w, first, 40);
    std::optional<HeldStore> held{std::in_place};
    RunTo(*w, first, 75);
    w->sbManual->click();
    Shown();
    w->LeaveClick();
    EXPECT_TRUE(ReadSessionStateFile().state);
    EXPECT_TRUE(ReadSessionState());
    w.reset();
    held.reset();

    clock_.Set(At(7, 10, 5));
    w = std::make_unique<TfrmTimer>();
    const TimerSet whole{false, 10 + 75, 20, 100 + 75, 1000 + 75};
    EXPECT_EQ(w->Timers, whole);
    EXPECT_EQ(Stored("Dial Net"), whole);
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
    EXPECT_EQ(Shown().size(), 1u);
}

// A session stopped under a held store, then the provider loaded again and a second session of
// it run: the loaded totals hold the first session, and the second's stop, once the lock has
// gone, saves both, the first session's row before the second's.
TEST_F(Recovery, AStopStillToBeSavedGoesWithTheNextSave) {
    const test::ShortBusyTimeout shortWait;
    StoreProvider("Dial Net", true);
    const DateTime first = At(7, 10, 0, 0);
    auto w = StartSession(first);
    std::optional<HeldStore> held{std::in_place};
    RunTo(*w, first, 50);
    w->sbManual->click();
    EXPECT_EQ(Shown().size(), 1u);
    w->cbProvider->setEditText(QStringLiteral("Dial Net"));
    w->cbProviderClick();
    EXPECT_EQ(w->Timers, (TimerSet{false, 10 + 50, 20, 100 + 50, 1000 + 50}));

    w->sbManual->click();
    const DateTime second = clock_.Get() + 10 * kOneSecond;
    Tick(*w, 10);
    RunTo(*w, second, 20);
    EXPECT_EQ(ReadSessionStateFile().state->counts[0], 50) << "the file keeps the stopped one";
    held.reset();
    w->sbManual->click();
    EXPECT_TRUE(Shown().empty());
    const TimerSet both{false, 10 + 70, 20, 100 + 70, 1000 + 70};
    EXPECT_EQ(Stored("Dial Net"), both);
    EXPECT_EQ(w->Timers, both);
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(SessionStateFilePath()));
    std::string why;
    const auto history = UsageHistory::Open(&why);
    ASSERT_TRUE(history) << why;
    const std::vector<SessionRow> rows = history->LastSessions("Dial Net", 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].seconds, 50);
    EXPECT_EQ(rows[1].seconds, 20);
    w->tSaveRetryTimer(); // nothing left to save
    EXPECT_EQ(Stored("Dial Net"), both);
}

} // namespace
