// Starts of the program on a moved clock against a real store, with the day and cycle checks
// joined to the store as the window joins them: a store brought from Windows, every new day,
// every cycle once even when the program did not run on its day, and a provider picked on a
// later day than its totals were saved.

#include "accounting/rollover.h"
#include "accounting/timevalues.h"
#include "core/clock.h"
#include "core/regional.h"
#include "settings/regfile.h"
#include "settings/rollover_store.h"
#include "tests/settings/store_fixture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quorvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

DateTime At(int year, int month, int day, int hour) {
    return EncodeDate(year, month, day) + EncodeTime(hour, 0, 0);
}

class RolloverStartsTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        Regional() = RegionalSettings{};
    }
    void TearDown() override {
        Regional() = saved_;
        StoreTest::TearDown();
    }

    // The export of two providers from the Windows version, with its "LastDate" of 30 November
    // 2026 and "LastDateChanged" already true.
    static void ImportWindowsStore() {
        const std::string path =
            std::string(std::getenv("QUORVANE_TEST_DATA")) + "/provider-export.reg";
        std::ifstream in(path, std::ios::binary);
        const Bytes content{std::istreambuf_iterator<char>(in), {}};
        const RegFileParse parsed = ParseRegFile(content);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        std::string error;
        ASSERT_TRUE(ApplyRegOps(parsed.ops, &error)) << error;
    }

    static TimerSet Load(const std::string& provider) {
        ProfileTotals totals{};
        LoadProfileTotals(provider, totals);
        TimerSet timers{false, totals[1], totals[2], totals[0], totals[3]};
        if (!StoredTodayHolds(ReadLastSaveDate(provider), DateOf(Now())))
            timers.Today = 0;
        return timers;
    }

    static void Save(const std::string& provider, const TimerSet& t) {
        ASSERT_TRUE(SaveProfile(provider, {LastSaveDateSetting(DateOf(Now()))},
                                {t.Today, t.InsidePeak, t.OutsidePeak, t.TotalTime}, false));
    }

    // Loading the provider, the new-day check and the cycle check, each clear saved, as the
    // window's start-up does them; the messages in the order they were shown.
    TimerSet StartUp(const std::string& provider) {
        messages_.clear();
        TimerSet timers = Load(provider);
        const DateTime today = DateOf(Now());

        const NewDayDecision day = DecideNewDay(ReadLastDate(), today);
        if (day.store) {
            EXPECT_TRUE(WriteLastDate(today, day.newDay));
        }
        if (day.newDay) {
            messages_.push_back(kNewDayMessage);
            timers.Today = 0;
            Save(provider, timers);
        }

        Variant cycleDay;
        ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath(provider) + "seCycleDay", vkInteger,
                        cycleDay);
        const CycleDecision cycle =
            DecideCycleClear(cycleDay.toInt(), ReadLastCycleClear(provider), today);
        if (cycle.record) {
            EXPECT_TRUE(WriteLastCycleClear(provider, *cycle.record, cycle.clear));
        }
        if (cycle.clear) {
            messages_.push_back(cycle.message);
            ClearTimers(timers);
            Save(provider, timers);
        }
        return timers;
    }

    struct Start {
        DateTime at;
        std::vector<std::string> messages;
        TimerSet afterChecks;
        Duration online; // a session after the checks, saved when it stops
    };
    void RunStarts(const std::string& provider, const std::vector<Start>& starts) {
        for (const Start& s : starts) {
            SCOPED_TRACE(FormatShortDate(s.at) + " " + FormatLongTime(s.at));
            clock_.Set(s.at);
            TimerSet timers = StartUp(provider);
            EXPECT_EQ(messages_, s.messages);
            EXPECT_EQ(timers, s.afterChecks);
            timers.Today += s.online;
            timers.TotalTime += s.online;
            timers.OutsidePeak += s.online;
            Save(provider, timers);
        }
    }

    ManualClock clock_{At(2026, 11, 30, 9)};
    std::vector<std::string> messages_;
    RegionalSettings saved_ = Regional();
};

const std::string kNewDay = kNewDayMessage;

TEST_F(RolloverStartsTest, WindowsStoreRollsOverEveryDayAndEveryCycle) {
    ImportWindowsStore();
    // Dial Net: cycle day 15, Today 3725, InsidePeak 18000, OutsidePeak 9125, TotalTime 27125.
    RunStarts("Dial Net",
              {
                  // LastDate's own day; the cycle of 15 November is taken as cleared.
                  {At(2026, 11, 30, 9), {}, {false, 18000, 9125, 3725, 27125}, 600},
                  // The old flag is true, yet every new day clears Today.
                  {At(2026, 12, 1, 8), {kNewDay}, {false, 18000, 9725, 0, 27725}, 300},
                  {At(2026, 12, 1, 21), {}, {false, 18000, 10025, 300, 28025}, 0},
                  {At(2026, 12, 2, 7), {kNewDay}, {false, 18000, 10025, 0, 28025}, 60},
                  {At(2026, 12, 15, 10),
                   {kNewDay, "Since today is day 15, all Timers have been cleared."},
                   {},
                   120},
                  {At(2026, 12, 15, 22), {}, {false, 0, 120, 120, 120}, 0},
                  // Not run on 15 January: the cycle is cleared at the next start, once.
                  {At(2027, 1, 20, 10),
                   {kNewDay, "Since a new billing cycle began on 01/15/2027, all Timers have been "
                             "cleared."},
                   {},
                   60},
                  {At(2027, 1, 21, 10), {kNewDay}, {false, 0, 60, 0, 60}, 0},
              });
}

TEST_F(RolloverStartsTest, OldCycleFlagDoesNotStopLaterClears) {
    ImportWindowsStore();
    // Budget Line: cycle day 1, "CycleDayChanged" already true, TotalTime 7830.
    RunStarts("Budget Line",
              {
                  {At(2026, 11, 30, 9), {}, {false, 0, 0, 0, 7830}, 100},
                  {At(2026, 12, 1, 9),
                   {kNewDay, "Since today is day 1, all Timers have been cleared."},
                   {},
                   100},
                  // Three months not run, over the year's end: one clear.
                  {At(2027, 3, 2, 9),
                   {kNewDay, "Since a new billing cycle began on 03/01/2027, all Timers have been "
                             "cleared."},
                   {},
                   100},
                  {At(2028, 1, 1, 0),
                   {kNewDay, "Since today is day 1, all Timers have been cleared."},
                   {},
                   0},
              });
    Variant flag;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("Budget Line") + "CycleDayChanged", vkBool,
                    flag);
    EXPECT_EQ(flag, Variant(true));
    EXPECT_EQ(ReadLastCycleClear("Budget Line"), EncodeDate(2028, 1, 1));
}

TEST_F(RolloverStartsTest, FirstRunStoresTheDayAndClearsNothing) {
    ASSERT_TRUE(
        SaveProfile("New ISP", {{"seCycleDay", Variant(31), vkInteger}}, {5, 6, 7, 8}, true));
    RunStarts("New ISP", {
                             {At(2026, 4, 29, 12), {}, {false, 6, 7, 5, 8}, 0},
                             {At(2026, 4, 29, 13), {}, {false, 6, 7, 5, 8}, 0},
                             {At(2026, 4, 30, 0),
                              {kNewDay, "Since today is day 30, all Timers have been cleared."},
                              {},
                              0},
                         });
    Variant changed;
    ReadValueByPath(HKEY_LOCAL_MACHINE, std::string(ProductKey) + "LastDateChanged", vkBool,
                    changed);
    EXPECT_EQ(changed, Variant(true));
}

TEST_F(RolloverStartsTest, ProviderPickedOnALaterDayStartsTodayFromZero) {
    struct Case {
        const char* name;
        DateTime savedAt; // 0: saved by the Windows version, without the date
        DateTime pickedAt;
        Duration today;
    };
    const Case cases[] = {
        {"saved the same day", At(2026, 3, 9, 8), At(2026, 3, 9, 23), 500},
        {"saved the day before", At(2026, 3, 8, 23), At(2026, 3, 9, 0), 0},
        {"saved a year before", At(2025, 3, 9, 12), At(2026, 3, 9, 12), 0},
        {"saved without the date", 0, At(2026, 3, 9, 12), 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ProfileSetting> settings;
        if (c.savedAt != 0)
            settings.push_back(LastSaveDateSetting(c.savedAt));
        DeleteProviderProfile("Second");
        ASSERT_TRUE(SaveProfile("Second", settings, {500, 1, 2, 900}, false));
        clock_.Set(c.pickedAt);
        EXPECT_EQ(Load("Second"), (TimerSet{false, 1, 2, c.today, 900}));
    }
}

} // namespace
} // namespace quorvane::test
