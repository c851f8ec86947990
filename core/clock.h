#pragma once
// The one clock of the program. Everything that needs "now" asks here, so tests can move time:
// the wall clock (local date and time) and the steady clock (intervals, unaffected by clock
// changes).

#include "core/datetime.h"

#include <chrono>
#include <functional>

namespace quorvane {

// The local date and time as a DateTime.
DateTime Now();

// The system's local wall clock, whatever clock is installed.
DateTime SystemNow();

// Replaces the clock; an empty function puts the system clock back. Main thread only.
void SetClock(std::function<DateTime()> clock);

// A clock a test can set and move; installs itself and restores the system clock when it goes.
class ManualClock {
public:
    explicit ManualClock(DateTime start);
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void Set(DateTime value) { now_ = value; }
    void AdvanceSeconds(double seconds) { now_ += seconds / 86400.0; }
    DateTime Get() const { return now_; }

private:
    DateTime now_;
};

using SteadyTime = std::chrono::steady_clock::time_point;

// The monotonic time, for intervals. Any thread.
SteadyTime SteadyNow();

} // namespace quorvane
