// The usage history of a store with ten years of sessions (40 000 rows): what quorvane-usage
// costs as a command, from its start to its end, and what the History window's queries for one
// billing cycle cost (its days for the chart, its sessions for the table, the last 12 cycles).
#include "bench/support/history_store.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace quorvane;

namespace {

const DateTime kToday = EncodeDate(2026, 3, 16);

// The real command on the benchmark's store, what it prints dropped.
void RunUsage(benchmark::State& state, const std::vector<std::string>& args) {
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("QUORVANE_NOW", "2026-03-16T18:00:00", 1);
            const int null = ::open("/dev/null", O_WRONLY);
            if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0)
                ::_exit(126);
            std::vector<char*> argv{const_cast<char*>(QUORVANE_USAGE_TOOL)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(QUORVANE_USAGE_TOOL, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("quorvane-usage failed");
    }
}

void BM_UsageCycles12(benchmark::State& state) {
    RunUsage(state, {"--cycles", "12"});
}
BENCHMARK(BM_UsageCycles12)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly();

void BM_UsageToday(benchmark::State& state) {
    RunUsage(state, {});
}
BENCHMARK(BM_UsageToday)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly();

// Every session of the 12 cycles in the JSON object, some 4 000 of them.
void BM_UsageCycles12Json(benchmark::State& state) {
    RunUsage(state, {"--json", "--cycles", "12"});
}
BENCHMARK(BM_UsageCycles12Json)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly();

// What the window reads to draw one cycle: the history opened, the cycle's days for the chart,
// its sessions for the table, and the last 12 cycles for the month view.
void BM_WindowOneCycle(benchmark::State& state) {
    for (auto _ : state) {
        std::string why;
        const auto history = UsageHistory::Open(&why);
        if (!history) {
            state.SkipWithError(why.c_str());
            break;
        }
        const CycleBounds cycle = CycleAround(bench::kHistoryCycleDay, kToday);
        benchmark::DoNotOptimize(history->Days(bench::kHistoryProvider, cycle.start, cycle.end));
        benchmark::DoNotOptimize(
            history->Sessions(bench::kHistoryProvider, cycle.start, cycle.end));
        benchmark::DoNotOptimize(
            history->LastCycles(bench::kHistoryProvider, bench::kHistoryCycleDay, kToday, 12));
    }
}
BENCHMARK(BM_WindowOneCycle)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    bench::FillTenYearsOfHistory(kToday);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
