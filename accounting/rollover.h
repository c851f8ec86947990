#pragma once
// When the running totals start again: Today on every new calendar day, all four totals once for
// every billing cycle that has begun since the provider's last clear, however many cycles went by
// while the program was not running. Pure decisions on dates; what was last seen is kept in the
// store by settings/rollover_store.h, and the window joins the two.
//
// Use from the window, at start-up after the default provider is loaded and again whenever
// RolloverDue says so (today = DateOf(Now())):
//   CheckNewDay:   d = DecideNewDay(ReadLastDate(), today);
//                  if (d.store) WriteLastDate(today, d.newDay);
//                  if (d.newDay) { ShowInformation(kNewDayMessage);
//                                  Today = 0 and save, unless a session runs: its tick restarts
//                                  Today at its first tick of the new day }
//   CheckCycleDay: c = DecideCycleClear(seCycleDay, ReadLastCycleClear(name), today);
//                  if (c.record) WriteLastCycleClear(name, *c.record, c.clear);
//                  if (c.clear) { ShowInformation(c.message); ClearTimers(Timers);
//                                 tick.TotalsChanged() when a session runs; save }
//   Loading a provider: if (!StoredTodayHolds(ReadLastSaveDate(name), today)) Today = 0.
//   A repeating timer (each second is cheap enough), lastCheck first set at start-up:
//                  previous = lastCheck; lastCheck = Now();
//                  if (RolloverDue(previous, lastCheck)) { CheckNewDay; CheckCycleDay; }
// Remember the moment and store before showing: a modal box runs its own event loop, in which
// the timer may fire again, and it must then find the day already taken.

#include "core/datetime.h"

#include <optional>
#include <string>

namespace quorvane {

inline constexpr const char* kNewDayMessage =
    "A new day has been detected. Today Timer has been cleared.";

struct NewDayDecision {
    bool newDay = false; // show kNewDayMessage, then clear Today
    bool store = false;  // store today as the last date, flagged as changed when newDay
};

// A start on a date other than the stored last date (later or earlier: a clock set back counts
// too) is a new day, every time. Without a stored last date (the first run) today is stored and
// nothing is cleared.
NewDayDecision DecideNewDay(std::optional<DateTime> lastDate, DateTime today);

// CycleStart, the day the current billing cycle began, is in core/datetime.h.

struct CycleDecision {
    bool clear = false;             // show `message`, then clear all four totals
    std::optional<DateTime> record; // store this as the provider's last clear
    std::string message;
};

// Clears once when a cycle has begun after the last clear, however many were missed. A provider
// without a usable last clear (new, brought from Windows, or one recorded after today by a clock
// that was wrong) takes the current cycle's start as its last clear and clears only when today
// is that day. The message on the cycle's first day says which day of the month it is; a cycle
// that began on an earlier day is named by its date in the short date format.
CycleDecision DecideCycleClear(int cycleDay, std::optional<DateTime> lastClear, DateTime today);

// Whether a provider's stored Today still counts when it is loaded: not when its totals were
// saved on another day. A provider saved without that date keeps its Today.
bool StoredTodayHolds(std::optional<DateTime> savedOn, DateTime today);

// Whether the checks must run again since the last one, for a timer of the window that calls
// this with the moment of its last call and now: the local date has changed, at midnight or by
// a jump of the wall clock (a resume from suspend, the clock set by hand or by NTP). The checks
// depend on the date alone, so a jump within one day needs nothing.
bool RolloverDue(DateTime previousCheck, DateTime now);

} // namespace quorvane
