// What a kill costs a running session, and what keeping its state costs the disk, on the real
// program (the quorvane built beside this benchmark, or the one --program=PATH names):
//   - lost: --kills=N (20) kills with SIGKILL at random moments of a Manual session (a random
//     1 to 12 ticks into it, then a random part of a second), each followed by a start that
//     recovers it; the session's length up to the kill less the time recovered, median and
//     maximum. The state file's ticks are seen through inotify on the runtime folder.
//   - disk: the bytes the program sends to the disk per hour of a running session
//     (/proc/PID/io write_bytes, and cancelled_write_bytes: dirtied but dropped before they were
//     written), measured over --seconds=N (120) and scaled to an hour, with the runtime folder on
//     a tmpfs (/dev/shm) and with none (the state file then in the store folder). --base=PATH
//     measures another build of the program (an earlier version, say) the same way beside it.
// The store folders are made below the current folder, which should be on a disk.
#include "core/clock.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/session_file.h"
#include "support/program_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace quorvane;
using test::FolderWatch;
using test::Program;

namespace {

namespace fs = std::filesystem;

struct Options {
    std::string program = QUORVANE_BINARY;
    std::string base;
    int kills = 20;
    int seconds = 120;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string("--") + name + "=";
            return arg.starts_with(prefix) ? argv[i] + prefix.size() : nullptr;
        };
        if (const char* v = value("program"))
            options.program = v;
        else if (const char* v = value("base"))
            options.base = v;
        else if (const char* v = value("kills"))
            options.kills = std::atoi(v);
        else if (const char* v = value("seconds"))
            options.seconds = std::atoi(v);
    }
    return options;
}

// A store folder of its own with one Manual provider that starts its session when run and logs.
fs::path FreshStore(const std::string& name) {
    const fs::path home = fs::absolute("bench-session-kill") / name;
    fs::remove_all(home);
    fs::create_directories(home / "logs");
    setenv("QUORVANE_HOME", home.c_str(), 1);
    SaveProfile("MyISP",
                {{"cbDetection", Variant(2), vkInteger},
                 {"ckStartWhenRun", Variant(true), vkBool},
                 {"ckEnableLogging", Variant(true), vkBool},
                 {"eLogFile", Variant((home / "logs" / "myisp.log").string()), vkString}},
                {0, 0, 0, 0}, true);
    return home;
}

fs::path FreshRuntimeFolder() {
    char name[] = "/dev/shm/quorvane-bench-XXXXXX";
    if (!::mkdtemp(name)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return name;
}

int StoredTotal() {
    Variant value;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + "TotalTime", vkInteger, value);
    return value.isEmpty() ? 0 : value.toInt();
}

std::size_t LogLines(const fs::path& home) {
    std::ifstream in(home / "logs" / "myisp.log");
    return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

std::map<std::string, std::string> Environment(const fs::path& runtime) {
    return {{"XDG_RUNTIME_DIR", runtime.string()},
            {"QUORVANE_ALSA_PCM", "null"},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void MeasureKills(const Options& options) {
    const fs::path home = FreshStore("kills");
    const fs::path runtime = FreshRuntimeFolder();
    const std::map<std::string, std::string> env = Environment(runtime);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    const fs::path file = SessionStateFilePath().filename();
    std::vector<double> lost;
    for (int kill = 1; kill <= options.kills; ++kill) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const int before = StoredTotal();
        DateTime killed = 0.0;
        {
            FolderWatch watch(runtime);
            Program session(options.program.c_str(), env, home / "session.err");
            const int ticks = std::uniform_int_distribution(1, 12)(random);
            for (int tick = 0; tick < ticks; ++tick) {
                if (!watch.WaitForChange(file.string(), session)) {
                    std::fprintf(stderr, "the program ended: %s\n", session.Errors().c_str());
                    std::exit(1);
                }
            }
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution(0, 999)(random)));
            killed = SystemNow();
            session.Kill();
        }
        const std::optional<StoredSessionState> state = ReadSessionStateFile().state;
        if (!state) {
            std::fprintf(stderr, "no state file after the kill\n");
            std::exit(1);
        }
        {
            FolderWatch logs(home / "logs");
            Program recovering(options.program.c_str(), env, home / "recovery.err");
            if (!logs.WaitUntil(recovering, [&] { return LogLines(home) == std::size_t(kill); })) {
                std::fprintf(stderr, "not recovered: %s\n", recovering.Errors().c_str());
                std::exit(1);
            }
        }
        const double length = (killed - state->firstTick) * 86400.0;
        lost.push_back(length - (StoredTotal() - before));
    }
    std::printf("%d kills (seed %u): time lost median %.2f s, max %.2f s\n", options.kills, seed,
                Median(lost), *std::max_element(lost.begin(), lost.end()));
    fs::remove_all(runtime);
}

struct Io {
    long long written = 0;
    long long cancelled = 0;
};

Io ReadIo(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    Io io;
    for (std::string name; in >> name;) {
        long long value = 0;
        in >> value;
        if (name == "write_bytes:")
            io.written = value;
        else if (name == "cancelled_write_bytes:")
            io.cancelled = value;
    }
    return io;
}

void MeasureDisk(const char* what, const std::string& program, bool tmpfsRuntime, int seconds) {
    const fs::path home = FreshStore(std::string("disk-") + (tmpfsRuntime ? "tmpfs" : "none"));
    const fs::path runtime = tmpfsRuntime ? FreshRuntimeFolder() : fs::path();
    std::map<std::string, std::string> env = Environment(runtime);
    if (!tmpfsRuntime)
        env["XDG_RUNTIME_DIR"] = "";
    Program running(program.c_str(), env, home / "disk.err");
    // Past the start-up and into the session.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const Io first = ReadIo(running.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Io last = ReadIo(running.Pid());
    running.Kill();
    const double scale = 3600.0 / seconds;
    std::printf("%-44s write_bytes %9.0f kB/h, cancelled %9.0f kB/h, net %9.0f kB/h\n", what,
                (last.written - first.written) * scale / 1000,
                (last.cancelled - first.cancelled) * scale / 1000,
                ((last.written - first.written) - (last.cancelled - first.cancelled)) * scale /
                    1000);
    std::fflush(stdout);
    if (tmpfsRuntime)
        fs::remove_all(runtime);
}

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (options.kills > 0)
        MeasureKills(options);
    std::fflush(stdout);
    if (options.seconds <= 0)
        return 0;
    MeasureDisk("this program, runtime folder on tmpfs", options.program, true, options.seconds);
    if (!options.base.empty())
        MeasureDisk("base program, runtime folder on tmpfs", options.base, true, options.seconds);
    MeasureDisk("this program, no runtime folder", options.program, false, options.seconds);
    if (!options.base.empty())
        MeasureDisk("base program, no runtime folder", options.base, false, options.seconds);
    return 0;
}
