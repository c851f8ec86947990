#pragma once
// The arithmetic of the once-a-second session tick: the session's elapsed time, Today and
// TotalTime, the split of the session's seconds inside and outside the peak period, the day
// change and the COM Port dialling delay. The window's tOnLine handler calls Tick() with the
// moment from Now() and its controls' values, then shows what the tick computed; every figure is
// reckoned from the clock, so late or merged timer messages lose nothing.
//
// How the seconds are counted: the session's k-th second ends k seconds after SessionStart and
// belongs to the peak side of that ending moment (InsidePeakPeriod). A tick writes only the side
// of its own moment; SettleForSave() brings the other side up to date, so after it the growth of
// InsidePeak plus OutsidePeak over the session equals the growth of TotalTime exactly.
//
// Use from the window:
//   tOnLineTimer:  r = tick.Tick(Now(), tag == 1, inputs, [&] { save the provider; });
//                  tag = 0; lStart from Values().StartTime when r.startMoved; lCurrent, lElapsed,
//                  lToday, lTotalTime, lCharges; lInsidePeak / lOutsidePeak as r says.
//   StopSession:   tick.SettleForSave(); then save and log.
//   Any other save while a session runs (window close, provider Save): SettleForSave() first.
//   The totals set from outside while a session runs (an adjustment, Clear All, a billing-cycle
//   clear): TotalsChanged(), and the session goes on counting from them.
//   What the session has added so far, to keep in the store against a kill: Counted().

#include "accounting/timevalues.h"

#include <functional>

namespace quorvane {

// The controls a tick reads.
struct SessionTickInputs {
    // "Enable Peak Period" with the period's start and stop as clock times (only the time of
    // day counts). Pass false when either text does not read as a clock time.
    bool peakEnabled = false;
    DateTime peakStart = 0.0;
    DateTime peakStop = 0.0;
    // The COM Port method with its dialling delay (0 to 59 minutes, 0 to 59 seconds).
    bool comPortMode = false;
    int delayMinutes = 0;
    int delaySeconds = 0;
};

// The running session's values. They keep their last state after the session stops until the
// next session's first tick.
struct SessionValues {
    // The clock time "Start Time" shows: the first tick, or the end of the dialling delay.
    DateTime StartTime = 0.0;
    // The base that Elapsed is reckoned from; moves to the current moment at midnight.
    DateTime SessionStart = 0.0;
    Duration TodayAtStart = 0;
    Duration TotalTimeAtStart = 0;
    Duration InsidePeakAtStart = 0;
    Duration OutsidePeakAtStart = 0;
    Duration Elapsed = 0;
};

// What a session has added to the totals since its first tick: to TotalTime (its counted
// seconds) and to each peak side. Dialling before the COM Port delay counts until the delay is
// reached, and is taken off again then; totals set from outside (TotalsChanged) are not the
// session's.
struct SessionCounts {
    Duration seconds = 0;
    Duration insidePeak = 0;
    Duration outsidePeak = 0;

    bool operator==(const SessionCounts&) const = default;
};

// What a tick changed that the window has to show.
struct TickResult {
    bool firstTick = false;  // the session's first tick was taken
    bool startMoved = false; // StartTime changed: first tick or the dialling delay reached
    bool dayChanged = false; // the old day's totals went to saveOldDay, then Today restarted
    bool wroteInsidePeak = false;
    bool wroteOutsidePeak = false;
    bool skipped = false; // a tick that came in while saveOldDay was running: nothing done
};

class SessionTick {
public:
    // Works on the program's one TimerSet, which must outlive this object.
    explicit SessionTick(TimerSet& timers) : timers_(timers) {}
    SessionTick(const SessionTick&) = delete;
    SessionTick& operator=(const SessionTick&) = delete;

    // One tick at `now`. `firstTick` is tOnLine's flag; the first tick of a new session takes
    // SessionStart and the four AtStart copies (and is taken anyway if no session has started
    // yet). On the first tick of a new calendar day, the totals are brought up to `now` on both
    // peak sides and `saveOldDay` runs before Today restarts from 0. Should saveOldDay throw,
    // nothing has been reset and the next tick makes the day change again.
    TickResult Tick(DateTime now, bool firstTick, const SessionTickInputs& inputs,
                    const std::function<void()>& saveOldDay);

    // Brings both peak totals up to the last tick, with that tick's period; nothing when the
    // peak period was off then or no session has ticked yet. Call before saving the totals.
    void SettleForSave();

    // The TimerSet's totals were set from outside: the session goes on from them, so the next
    // tick adds only the seconds since the last one. While the dialling delay runs, the values
    // set stand once it is reached (the dialling before the change is taken to be in them).
    // Nothing to do, and harmless, when no session has ticked.
    void TotalsChanged();

    const SessionValues& Values() const { return values_; }
    // The running session's additions as its last tick (or SettleForSave) wrote them; zero
    // before a session's first tick.
    const SessionCounts& Counted() const { return counted_; }

private:
    struct Sides {
        Duration inside = 0;
        Duration outside = 0;
    };
    // The session's seconds since SessionStart on each side of the period, up to `elapsed`.
    Sides Split(Duration elapsed) const;
    void WritePeak(const Sides& sides, bool inside, bool outside);
    // Elapsed, Today and TotalTime at `now`; answers Elapsed.
    Duration Advance(DateTime now);
    // Sets a total the session adds to, counting what it added.
    static void Count(Duration& total, Duration value, Duration& counted);

    TimerSet& timers_;
    SessionValues values_;
    SessionTickInputs inputs_;
    SessionCounts counted_;
    bool started_ = false;
    bool delayPending_ = false;
    // Dialling time that earlier days of the session have already used up.
    Duration dialledTotal_ = 0;
    // Dialling seconds the AtStart copies hold (carried in by a day change, or taken out by
    // TotalsChanged), taken off again when the delay is reached.
    struct Unbilled {
        Duration today = 0;
        Duration total = 0;
        Sides sides;
    };
    Unbilled unbilled_;
    bool inSave_ = false;
};

} // namespace quorvane
