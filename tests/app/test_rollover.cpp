// Day and billing-cycle rollover on the real window with a real store: starts on a clock moved
// across days, months, short months and years; the checks again at midnight and after the clock
// jumps while the program runs, also inside a session; and a store brought from Windows with
// quorvane-reg.
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "tests/app/window_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace quorvane;
using quorvane::test::H;

namespace {

DateTime At(int year, int month, int day, int hour, int minute = 0, int second = 0) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second);
}

const std::string kNewDay = "A new day has been detected. Today Timer has been cleared.";
std::string CycleToday(int day) {
    return "Since today is day " + std::to_string(day) + ", all Timers have been cleared.";
}
std::string CycleBegan(const char* date) {
    return std::string("Since a new billing cycle began on ") + date +
           ", all Timers have been cleared.";
}

class Rollover : public test::WindowTest {
protected:
    // The default provider "Dial Net", Manual, with its cycle day and totals.
    static void StoreProvider(int cycleDay, const TimerSet& t) {
        ASSERT_TRUE(SaveProfile(
            "Dial Net",
            {{"cbDetection", Variant(2), vkInteger}, {"seCycleDay", Variant(cycleDay), vkInteger}},
            {t.Today, t.InsidePeak, t.OutsidePeak, t.TotalTime}, true));
    }
    static TimerSet StoredTotals() {
        ProfileTotals totals{};
        LoadProfileTotals("Dial Net", totals);
        return {false, totals[1], totals[2], totals[0], totals[3]};
    }
    std::vector<std::string> Shown() {
        std::vector<std::string> texts;
        for (const auto& shown : boxes_->shown)
            texts.push_back(shown.text.toStdString());
        boxes_->shown.clear();
        return texts;
    }
};

// Starts of one provider with cycle day 31, each followed by ten minutes online and a save.
TEST_F(Rollover, StartsAcrossDaysMonthsShortMonthsAndYears) {
    struct Start {
        DateTime at;
        std::vector<std::string> messages;
        bool todayCleared, allCleared;
    };
    const Start starts[] = {
        {At(2027, 1, 10, 9), {}, false, false},       // the first start ever
        {At(2027, 1, 10, 18), {}, false, false},      // the same day again
        {At(2027, 1, 11, 8), {kNewDay}, true, false}, // the next day
        {At(2027, 1, 10, 8), {kNewDay}, true, false}, // the clock set back a day
        {At(2027, 1, 31, 7), {kNewDay, CycleToday(31)}, true, true},
        {At(2027, 1, 31, 20), {}, false, false}, // the cycle day again: cleared once
        {At(2027, 2, 28, 7), {kNewDay, CycleToday(28)}, true, true}, // no 31st: its last day
        {At(2027, 4, 2, 7), {kNewDay, CycleBegan("03/31/2027")}, true, true}, // not run then
        {At(2027, 4, 30, 7), {kNewDay, CycleToday(30)}, true, true},
        {At(2028, 1, 5, 7), {kNewDay, CycleBegan("12/31/2027")}, true, true}, // months missed
        {At(2028, 2, 29, 7), {kNewDay, CycleToday(29)}, true, true},          // a leap year
    };
    StoreProvider(31, {false, H(2), H(3), H(1), H(5)});
    for (const Start& s : starts) {
        SCOPED_TRACE(FormatShortDate(s.at) + " " + FormatLongTime(s.at));
        clock_.Set(s.at);
        const TimerSet before = StoredTotals();
        TfrmTimer w;
        EXPECT_EQ(Shown(), s.messages);
        TimerSet expected = before;
        if (s.todayCleared)
            expected.Today = 0;
        if (s.allCleared)
            ClearTimers(expected);
        EXPECT_EQ(w.Timers, expected);
        EXPECT_EQ(StoredTotals(), expected) << "the clears are saved";
        EXPECT_EQ(w.lToday->text(), QString::fromStdString(DurationText(expected.Today)));
        EXPECT_EQ(ReadLastDate(), DateOf(s.at));
        w.Timers.Today += 600;
        w.Timers.TotalTime += 600;
        w.Timers.OutsidePeak += 600;
        ASSERT_TRUE(w.TransferProviderSettings(false, w.Timers));
    }
}

TEST_F(Rollover, TheTimerIsSetForMidnightAndAMinuteAtMost) {
    StoreProvider(0, {});
    for (const auto& [at, interval] :
         {std::pair{At(2027, 1, 10, 23, 59, 30), 30001}, std::pair{At(2027, 1, 10, 10), 60000}}) {
        clock_.Set(at);
        TfrmTimer w;
        EXPECT_TRUE(w.tRollover->isActive());
        EXPECT_TRUE(w.tRollover->isSingleShot());
        EXPECT_NEAR(w.tRollover->interval(), interval, 1);
    }
}

TEST_F(Rollover, AtMidnightAndAfterAClockJumpTheChecksRunAgain) {
    clock_.Set(At(2027, 3, 30, 23, 59, 30));
    StoreProvider(31, {false, H(2), H(3), H(1), H(5)});
    ASSERT_TRUE(WriteLastDate(At(2027, 3, 30, 0), true));
    TfrmTimer w;
    w.cbMinimizedTime->setCurrentIndex(1);
    ASSERT_TRUE(Shown().empty());

    clock_.Set(At(2027, 3, 31, 0, 0, 0) + 0.5 * kOneSecond);
    w.tRolloverTimer();
    EXPECT_EQ(Shown(), (std::vector<std::string>{kNewDay, CycleToday(31)}));
    EXPECT_EQ(w.Timers, TimerSet{});
    EXPECT_EQ(StoredTotals(), TimerSet{});
    EXPECT_EQ(ReadLastDate(), EncodeDate(2027, 3, 31));
    EXPECT_EQ(w.lTotalTime->text(), "000:00:00");
    EXPECT_EQ(w.ApplicationTitle(), "Tot: 000:00:00");
    EXPECT_EQ(w.tRollover->interval(), 60000);

    w.Timers.Today = 100;
    clock_.Set(At(2027, 3, 31, 9));
    w.tRolloverTimer();
    EXPECT_TRUE(Shown().empty()) << "the same day: nothing";
    EXPECT_EQ(w.Timers.Today, 100);

    clock_.Set(At(2027, 4, 3, 14)); // resumed from a suspend three days later
    w.tRolloverTimer();
    EXPECT_EQ(Shown(), std::vector<std::string>{kNewDay});
    EXPECT_EQ(w.Timers.Today, 0);
}

// A session running into the cycle day: the tick saves the old day as that day's, the checks
// clear the totals, and the session goes on counting from zero.
TEST_F(Rollover, ASessionIntoTheCycleDayGoesOnFromZero) {
    clock_.Set(At(2027, 3, 30, 23, 59, 50));
    StoreProvider(31, {false, 0, 0, 500, H(5)});
    ASSERT_TRUE(WriteLastDate(At(2027, 3, 30, 0), true));
    TfrmTimer w;
    w.sbManual->click();
    Tick(w, 0);
    Tick(w, 9);
    Tick(w, 1); // 00:00:00: the old day is saved
    EXPECT_EQ(StoredTotals().Today, 510);
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), EncodeDate(2027, 3, 30)) << "the day that ended";

    clock_.AdvanceSeconds(0.5);
    w.tRolloverTimer();
    EXPECT_EQ(Shown(), (std::vector<std::string>{kNewDay, CycleToday(31)}));
    EXPECT_EQ(w.Timers, TimerSet{});
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), EncodeDate(2027, 3, 31));
    Tick(w, 9.5);
    EXPECT_EQ(w.lToday->text(), "000:00:10");
    EXPECT_EQ(w.lTotalTime->text(), "000:00:10");
    EXPECT_EQ(w.lElapsed->text(), "000:00:10");
    w.sbManual->click();
    EXPECT_EQ(StoredTotals(), (TimerSet{false, 0, 0, 10, 10}));
}

// What the user has typed on the pages and not saved stays out of the store at midnight: the
// clears write the totals of the provider the window holds, and nothing else.
TEST_F(Rollover, AtMidnightOnlyTheLoadedProvidersTotalsAreStored) {
    struct Case {
        int cycleDay;
        TimerSet stored;
    };
    const Case cases[] = {
        {0, {false, H(2), H(3), 0, H(5)}}, // a new day: Today cleared
        {31, TimerSet{}},                  // and the cycle day: all four
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cycleDay);
        clock_.Set(At(2027, 3, 30, 23, 59, 30));
        StoreProvider(c.cycleDay, {false, H(2), H(3), H(1), H(5)});
        ASSERT_TRUE(WriteLastDate(At(2027, 3, 30, 0), true));
        TfrmTimer w;
        // Edits never saved: another name, made the default, a price.
        w.cbProvider->setEditText(QStringLiteral("Draft"));
        w.ckSetAsDefault->setChecked(true);
        w.ePrice->setText(QStringLiteral("9.99"));

        clock_.Set(At(2027, 3, 31, 0, 0, 0) + 0.5 * kOneSecond);
        w.tRolloverTimer();
        EXPECT_EQ(StoredTotals(), c.stored);
        EXPECT_FALSE(ProviderExists("Draft"));
        EXPECT_EQ(StoredDefaultProvider(), "Dial Net");
        EXPECT_FALSE(ValueExistsByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + "ePrice"));
        EXPECT_EQ(w.cbProvider->currentText(), "Draft") << "the edits stay on the pages";
        EXPECT_EQ(w.ePrice->text(), "9.99");
        Shown();
    }
}

// The export of the Windows version (its LastDate 30 November 2026, "Dial Net" with cycle day
// 15 and no date of a last clear) brought in with quorvane-reg, then started on later days.
TEST_F(Rollover, AStoreBroughtFromWindowsRollsOverAtItsStarts) {
    struct Start {
        DateTime at;
        std::vector<std::string> messages;
    };
    const Start starts[] = {
        {At(2026, 11, 30, 9), {}},
        {At(2026, 12, 15, 9), {kNewDay, CycleToday(15)}},
        {At(2027, 1, 20, 9), {kNewDay, CycleBegan("01/15/2027")}},
    };
    const std::string command = std::string(QUORVANE_REG_BINARY) + " import \"" +
                                std::getenv("QUORVANE_TEST_DATA") +
                                "/provider-export.reg\" >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const Start& s : starts) {
        SCOPED_TRACE(FormatShortDate(s.at));
        clock_.Set(s.at);
        TfrmTimer w;
        EXPECT_EQ(Shown(), s.messages);
        const TimerSet imported{false, 0x4650, 0x23a5, 0xe8d, 0x69f5};
        EXPECT_EQ(w.Timers, s.messages.empty() ? imported : TimerSet{});
        EXPECT_EQ(StoredTotals(), w.Timers);
        // The pages follow the imported settings, and watching starts as its toggle says.
        EXPECT_FALSE(w.cbProv->isHidden());
        EXPECT_FALSE(w.pBilling->isHidden());
        EXPECT_FALSE(w.pPeak->isHidden());
        EXPECT_FALSE(w.pLogging->isHidden());
        EXPECT_EQ(w.lPricePer->text(), "Price per Extra Hour");
        EXPECT_EQ(w.ApplicationTitle(),
                  QString::fromStdString("Tot: " + DurationText(w.Timers.TotalTime)));
        EXPECT_TRUE(w.tWatching->isActive());
        w.tWatching->stop();
        w.Timers.TotalTime += 600;
        ASSERT_TRUE(w.TransferProviderSettings(false, w.Timers));
    }
}

} // namespace
