// Day and billing-cycle rollover on the real window with a real store: starts on a clock moved
// across days, months, short months and years; the checks again at midnight and after the clock
// jumps while the program runs, also inside a session; and a store brought from Windows with
// quorvane-reg.
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "tests/app/window_test.h"

#include <QApplication>
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
    // The default provider "Dial Net", Manual unless `more` says otherwise, with its cycle day
    // and totals.
    static void StoreProvider(int cycleDay, const TimerSet& t,
                              std::vector<ProfileSetting> more = {}) {
        std::vector<ProfileSetting> settings{{"cbDetection", Variant(2), vkInteger},
                                             {"seCycleDay", Variant(cycleDay), vkInteger}};
        settings.insert(settings.end(), more.begin(), more.end());
        ASSERT_TRUE(SaveProfile("Dial Net", settings,
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

// A session running into the cycle day while the two boxes wait for their answers: what it
// counts meanwhile belongs to the new day and the new cycle, whenever the boxes are answered,
// and the history's rows agree with the totals to the second.
TEST_F(Rollover, WhatASessionCountsWhileTheBoxesWaitStaysInTheNewCycle) {
    struct Case {
        const char* answered;
        int newDayTicks; // seconds the session ticks while each box is up
        int cycleTicks;
    };
    const Case cases[] = {
        {"at once", 0, 0},
        {"the new day's after 20 s", 20, 0},
        {"the cycle's after 40 s", 0, 40},
        {"both, after 15 s and 25 s", 15, 25},
    };
    int year = 2027;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answered);
        ++year; // each case in a year, and so a history, of its own
        clock_.Set(At(year, 3, 30, 23, 59, 50));
        StoreProvider(31, {false, 0, 0, 500, H(5)});
        ASSERT_TRUE(WriteLastDate(At(year, 3, 30, 0), true));
        TfrmTimer w;
        Shown(); // the years between the cases
        w.sbManual->click();
        Tick(w, 0);
        Tick(w, 9);
        Tick(w, 1); // 00:00:00: the old day is saved as that day's

        clock_.AdvanceSeconds(0.5);
        boxes_->whileShown = [&](const ModalScript::Shown& shown) {
            const int ticks = shown.text.toStdString() == kNewDay ? c.newDayTicks : c.cycleTicks;
            for (int second = 0; second < ticks; ++second)
                Tick(w, 1);
        };
        w.tRolloverTimer();
        boxes_->whileShown = nullptr;
        EXPECT_EQ(Shown(), (std::vector<std::string>{kNewDay, CycleToday(31)}));
        const Duration counted = c.newDayTicks + c.cycleTicks;
        EXPECT_EQ(w.Timers, (TimerSet{false, 0, 0, counted, counted}));
        EXPECT_EQ(w.lTotalTime->text(), QString::fromStdString(DurationText(counted)));

        Tick(w, 1);
        w.sbManual->click();
        EXPECT_EQ(StoredTotals(), (TimerSet{false, 0, 0, counted + 1, counted + 1}));
        std::string why;
        const auto history = UsageHistory::Open(&why);
        ASSERT_TRUE(history) << why;
        const DateTime cycleDay = EncodeDate(year, 3, 31);
        Duration rows = 0;
        for (const SessionRow& row : history->Sessions("Dial Net", cycleDay, cycleDay + 1))
            rows += row.seconds;
        EXPECT_EQ(rows, counted + 1) << "the new cycle's rows hold what its totals hold";
        const auto oldDay = history->Sessions("Dial Net", cycleDay - 1, cycleDay);
        ASSERT_EQ(oldDay.size(), 1u);
        EXPECT_EQ(oldDay[0].seconds, 10);
    }
}

// The start's boxes come once the window is up, with watching or the manual session begun:
// they wait for the user without holding back what an unattended start at login counts.
TEST_F(Rollover, TheStartsBoxesWaitWithoutHoldingTheSession) {
    const auto running = [](const TfrmTimer& w) { return w.tOnLine->isActive(); };
    const auto watching = [](const TfrmTimer& w) { return w.tWatching->isActive(); };
    const std::vector<std::pair<std::vector<ProfileSetting>, std::function<bool(const TfrmTimer&)>>>
        cases = {
            {{{"ckStartWhenRun", Variant(true), vkBool}}, running},
            {{{"cbDetection", Variant(0), vkInteger}, {"ckWatchOnRun", Variant(true), vkBool}},
             watching},
        };
    for (const auto& [settings, begun] : cases) {
        clock_.Set(At(2027, 5, 2, 9));
        StoreProvider(0, {false, 0, 0, 500, H(5)}, settings);
        ASSERT_TRUE(WriteLastDate(At(2027, 5, 1, 0), true));
        std::vector<bool> begunAtBox;
        boxes_->whileShown = [&](const ModalScript::Shown&) {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = dynamic_cast<TfrmTimer*>(widget))
                    begunAtBox.push_back(begun(*window));
            }
        };
        TfrmTimer w;
        EXPECT_EQ(Shown(), std::vector<std::string>{kNewDay});
        boxes_->whileShown = nullptr;
        EXPECT_EQ(begunAtBox, std::vector<bool>{true});
        w.tWatching->stop();
        if (w.tOnLine->isActive())
            w.sbManual->click();
    }
}

// What the user has typed on the pages and not saved stays out of the store at midnight: the
// clears write the totals of the provider the window holds, and a running session's day-end save
// its provider's totals, and nothing else.
TEST_F(Rollover, AtMidnightOnlyTheLoadedProvidersTotalsAreStored) {
    struct Case {
        int cycleDay;
        bool session;
        std::optional<TimerSet> stored;
    };
    const Case cases[] = {
        {0, false, TimerSet{false, H(2), H(3), 0, H(5)}}, // a new day: Today cleared
        {31, false, TimerSet{}},                          // and the cycle day: all four
        {0, true, std::nullopt},                          // the session's day saved at its end
        {31, true, TimerSet{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cycleDay << (c.session ? " in a session" : ""));
        DeleteProviderProfile("Dial Net");
        clock_.Set(At(2027, 3, 30, 23, 59, 30));
        StoreProvider(c.cycleDay, {false, H(2), H(3), H(1), H(5)});
        ASSERT_TRUE(WriteLastDate(At(2027, 3, 30, 0), true));
        TfrmTimer w;
        ASSERT_TRUE(SetDefaultProvider("Other"));
        if (c.session) {
            w.sbManual->click();
            Tick(w, 0);
        }
        // Edits never saved: another name, made the default, a price.
        w.cbProvider->setEditText(QStringLiteral("Draft"));
        w.ckSetAsDefault->setChecked(true);
        w.ePrice->setText(QStringLiteral("9.99"));

        clock_.Set(At(2027, 3, 31, 0, 0, 0) + 0.5 * kOneSecond);
        w.tRolloverTimer();
        if (c.stored)
            EXPECT_EQ(StoredTotals(), *c.stored);
        else
            EXPECT_EQ(StoredTotals(), (TimerSet{false, H(2), H(3), H(1) + 30, H(5) + 30}));
        EXPECT_FALSE(ProviderExists("Draft"));
        EXPECT_EQ(StoredDefaultProvider(), "Other");
        EXPECT_FALSE(ValueExistsByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + "ePrice"));
        EXPECT_EQ(w.cbProvider->currentText(), "Draft") << "the edits stay on the pages";
        EXPECT_EQ(w.ePrice->text(), "9.99");
        EXPECT_TRUE(w.ckSetAsDefault->isChecked());
        Shown();
        if (c.session)
            w.sbManual->click();
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
