// The usage history written by the real window into a real store, on a moved clock: every
// session's rows against the totals the same saves stored.
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/rollover_store.h"
#include "tests/app/window_test.h"
#include "watch/net_interfaces.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace quorvane;
using quorvane::test::H;

namespace {

DateTime At(int day, int hour, int minute = 0, int second = 0) {
    return EncodeDate(2026, 3, day) + EncodeTime(hour, minute, second);
}

constexpr int kCycleDay = 15;

class History : public test::WindowTest {
protected:
    // A Manual provider with a billing cycle from the 15th, a peak period from 8 AM to 6 PM and
    // a price, so that its rows have both peak sides and a charges text.
    void StoreProvider(const std::string& name, bool makeDefault) {
        ASSERT_TRUE(SaveProfile(name,
                                {{"cbDetection", Variant(2), vkInteger},
                                 {"seCycleDay", Variant(kCycleDay), vkInteger},
                                 {"ckEnablePeak", Variant(true), vkBool},
                                 {"eStart", Variant("08:00:00 AM"), vkString},
                                 {"eStop", Variant("06:00:00 PM"), vkString},
                                 {"ckEnableBilling", Variant(true), vkBool},
                                 {"eFreeHours", Variant("0"), vkString},
                                 {"ePrice", Variant("1.20"), vkString}},
                                {}, makeDefault));
    }

    static ProfileTotals Stored(const std::string& name) {
        ProfileTotals totals{};
        LoadProfileTotals(name, totals);
        return totals;
    }

    static std::unique_ptr<UsageHistory> Open() {
        std::string why;
        auto history = UsageHistory::Open(&why);
        EXPECT_TRUE(history) << why;
        return history;
    }
};

// How a scripted session ends.
enum class Ending { Stop, Close, Kill };

struct ScriptedSession {
    DateTime start;
    int seconds;
    Ending ending;
    // At midnight during the session, the day and cycle checks run before the session's tick
    // (the two timers fire in either order).
    bool checksFirst = false;
    // Hours added to TotalTime on the Adjust Timers page halfway through.
    int adjustHours = 0;
};

// Over days with sessions across midnight, into the cycle day, cut short and recovered, closed
// with the window, and adjusted: each day's rows hold what that day's Today held when the day
// was over, and the current cycle's rows what TotalTime holds less what adjustments added.
TEST_F(History, TheRowsAddUpToTheTotals) {
    StoreProvider("Dial Net", true);
    const ScriptedSession script[] = {
        {At(12, 10, 0, 0), H(0, 30), Ending::Stop},
        {At(12, 17, 50, 3), H(0, 20, 7), Ending::Stop, false, 1}, // across the peak's end
        {At(12, 23, 50, 0), H(0, 30), Ending::Stop},              // across midnight
        {At(13, 21, 0, 0), H(0, 12, 40), Ending::Kill},           // recovered at the next start
        {At(13, 23, 40, 0), H(2, 0, 5), Ending::Close, false, 2}, // the window closed
        {At(14, 23, 55, 0), H(0, 10), Ending::Stop, true},        // into the cycle day, checks first
        {At(15, 23, 58, 0), H(0, 4), Ending::Kill},               // cut after midnight
        {At(16, 9, 0, 0), H(0, 45, 30), Ending::Stop, false, 1},
    };
    // What each day's Today held when its totals were last saved for it.
    std::map<DateTime, int> todayOf;
    int adjustedInCycle = 0;
    DateTime cycleStart = CycleAround(kCycleDay, script[0].start).start;
    const auto look = [&] {
        const ProfileTotals totals = Stored("Dial Net");
        if (const auto savedFor = ReadLastSaveDate("Dial Net"))
            todayOf[DateOf(*savedFor)] = totals[0];
        const CycleBounds cycle = CycleAround(kCycleDay, clock_.Get());
        if (cycle.start != cycleStart) {
            cycleStart = cycle.start;
            adjustedInCycle = 0;
        }
    };

    std::unique_ptr<TfrmTimer> w;
    for (const ScriptedSession& s : script) {
        SCOPED_TRACE(Iso8601(MomentOf(s.start)));
        clock_.Set(s.start);
        if (!w) {
            w = std::make_unique<TfrmTimer>(); // recovers a session cut short
            look();
        }
        w->tRolloverTimer();
        look();
        w->sbManual->click();
        w->tOnLineTimer();
        int elapsed = 0;
        while (elapsed < s.seconds) {
            // Steps of 7 s cross midnight and the peak's ends between seconds.
            const int step = std::min(7, s.seconds - elapsed);
            const DateTime next = s.start + (elapsed + step) * kOneSecond;
            if (DateOf(next) != DateOf(clock_.Get()) && s.checksFirst) {
                clock_.Set(DateOf(next) + 0.2 * kOneSecond);
                // The checks' timer ticks the session first, as this does; the clears that
                // follow at once leave the old day's save to be seen only here.
                w->tOnLineTimer();
                look();
                w->tRolloverTimer();
                look();
            }
            clock_.Set(next);
            w->tOnLineTimer();
            if (DateOf(next) != DateOf(s.start) && !s.checksFirst)
                w->tRolloverTimer();
            look();
            elapsed += step;
            if (s.adjustHours != 0 && elapsed >= s.seconds / 2 && elapsed - step < s.seconds / 2) {
                w->SetActivePage(QStringLiteral("Adjust Timers"));
                w->rbTotalTime->click();
                w->seAdjHour->setValue(s.adjustHours);
                w->btnAdjust->click();
                adjustedInCycle += H(s.adjustHours);
                look();
            }
        }
        switch (s.ending) {
        case Ending::Stop:
            w->sbManual->click();
            break;
        case Ending::Close:
            w->close();
            w.reset();
            break;
        case Ending::Kill:
            w.reset();
            break;
        }
        look();
    }
    clock_.Set(At(16, 12));
    w = std::make_unique<TfrmTimer>();
    look();

    const auto history = Open();
    for (const auto& [day, today] : todayOf) {
        SCOPED_TRACE(IsoDate(day));
        EXPECT_EQ(history->Days("Dial Net", day, day + 1).at(0).sums.seconds, today);
    }
    const CycleUsage cycle = history->LastCycles("Dial Net", kCycleDay, clock_.Get(), 1).at(0);
    EXPECT_EQ(cycle.bounds.start, EncodeDate(2026, 3, 15));
    const ProfileTotals totals = Stored("Dial Net");
    EXPECT_EQ(cycle.sums.seconds, totals[3] - adjustedInCycle);
    EXPECT_EQ(cycle.sums.insidePeak, totals[1]);
    EXPECT_EQ(cycle.sums.outsidePeak, totals[2]);

    std::vector<SessionEnd> ended;
    for (const SessionRow& row : history->LastSessions("Dial Net", 100)) {
        ended.push_back(row.ended);
        // The Manual method counts no bytes.
        EXPECT_EQ(row.rx, std::nullopt);
        EXPECT_EQ(row.charges.substr(0, 1), "$");
    }
    using enum SessionEnd;
    EXPECT_EQ(ended, (std::vector<SessionEnd>{Stopped, Stopped, Midnight, Stopped, Recovered,
                                              Midnight, Closed, Midnight, Stopped, Midnight,
                                              Recovered, Stopped}));
}

// A session of the Network Interface method across midnight: each day's row has the bytes that
// day's data totals got, and the two add up to the cycle's.
TEST_F(History, ANetworkSessionsRowsCarryItsBytes) {
    clock_.Set(At(12, 23, 59, 50));
    FakeNetInterfaces interfaces;
    TfrmTimer w;
    w.SetInterfaceSource(interfaces);
    w.cbProvider->setEditText(QStringLiteral("Mobile Net"));
    w.cbDetection->setCurrentIndex(kNetworkInterface);
    w.eInterface->setEditText(QStringLiteral("usb0"));
    w.btnSave->click();
    w.sbWatching->click();
    const int usb = interfaces.AddOnline("usb0", {5000, 5000});
    // Every wait ends at its event; the bound is only for a broken set-up.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.tOnLine->isActive(); }, 120000));
    Tick(w, 0);
    interfaces.SetCounters(usb, {8000, 5500});
    Tick(w, 5);
    EXPECT_EQ(w.Data.today, (DataBytes{3000, 500}));
    interfaces.SetCounters(usb, {9000, 5600});
    Tick(w, 6); // 00:00:01: the old day is saved with the bytes it had
    w.tRolloverTimer();
    interfaces.SetCounters(usb, {12000, 6000});
    Tick(w, 5);
    interfaces.SetUp(usb, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.tOnLine->isActive(); }, 120000));

    const std::vector<SessionRow> rows = Open()->LastSessions("Mobile Net", 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].ended, SessionEnd::Midnight);
    EXPECT_EQ(rows[0].rx, 3000u);
    EXPECT_EQ(rows[0].tx, 500u);
    EXPECT_EQ(rows[1].ended, SessionEnd::Stopped);
    EXPECT_EQ(rows[1].rx, w.Data.today.rx);
    EXPECT_EQ(rows[1].tx, w.Data.today.tx);
    EXPECT_EQ(*rows[0].rx + *rows[1].rx, w.Data.total.rx);
    EXPECT_EQ(*rows[0].tx + *rows[1].tx, w.Data.total.tx);
}

// The rows are the history of what was used: a provider deleted keeps them, under its name.
TEST_F(History, ADeletedProvidersRowsStay) {
    StoreProvider("Dial Net", true);
    clock_.Set(At(12, 10));
    TfrmTimer w;
    w.sbManual->click();
    Tick(w, 0);
    Tick(w, 90);
    w.sbManual->click();
    boxes_->Answer(mrYes);
    w.btnDelete->click();
    ASSERT_FALSE(ProviderExists("Dial Net"));

    const auto history = Open();
    EXPECT_EQ(history->Providers(), std::vector<std::string>{"Dial Net"});
    const std::vector<SessionRow> rows = history->LastSessions("dial net", 10);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].seconds, 90);
    EXPECT_EQ(Iso8601(rows[0].start), "2026-03-12T10:00:00+00:00");
    EXPECT_EQ(Iso8601(rows[0].end), "2026-03-12T10:01:30+00:00");
}

} // namespace
