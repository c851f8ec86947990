// The counting of a session's bytes from counter readings keyed by the boot and the interface
// (its index, and which interface holds it), and how data volumes are written; the data
// allowance's field, share, alerts and days.
#include "accounting/data_allowance.h"
#include "accounting/data_volume.h"
#include "core/regional.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace quorvane {
namespace {

constexpr const char* kBoot = "5c1e6a2e-1d2f-4f6e-9a3b-0d8c1c2b3a41";
constexpr const char* kNextBoot = "0b7a13c4-7e55-4a0e-8f1d-6e2c9b8a7f10";

CounterReading At(int index, std::uint64_t rx, std::uint64_t tx, const char* boot = kBoot) {
    return {boot, index, {rx, tx}};
}
// A reading of the interface `instance` under `index`, which came into sight with `arrived`.
CounterReading Of(std::uint64_t instance, int index, std::uint64_t rx, std::uint64_t tx,
                  DataBytes arrived = {}) {
    return {kBoot, index, {rx, tx}, instance, arrived};
}

TEST(DataVolume, ASessionCountsEachReadingsNewBytesOnce) {
    struct Case {
        const char* name;
        std::vector<CounterReading> start;
        // Each step's readings, and the bytes it adds.
        std::vector<std::pair<std::vector<CounterReading>, DataBytes>> steps;
    };
    const Case cases[] = {
        {"growth between ticks",
         {At(4, 1000, 500)},
         {{{At(4, 1600, 700)}, {600, 200}}, {{At(4, 1600, 900)}, {0, 200}}}},
        {"the same reading twice counts once",
         {At(4, 1000, 500)},
         {{{At(4, 2000, 500)}, {1000, 0}}, {{At(4, 2000, 500)}, {0, 0}}}},
        {"a counter that falls was reset: all it holds is new",
         {At(4, 9000, 9000)},
         {{{At(4, 9500, 9100)}, {500, 100}}, {{At(4, 300, 40)}, {300, 40}},
          {{At(4, 350, 40)}, {50, 0}}}},
        {"a reset seen on one direction only",
         {At(4, 9000, 9000)},
         {{{At(4, 100, 9400)}, {100, 400}}}},
        {"the interface re-created during the session: a new index counts from zero",
         {At(4, 5000, 5000)},
         {{{At(4, 5200, 5100)}, {200, 100}}, {{At(9, 700, 300)}, {700, 300}},
          {{At(9, 800, 300)}, {100, 0}}}},
        {"a reboot: the same index under a new boot counts from zero",
         {At(4, 5000, 5000)},
         {{{At(4, 80, 20, kNextBoot)}, {80, 20}}, {{At(4, 5100, 5000)}, {100, 0}}}},
        {"gone between two ticks: its final counters are the last reading",
         {At(4, 1000, 1000), At(7, 0, 0)},
         {{{At(4, 1200, 1100), At(7, 50, 50)}, {250, 150}},
          {{At(4, 1900, 1300)}, {700, 200}}, // the removal's final counters
          {{At(7, 60, 60)}, {10, 10}}}},
        {"made again under the same index: another interface, from zero, whatever the last "
         "one's count",
         {Of(1, 77, 5000, 5000)},
         {{{Of(1, 77, 5200, 5100)}, {200, 100}},
          {{Of(1, 77, 5900, 5300)}, {700, 200}}, // the removal's final counters
          {{Of(2, 77, 8000, 300)}, {8000, 300}},
          {{Of(2, 77, 8100, 400)}, {100, 100}}}},
        {"the new one read before the old one's removal is taken in",
         {Of(1, 77, 5000, 5000)},
         {{{Of(2, 77, 40, 9000)}, {40, 9000}},
          {{Of(1, 77, 5900, 5300)}, {900, 300}},
          {{Of(2, 77, 60, 9100)}, {20, 100}}}},
        {"moved to another namespace and back: counted from what it came back with",
         {Of(1, 22, 1000, 1000), Of(2, 23, 0, 0)},
         {{{Of(1, 22, 1500, 1200)}, {500, 200}}, // moved away: a removal
          {{Of(3, 24, 2100, 1900, {2000, 1800})}, {100, 100}},
          {{Of(3, 24, 2600, 1900, {2000, 1800})}, {500, 0}}}},
        {"several interfaces at once",
         {At(2, 10, 10), At(3, 20, 20)},
         {{{At(2, 15, 10), At(3, 20, 29)}, {5, 9}}}},
        {"the full 64 bits",
         {At(4, std::numeric_limits<std::uint64_t>::max() - 10, 0)},
         {{{At(4, std::numeric_limits<std::uint64_t>::max(), 1)}, {10, 1}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionDataCount count;
        count.Begin(c.start);
        DataBytes total;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const DataBytes added = count.Take(c.steps[i].first);
            EXPECT_EQ(added, c.steps[i].second) << "step " << i;
            total += added;
        }
        EXPECT_EQ(count.Counted(), total);
    }
}

TEST(DataVolume, NothingIsCountedOutsideASession) {
    SessionDataCount count;
    EXPECT_EQ(count.Take(At(4, 100, 100)), DataBytes{});
    count.Begin({At(4, 100, 100)});
    EXPECT_EQ(count.Take(At(4, 150, 100)), (DataBytes{50, 0}));
    count.End();
    EXPECT_FALSE(count.Running());
    EXPECT_EQ(count.Take(At(4, 900, 900)), DataBytes{});
    EXPECT_EQ(count.Counted(), (DataBytes{50, 0})); // kept until the next session
    count.Begin({At(4, 900, 900)});
    EXPECT_EQ(count.Counted(), DataBytes{});
}

TEST(DataVolume, VolumesAreWrittenInDecimalUnitsWithThreeDigits) {
    const RegionalSettings saved = Regional();
    Regional() = RegionalSettings{};
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 B"},
        {999, "999 B"},
        {1000, "1 kB"},
        {1234, "1.23 kB"},
        {1235, "1.24 kB"},
        {12340, "12.3 kB"},
        {532000, "532 kB"},
        {999499, "999 kB"},
        {999500, "1 MB"},
        {1200000, "1.2 MB"},
        {1240000000, "1.24 GB"},
        {5000000000, "5 GB"},
        {std::numeric_limits<std::uint64_t>::max(), "18.4 EB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatDataVolume(bytes), text) << bytes;
    Regional().decimalSeparator = ",";
    EXPECT_EQ(FormatDataVolume(1240000000), "1,24 GB");
    Regional() = saved;
}

TEST(DataAllowance, TheFieldTakesWholeMegabytes) {
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"", 0},      {"  ", 0},       {"0", 0},         {"5000", 5000},
        {" 750 ", 750}, {"1.5", std::nullopt}, {"-5", std::nullopt}, {"5 GB", std::nullopt},
        {"abc", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, mb] : cases)
        EXPECT_EQ(ParseDataAllowance(text), mb) << '"' << text << '"';
}

TEST(DataAllowance, TheShareAndTheAlertsFollowWhatCounts) {
    const RegionalSettings saved = Regional();
    Regional() = RegionalSettings{};
    const std::uint64_t allowance = 5000 * kBytesPerMb;
    const DataBytes cycle{1000000000, 240000000};
    EXPECT_EQ(AllowanceUsed(cycle, false), 1240000000u);
    EXPECT_EQ(AllowanceUsed(cycle, true), 1000000000u);
    EXPECT_EQ(AllowanceShareText(1240000000, allowance), "1.24 GB of 5 GB, 24 %");
    EXPECT_EQ(PercentUsed(1, 0), 0);

    struct Case {
        std::uint64_t used;
        int fired;
        int due;
    };
    const Case cases[] = {
        {3999999999, 0, 0},
        {4000000000, 0, kDataAlert80},
        {4000000000, kDataAlert80, 0},
        {4999999999, kDataAlert80, 0},
        {5000000000, kDataAlert80, kDataAlert100},
        {7000000000, 0, kDataAlert100}, // passed at once: one alert
        {7000000000, kDataAlert80 | kDataAlert100, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DataAlertDue(c.used, allowance, c.fired), c.due) << c.used << " " << c.fired;
    EXPECT_EQ(DataAlertDue(9, 0, 0), 0); // no allowance
    EXPECT_EQ(DataAlertsAfter(0, kDataAlert100), kDataAlert80 | kDataAlert100);

    const DataAlertNotice notice =
        DataAlertText(kDataAlert80, 4000000000, allowance, "Mobile Net", 12);
    EXPECT_EQ(notice.summary, "Data allowance 80 % used");
    EXPECT_EQ(notice.body,
              "4 GB of 5 GB, 80 % used with Mobile Net. 12 days are left in the billing cycle.");
    EXPECT_EQ(DataAlertText(kDataAlert100, allowance, allowance, "", std::nullopt).body,
              "5 GB of 5 GB, 100 % used.");
    Regional() = saved;
}

TEST(DataAllowance, DaysLeftRunToTheNextCycleDay) {
    struct Case {
        int cycleDay;
        DateTime today;
        std::optional<int> days;
    };
    const Case cases[] = {
        {0, EncodeDate(2026, 3, 7), std::nullopt},
        {15, EncodeDate(2026, 3, 7), 8},
        {15, EncodeDate(2026, 3, 15), 31},
        {15, EncodeDate(2026, 3, 14), 1},
        {31, EncodeDate(2026, 4, 20), 10}, // 30 April stands for the 31st
        {31, EncodeDate(2026, 4, 30), 31},
        {1, EncodeDate(2026, 12, 31) + 0.75, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DaysLeftInCycle(c.cycleDay, c.today), c.days)
            << c.cycleDay << " " << DecodeDate(c.today).day;
}

} // namespace
} // namespace quorvane
