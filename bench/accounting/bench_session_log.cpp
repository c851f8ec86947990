// What a session's end costs with a long log: WriteSessionLog rewrites the whole file, so it is
// set against copying the same file, plainly, with the same flush to disk, and with cp(1).

#include "accounting/session_log.h"
#include "core/clock.h"
#include "core/regional.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quorvane {
namespace {

namespace fs = std::filesystem;

fs::path& Folder() {
    static fs::path folder = [] {
        const char* home = std::getenv("QUORVANE_HOME");
        std::string pattern = (fs::path(home && *home ? home : fs::temp_directory_path().c_str()) /
                               "bench-session-log-XXXXXX")
                                  .string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return fs::path(pattern);
    }();
    return folder;
}

// A log of `lines` sessions, a few a day, as the program writes them; made once per size.
const fs::path& Original(int lines) {
    static std::map<int, fs::path> made;
    auto it = made.find(lines);
    if (it != made.end())
        return it->second;
    const fs::path path = Folder() / ("original-" + std::to_string(lines) + ".log");
    std::ofstream out(path, std::ios::binary);
    TimerSet timers;
    DateTime moment = EncodeDate(2026, 3, 7) + EncodeTime(22, 0, 0);
    for (int i = 0; i < lines; ++i) {
        timers.InsidePeak = (i * 7919) % 36000;
        timers.OutsidePeak = (i * 104729) % 90000;
        timers.TotalTime = timers.InsidePeak + timers.OutsidePeak;
        std::string charges = "$";
        charges += FormatAmount(i % 5000 / 100.0);
        out << SessionLogLine(moment, timers, charges) << "\r\n";
        moment -= 0.3137;
    }
    return made.emplace(lines, path).first->second;
}

void CopyFile(const fs::path& from, const fs::path& to, bool flush) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(128 * 1024);
    for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        for (ssize_t done = 0; done < n;)
            done += ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
    if (flush)
        ::fdatasync(out);
    ::close(in);
    ::close(out);
}

void SetCounters(benchmark::State& state, const fs::path& file) {
    const auto bytes = static_cast<std::int64_t>(fs::file_size(file));
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_WriteSessionLog(benchmark::State& state) {
    const fs::path& original = Original(static_cast<int>(state.range(0)));
    const fs::path log = Folder() / "usage.log";
    TimerSet timers{false, 60, 0, 0, 43205};
    for (auto _ : state) {
        // Each run starts from the same log, not one a line longer than the last.
        state.PauseTiming();
        CopyFile(original, log, false);
        state.ResumeTiming();
        if (!WriteSessionLog(log.string(), timers, "$1.50"))
            state.SkipWithError("WriteSessionLog failed");
    }
    SetCounters(state, original);
}

void BM_PlainCopy(benchmark::State& state) {
    const fs::path& original = Original(static_cast<int>(state.range(0)));
    for (auto _ : state)
        CopyFile(original, Folder() / "copy.log", false);
    SetCounters(state, original);
}

// The same copy flushed to disk, as the log is before it replaces the old one.
void BM_PlainCopyFlushed(benchmark::State& state) {
    const fs::path& original = Original(static_cast<int>(state.range(0)));
    for (auto _ : state)
        CopyFile(original, Folder() / "copy.log", true);
    SetCounters(state, original);
}

void BM_CpCommand(benchmark::State& state) {
    const fs::path& original = Original(static_cast<int>(state.range(0)));
    const std::string from = original.string();
    const std::string to = (Folder() / "copy.log").string();
    char* argv[] = {const_cast<char*>("cp"), const_cast<char*>(from.c_str()),
                    const_cast<char*>(to.c_str()), nullptr};
    for (auto _ : state) {
        pid_t pid;
        int status = 0;
        if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || status != 0)
            state.SkipWithError("cp failed");
    }
    SetCounters(state, original);
}

// Fixed counts: the first runs of a size also read the original into the page cache, and the
// largest log takes a noticeable while per run.
#define SIZES(bm)                                                                                  \
    BENCHMARK(bm)->Arg(1000)->Iterations(400)->Unit(benchmark::kMillisecond);                      \
    BENCHMARK(bm)->Arg(100000)->Iterations(40)->Unit(benchmark::kMillisecond);                     \
    BENCHMARK(bm)->Arg(1000000)->Iterations(8)->Unit(benchmark::kMillisecond)

SIZES(BM_WriteSessionLog);
SIZES(BM_PlainCopy);
SIZES(BM_PlainCopyFlushed);
SIZES(BM_CpCommand);

} // namespace
} // namespace quorvane

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(quorvane::Folder());
    return 0;
}
