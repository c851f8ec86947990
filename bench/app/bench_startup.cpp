// What a start costs: the real quorvane from its exec to the first moment its event loop has
// nothing to do (QUORVANE_QUIT_WHEN_IDLE), against the least Qt Widgets program that shows a
// minimised window (startup_minimal), both on the X server of $DISPLAY (scripts/bench starts an
// Xvfb) and a private session bus of their own, as on a desktop. This process is the X server's
// window manager meanwhile, and keeps a window that asks to start iconic unmapped, as desktops
// do: without one the server would map the "minimised" windows and both programs would paint
// them, which no user's start does. Printed for a store of one
// provider and for a store of 50 providers whose default one logs to a 10 MB log: the medians
// (with the quartiles) of the wall time from fork to exit, the CPU time (user + system, from
// wait4) and the peak resident memory (ru_maxrss), and quorvane's against the minimal program's.
//
// The two programs take turns (minimal, quorvane, quorvane, minimal, ...), so a change in the
// machine's load falls on both alike; --runs=N of each per store (31 unless given);
// --quorvane=PATH measures another build of the program (one before a change, say). Each run has
// a home, runtime folder and store folder of its own, made afresh from the store prepared for
// the case, so no run sees what another left and nothing of the machine's own set-up is read.
#include "core/fd.h"
#include "core/store_folder.h"
#include "settings/profiles.h"
#include "tests/watch/x11_desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quorvane;
namespace fs = std::filesystem;

namespace {

struct Sample {
    double wallMs = 0, cpuMs = 0, peakMiB = 0;
};

double MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Ms(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// A private session bus (dbus-daemon with the tests' configuration: no services), ended with the
// object; Address() is empty when none could be started.
class SessionBus {
public:
    explicit SessionBus(const fs::path& socket) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        const std::string config = std::string("--config-file=") + QUORVANE_SESSION_BUS_CONFIG;
        const std::string address = "--address=unix:path=" + socket.string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const char* argv[] = {"dbus-daemon", config.c_str(), address.c_str(), "--fork",
                              "--print-pid=1", nullptr};
        pid_t pid = -1;
        const bool spawned = ::posix_spawnp(&pid, "dbus-daemon", &actions, nullptr,
                                            const_cast<char**>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // --fork returns once the daemon listens; its first line is the daemon's process id.
        std::string line;
        char c = 0;
        while (spawned && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        int status = 0;
        if (!spawned || ::waitpid(pid, &status, 0) != pid || status != 0 || line.empty())
            return;
        daemon_ = static_cast<pid_t>(std::atol(line.c_str()));
        address_ = "unix:path=" + socket.string();
    }
    ~SessionBus() {
        if (daemon_ > 0)
            ::kill(daemon_, SIGTERM);
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    const std::string& Address() const { return address_; }

private:
    pid_t daemon_ = -1;
    std::string address_;
};

// The window manager's part that a start meets, after the ICCCM: a window asking to be mapped
// with WM_HINTS that ask for the iconic state stays unmapped (WM_STATE Iconic), any other is
// mapped; configure requests are carried out.
class IconicWindowManager {
public:
    IconicWindowManager() : xcb_(xcb_connect(nullptr, nullptr)) {
        test::BecomeWindowManager(xcb_.get());
        wmState_ = test::InternAtom(xcb_.get(), "WM_STATE");
    }

    // Serves the X server's requests until the process of `exited` (a pidfd) has ended.
    void ServeUntil(int exited) {
        xcb_connection_t* c = xcb_.get();
        for (;;) {
            test::ServeEvents(c, [this](const xcb_generic_event_t* event) { Handle(event); });
            pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {exited, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents != 0 || xcb_connection_has_error(c) != 0)
                return;
        }
    }

private:
    void Handle(const xcb_generic_event_t* event) {
        xcb_connection_t* c = xcb_.get();
        switch (event->response_type & 0x7F) {
        case XCB_MAP_REQUEST: {
            const xcb_window_t window =
                reinterpret_cast<const xcb_map_request_event_t*>(event)->window;
            const bool iconic = test::AsksToStartIconic(c, window);
            const std::uint32_t state[2] = {iconic ? test::kIconicState : test::kNormalState,
                                            XCB_NONE};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmState_, wmState_, 32, 2,
                                state);
            if (!iconic)
                xcb_map_window(c, window);
            break;
        }
        case XCB_CONFIGURE_REQUEST:
            test::Configure(c, *reinterpret_cast<const xcb_configure_request_event_t*>(event));
            break;
        default:
            break;
        }
    }

    XcbConnection xcb_;
    xcb_atom_t wmState_ = XCB_NONE;
};

// A folder of one run: home, XDG folders, runtime folder, store folder and the folders the
// program would otherwise look for in the system (lock files, devices, pppd's peers).
struct RunFolder {
    explicit RunFolder(const fs::path& scratch) {
        std::string pattern = (scratch / "run-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path = pattern;
        for (const char* dir : {"home", "config", "data", "cache", "state", "runtime", "lock",
                                "dev", "peers"})
            fs::create_directory(path / dir);
        // Qt refuses a runtime folder that others may enter.
        fs::permissions(path / "runtime", fs::perms::owner_all);
    }
    ~RunFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    fs::path Store() const { return path / "store"; }

    std::vector<std::string> Environment(const std::string& bus, bool quorvane) const {
        const char* display = std::getenv("DISPLAY");
        const char* searchPath = std::getenv("PATH");
        std::vector<std::string> env = {
            std::string("DISPLAY=") + (display ? display : ""),
            std::string("PATH=") + (searchPath ? searchPath : "/usr/bin:/bin"),
            "QT_QPA_PLATFORM=xcb",
            "LANG=C.UTF-8",
            "LC_ALL=C.UTF-8",
            "HOME=" + (path / "home").string(),
            "XDG_CONFIG_HOME=" + (path / "config").string(),
            "XDG_DATA_HOME=" + (path / "data").string(),
            "XDG_CACHE_HOME=" + (path / "cache").string(),
            "XDG_STATE_HOME=" + (path / "state").string(),
            "XDG_RUNTIME_DIR=" + (path / "runtime").string(),
            "QUORVANE_HOME=" + Store().string(),
            "QUORVANE_LOCK_DIR=" + (path / "lock").string(),
            "QUORVANE_DEV_DIR=" + (path / "dev").string(),
            "QUORVANE_PPP_PEERS=" + (path / "peers").string(),
            "QUORVANE_ALSA_PCM=null",
            "DBUS_SESSION_BUS_ADDRESS=" +
                (bus.empty() ? "unix:path=" + (path / "no-session-bus").string() : bus),
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (path / "no-system-bus").string(),
        };
        if (quorvane)
            env.emplace_back("QUORVANE_QUIT_WHEN_IDLE=1");
        return env;
    }

    fs::path path;
};

// Runs `binary` to its end with the environment given, its standard error kept in `errors`,
// serving as its window manager meanwhile.
Sample Run(IconicWindowManager& wm, const char* binary, const std::vector<std::string>& env,
           const fs::path& errors) {
    std::vector<char*> envp;
    for (const std::string& entry : env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const char* argv[] = {binary, nullptr};
    const double start = MonotonicMs();
    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, binary, &actions, nullptr,
                                         const_cast<char**>(argv), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError == 0) {
        const UniqueFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        if (exited)
            wm.ServeUntil(exited.get());
    }
    int status = 0;
    rusage usage{};
    if (spawnError != 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not run to its end (%s):\n", binary,
                     spawnError ? std::strerror(spawnError) : "exit status");
        std::ifstream text(errors);
        std::fprintf(stderr, "%s\n", std::string(std::istreambuf_iterator<char>(text), {}).c_str());
        std::exit(1);
    }
    Sample sample;
    sample.wallMs = MonotonicMs() - start;
    sample.cpuMs = Ms(usage.ru_utime) + Ms(usage.ru_stime);
    sample.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return sample;
}

// A line of the session log as the program writes it, the newest at the top.
std::string LogLine(int n) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "%02d/%02d/20%02d  %02d:%02d:%02d PM  In Peak: 000:%02d:%02d  Out Peak: "
                  "000:%02d:00  Total: %03d:%02d:%02d  Charges: $%d.00\r\n",
                  1 + n % 12, 1 + n % 28, 10 + n % 16, 1 + n % 12, n % 60, (n * 7) % 60,
                  n % 60, (n * 3) % 60, (n * 11) % 60, n % 1000, n % 60, (n * 13) % 60, n % 500);
    return line;
}

// The store a case starts from: `providers` full profiles, the middle one the default, which
// logs to a log of `logBytes`; then quorvane is started on it once, so that each run finds the
// store as a program that ran earlier today leaves it (the day's check stored, and so on).
void PrepareStore(IconicWindowManager& wm, const char* program, const fs::path& folder, int providers,
                  std::size_t logBytes, const std::string& bus, const fs::path& scratch) {
    fs::create_directories(folder);
    const fs::path log = folder / "sessions.txt";
    {
        std::ofstream out(log, std::ios::binary);
        for (int n = 0; static_cast<std::size_t>(out.tellp()) < logBytes; ++n)
            out << LogLine(n);
    }
    // In a process of its own, so that no connection of this one stays open on the copy.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QUORVANE_HOME", (folder / "store").c_str(), 1);
        if (!EnsureStoreFolder())
            ::_exit(1);
        for (int p = 1; p <= providers; ++p) {
            const std::string name = "Provider " + std::to_string(p);
            const std::vector<ProfileSetting> settings = {
                {"cbProvider", std::int32_t{-1}, vkInteger},
                {"ckSetAsDefault", p == (providers + 1) / 2, vkBool},
                {"cbDetection", std::int32_t{0}, vkInteger},
                {"seCOMPort", std::int32_t{1}, vkInteger},
                {"seDelayMin", std::int32_t{0}, vkInteger},
                {"seDelaySec", std::int32_t{15}, vkInteger},
                {"eProv", name + " dial-up", vkString},
                {"ckEnableBilling", true, vkBool},
                {"ePrice", "2.00", vkString},
                {"eFreeHours", "5", vkString},
                {"eWavAlarm", (folder / "alarm.wav").string(), vkString},
                {"seCycleDay", std::int32_t{0}, vkInteger},
                {"ckEnablePeak", true, vkBool},
                {"eStart", "08:00:00 AM", vkString},
                {"eStop", "06:00:00 PM", vkString},
                {"ckEnableLogging", true, vkBool},
                {"eLogFile", log.string(), vkString},
                {"ckStartWhenRun", false, vkBool},
                {"ckCloseOnDisconnect", false, vkBool},
                {"cbMinimizedTime", std::int32_t{1}, vkInteger},
                {"ckWatchOnRun", true, vkBool},
                {"ckColoredIconWatching", false, vkBool},
                {"seAdjHour", std::int32_t{0}, vkInteger},
                {"seAdjMin", std::int32_t{0}, vkInteger},
            };
            if (!SaveProfile(name, settings, {3600, 1200, 2400, 12 * 3600},
                             p == (providers + 1) / 2))
                ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0) {
        std::fprintf(stderr, "cannot prepare the store in %s\n", folder.c_str());
        std::exit(1);
    }
    RunFolder first(scratch);
    fs::rename(folder / "store", first.Store());
    Run(wm, program, first.Environment(bus, true), first.path / "errors.txt");
    fs::rename(first.Store(), folder / "store");
}

// A fresh run folder with a copy of the case's store, the program run in it.
Sample RunOn(IconicWindowManager& wm, const char* binary, bool quorvane, const fs::path& store,
             const std::string& bus, const fs::path& scratch) {
    RunFolder run(scratch);
    fs::create_directory(run.Store());
    for (const fs::directory_entry& entry : fs::directory_iterator(store))
        fs::copy(entry.path(), run.Store() / entry.path().filename());
    fs::permissions(run.Store(), fs::perms::owner_all);
    return Run(wm, binary, run.Environment(bus, quorvane), run.path / "errors.txt");
}

struct Spread {
    double median, q1, q3;
};

Spread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double share) {
        return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
    };
    return {at(0.5), at(0.25), at(0.75)};
}

void PrintRow(const char* name, const std::vector<Sample>& samples) {
    std::vector<double> wall, cpu, peak;
    for (const Sample& s : samples) {
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
        peak.push_back(s.peakMiB);
    }
    const Spread w = SpreadOf(wall), c = SpreadOf(cpu), p = SpreadOf(peak);
    std::printf("  %-20s %7.1f (%5.1f..%5.1f) %7.1f (%5.1f..%5.1f) %7.1f (%4.1f..%4.1f)\n", name,
                w.median, w.q1, w.q3, c.median, c.q1, c.q3, p.median, p.q1, p.q3);
}

double Median(const std::vector<Sample>& samples, double Sample::*field) {
    std::vector<double> values;
    for (const Sample& s : samples)
        values.push_back(s.*field);
    return SpreadOf(values).median;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int runs = 31;
    const char* program = QUORVANE_PROGRAM;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::max(1, std::atoi(argv[i] + 7));
        else if (std::strncmp(argv[i], "--quorvane=", 11) == 0)
            program = argv[i] + 11;
    }
    if (const char* display = std::getenv("DISPLAY"); !display || !*display) {
        std::fprintf(stderr, "bench_startup needs an X display (DISPLAY); scripts/bench starts "
                             "an Xvfb for it.\n");
        return 1;
    }
    if (!EnsureStoreFolder())
        return 1;
    const fs::path scratch = StoreFolder() / "startup";
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    const SessionBus bus(scratch / "session-bus");
    IconicWindowManager wm;
    std::printf("start to first idle on DISPLAY=%s (this bench its window manager), %s, %d runs "
                "of each, taking turns\n",
                std::getenv("DISPLAY"),
                bus.Address().empty() ? "no session bus (dbus-daemon did not start)"
                                      : "a private session bus",
                runs);
    std::printf("  %-20s %-21s %-21s %-19s\n", "median (q1..q3)", "  wall ms", "  CPU ms",
                "  peak resident MiB");

    const struct {
        const char* name;
        int providers;
        std::size_t logBytes;
    } cases[] = {
        {"a store of one provider", 1, 4 * 1024},
        {"a store of 50 providers, a 10 MB log", 50, 10 * 1000 * 1000},
    };
    int number = 0;
    for (const auto& c : cases) {
        const fs::path folder = scratch / ("case-" + std::to_string(++number));
        PrepareStore(wm, program, folder, c.providers, c.logBytes, bus.Address(), scratch);
        std::vector<Sample> minimal, quorvane;
        for (int round = 0; round < runs; ++round) {
            const auto runMinimal = [&] {
                minimal.push_back(
                    RunOn(wm, QUORVANE_MINIMAL_PROGRAM, false, folder / "store", bus.Address(), scratch));
            };
            const auto runQuorvane = [&] {
                quorvane.push_back(
                    RunOn(wm, program, true, folder / "store", bus.Address(), scratch));
            };
            if (round % 2 == 0) {
                runMinimal();
                runQuorvane();
            } else {
                runQuorvane();
                runMinimal();
            }
        }
        std::printf("%s:\n", c.name);
        PrintRow("minimal Qt program", minimal);
        PrintRow("quorvane", quorvane);
        std::printf("  %-20s %7.2fx %21.2fx %14s%+.1f MiB\n", "quorvane : minimal",
                    Median(quorvane, &Sample::wallMs) / Median(minimal, &Sample::wallMs),
                    Median(quorvane, &Sample::cpuMs) / Median(minimal, &Sample::cpuMs), "",
                    Median(quorvane, &Sample::peakMiB) - Median(minimal, &Sample::peakMiB));
    }
    fs::remove_all(scratch);
    return 0;
}
