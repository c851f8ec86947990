#include "core/clock.h"

#include <ctime>
#include <sys/time.h>

namespace quorvane {

namespace {
std::function<DateTime()>& InstalledClock() {
    static std::function<DateTime()> clock;
    return clock;
}
} // namespace

DateTime SystemNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(ts.tv_nsec / 1000000));
}

DateTime Now() {
    const auto& clock = InstalledClock();
    return clock ? clock() : SystemNow();
}

void SetClock(std::function<DateTime()> clock) {
    InstalledClock() = std::move(clock);
}

SteadyTime SteadyNow() {
    return std::chrono::steady_clock::now();
}

ManualClock::ManualClock(DateTime start) : now_(start) {
    SetClock([this] { return now_; });
}

ManualClock::~ManualClock() {
    SetClock({});
}

} // namespace quorvane
