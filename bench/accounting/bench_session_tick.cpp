// One session tick's arithmetic, as the window's timer runs it once a second: the peak period on
// and the COM Port delay long past, one second later each time (a day change every 86 400 runs).

#include "accounting/session_tick.h"

#include <benchmark/benchmark.h>

namespace quorvane {
namespace {

void BM_SessionTick(benchmark::State& state) {
    TimerSet timers{false, 3600, 7200, 1800, 36000};
    SessionTick tick(timers);
    const SessionTickInputs inputs{true, EncodeTime(8, 0, 0), EncodeTime(18, 0, 0), true, 0, 30};
    DateTime now = EncodeDate(2026, 3, 9) + EncodeTime(7, 0, 0, 250);
    tick.Tick(now, true, inputs, {});
    now += 60 * kOneSecond;
    const std::function<void()> save = [] {};
    for (auto _ : state) {
        now += kOneSecond;
        benchmark::DoNotOptimize(tick.Tick(now, false, inputs, save));
        benchmark::DoNotOptimize(timers);
    }
}
BENCHMARK(BM_SessionTick)->Repetitions(15)->ReportAggregatesOnly(true);

} // namespace
} // namespace quorvane

BENCHMARK_MAIN();
