#pragma once
// A session cut short, by a kill, a crash or a power cut, is not lost: while it runs its state
// is written to the store every kSessionStateSeconds and at each day change (settings/
// session_store.h), and the next start adds to the provider's stored totals what they do not
// hold of it yet, as if the session had stopped at the state's last write.
//
// Use from the window:
//   at the session's first tick:   last = now
//   at each later tick:            if (SessionStateDue(last, now)) { write the state; last = now }
//   with every save of the totals while the session runs: the state too, in the same commit,
//                                  its saved counts then equal to its counted ones
//   when the session stops:        the save of the totals removes the state in the same commit;
//                                  a save that cannot be made leaves the state, final now, until
//                                  a later commit adds the session as r below adds a cut one
//   at start-up, before the day and cycle checks, when a state is left:
//                                  r = RecoverCutSession(cut, stored totals, their day);
//                                  store r with the state removed, in one commit; then the log
//                                  line for r at cut.lastWrite, and RecoveredSessionMessage.

#include "accounting/data_volume.h"
#include "accounting/session_tick.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// How often a running session's state is written, on the moments its ticks are given: at most
// this many seconds of a session are lost to a kill (and the lateness of the tick that writes).
inline constexpr int kSessionStateSeconds = 30;

// Whether the state is due at the tick at `now`, the last write (or the session's first tick)
// having been at `last`: kSessionStateSeconds later, or at once after the clock was set back.
bool SessionStateDue(DateTime last, DateTime now);

// A session's state as last written.
struct CutSession {
    DateTime firstTick = 0.0;
    DateTime lastWrite = 0.0;
    // What the session had added up to lastWrite, and how much of that the provider's stored
    // totals already held (saved with them at a day change, a provider Save, an adjustment).
    SessionCounts counted;
    SessionCounts saved;
    // The bytes it had counted, and how many of them the stored data totals held.
    DataBytes countedBytes{};
    DataBytes savedBytes{};
};

struct RecoveredTotals {
    TimerSet timers;
    // The day their Today counts for: that of the last write.
    DateTime savedFor = 0.0;
    DataTotals data{};
};

// The provider's totals as a stop at the last write would have left them: TotalTime and the
// peak sides with what the stored ones lack of the session; Today with what of that fell on the
// day of the last write, added to the stored Today when that counts for the same day and in its
// place otherwise. No total falls below 0. `storedSavedFor` is the day the stored Today counts
// for (nullopt: saved without one, so it holds). The bytes the stored data totals lack go to the
// total and to the last write's Today alike.
RecoveredTotals RecoverCutSession(const CutSession& cut, const TimerSet& stored,
                                  std::optional<DateTime> storedSavedFor,
                                  const DataTotals& storedData = {});

// What the user is told: the session's date, the provider (left out when blank), and its
// length up to the last write, which has been recovered.
std::string RecoveredSessionMessage(std::string_view provider, const CutSession& cut);

} // namespace quorvane
