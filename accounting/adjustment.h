#pragma once
// The arithmetic of the "Adjust Timers" page: one total raised or lowered by hours and minutes,
// and what the page's read-outs show. The spin edits and radio buttons stay the window's data;
// its handlers call these:
//   rb*Click, seAdjHourChange: r = ReadAdjustment(TimerOf(Timers, selected), seAdjHour, seAdjMin)
//                 (the current value as the radio button's click took it); lCurrValue,
//                 lAdjValue and btnAdjust's enabled state from r.
//   btnAdjustClick: ApplyAdjustment(Timers, selected, seAdjHour, seAdjMin);
//                 tick.TotalsChanged() when a session runs; save; spin edits to 0; ShowAllTimers.
//   btnClearAllClick, after Yes: ClearTimers(Timers); tick.TotalsChanged() when a session runs;
//                 then the read-outs as before.
// With a session running, the next tick goes on counting from the adjusted totals, and the
// session's save and log line hold them.

#include "accounting/timevalues.h"

#include <string>

namespace quorvane {

enum class AdjustableTimer { Today, TotalTime, InsidePeak, OutsidePeak };

Duration& TimerOf(TimerSet& timers, AdjustableTimer which);

// The value after adding `hours` and `minutes`: a part that would on its own take the value below
// zero is dropped, and two parts that each fit but together do not give 0, since a negative
// time is never stored. Beyond the largest Duration the value stays at that largest one.
Duration AdjustedValue(Duration current, int hours, int minutes);

struct AdjustmentReadout {
    Duration adjusted = 0;
    bool adjustEnabled = false; // either spin edit is not 0
    std::string currentText;    // lCurrValue
    std::string adjustedText;   // lAdjValue
};
AdjustmentReadout ReadAdjustment(Duration current, int hours, int minutes);

// The selected total becomes its adjusted value, reckoned from what the total holds now: while a
// session runs it has grown since the page took its current value, and that time is not lost.
// Nothing changes when both parts are 0.
void ApplyAdjustment(TimerSet& timers, AdjustableTimer which, int hours, int minutes);

} // namespace quorvane
