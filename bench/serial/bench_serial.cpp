// Figures of the serial component on a free pseudo-terminal:
// - one StartComm + StopComm cycle, as the COM Port probe makes once a second: median and p99;
// - how long that probe holds the port: from its first lock file to the last one removed, as a
//   watcher of the lock folder sees it; a dialer that starts meanwhile is refused;
// - a soak of many cycles: open descriptors, threads and resident memory before and after;
// - the time StopComm takes from its stop signal to both threads ended, with a read and a send
//   pending;
// - a dialer starting while the checks run: minicom's start (its lock file looked at, created,
//   the device opened) made again and again by a new process while another thread checks the
//   port every millisecond; the starts refused per 1000, and the checks' cycle meanwhile. At one
//   check a second a start meets a check a thousandth as often.
// Usage: bench_serial [cycles for the soak, default 100000] [dialer starts, default 1000]

#include "serial/comm32.h"
#include "serial/minicom_start.h"
#include "support/process_stats.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace quorvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double median, p99, max;
};

Figures Summarise(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void Report(const char* what, const Figures& f, std::size_t n) {
    std::printf("%-44s median %8.1f us   p99 %8.1f us   max %8.1f us   (n=%zu)\n", what, f.median,
                f.p99, f.max, n);
}

// Watches the lock folder from a thread of its own and times each stretch during which at least
// one LCK.. file stands there, from the event of the first one created to that of the last one
// removed. Both ends come through the same wake-up, so its delay mostly cancels out.
class HoldWatch {
public:
    explicit HoldWatch(const char* folder)
        : inotify_(::inotify_init1(IN_CLOEXEC)), stop_(::eventfd(0, EFD_CLOEXEC)) {
        ::inotify_add_watch(inotify_, folder, IN_CREATE | IN_DELETE);
        thread_ = std::thread([this] { Run(); });
    }
    ~HoldWatch() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
        thread_.join();
        ::close(inotify_);
        ::close(stop_);
    }
    std::size_t Holds() const { return count_.load(); }
    std::vector<double> Durations() {
        std::lock_guard lock(mutex_);
        return holds_;
    }

private:
    void Run() {
        int live = 0;
        Clock::time_point start;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (fds[1].revents & POLLIN)
                return;
            const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
            const auto now = Clock::now();
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len == 0 || std::strncmp(event->name, "LCK..", 5) != 0)
                    continue;
                if (event->mask & IN_CREATE) {
                    if (live++ == 0)
                        start = now;
                } else if (--live == 0) {
                    std::lock_guard lock(mutex_);
                    holds_.push_back(
                        std::chrono::duration<double, std::micro>(now - start).count());
                    ++count_;
                }
            }
        }
    }

    int inotify_;
    int stop_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<double> holds_;
    std::atomic<std::size_t> count_{0};
};

void DrainMaster(int master) {
    char buffer[65536];
    while (::read(master, buffer, sizeof buffer) > 0) {
    }
}

// The dialer's process: starts as minicom does and, when it got the port, gives it up again.
// Exit status: the DialerStart.
int MinicomStart(const char* lock, const char* device) {
    int port = -1;
    const test::DialerStart start = test::StartLikeMinicom(lock, device, port);
    if (start == test::DialerStart::Opened)
        test::EndLikeMinicom(lock, port);
    return static_cast<int>(start);
}

// Starts `starts` dialers one after the other, each a new process, while a thread of its own
// checks `device` every `pauseUs` microseconds as the COM Port method does.
void DialersDuringChecks(const std::string& device, const char* lockDir, int starts, int pauseUs) {
    std::atomic<bool> stop{false};
    std::atomic<long> checks{0}, held{0};
    std::vector<double> cycle;
    std::thread checker([&] {
        TComm32 comm;
        comm.SetCommPort(device);
        comm.SetBaudRate(14400);
        while (!stop) {
            const auto start = Clock::now();
            try {
                comm.StartComm();
                comm.StopComm();
            } catch (const ECommsError&) {
                ++held;
            }
            cycle.push_back(Micros(Clock::now() - start));
            comm.ProcessMessages();
            ++checks;
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    });
    const std::string lock = test::MinicomLockFile(lockDir, device).string();
    std::string self = "/proc/self/exe";
    int refused[4] = {};
    for (int i = 0; i < starts; ++i) {
        const char* argv[] = {"bench_serial", "--minicom-start", lock.c_str(), device.c_str(),
                              nullptr};
        pid_t pid;
        int status = 0;
        if (::posix_spawn(&pid, self.c_str(), nullptr, nullptr, const_cast<char**>(argv),
                          environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 3) {
            std::printf("the dialer's process failed\n");
            break;
        }
        ++refused[WEXITSTATUS(status)];
    }
    stop = true;
    checker.join();
    const int total = refused[1] + refused[2] + refused[3];
    const double period = static_cast<double>(pauseUs) + Summarise(cycle).median;
    std::printf("minicom starts refused per 1000 (a check every %.0f us) %8.1f   (%d of %d: %d "
                "\"%s\", %d \"%s\", %d \"%s\")\n",
                period, 1000.0 * total / starts, total, starts, refused[1],
                test::DialerStartText(test::DialerStart::DeviceLocked), refused[2],
                test::DialerStartText(test::DialerStart::LockNotCreated), refused[3],
                test::DialerStartText(test::DialerStart::OpenRefused));
    std::printf("  at one check a second, per 1000 starts             %8.3f\n",
                total * period / 1e6 / starts * 1000.0);
    Report("  a check's cycle while dialers start", Summarise(cycle), cycle.size());
    std::printf("  %ld checks, %ld of them found the dialer holding the port\n", checks.load(),
                held.load());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--minicom-start") == 0)
        return MinicomStart(argv[2], argv[3]);
    const long soak = argc > 1 && std::atol(argv[1]) > 0 ? std::atol(argv[1]) : 100000;
    const int starts = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 1000;
    char lockDir[] = "/tmp/quorvane-bench-XXXXXX";
    if (::mkdtemp(lockDir) == nullptr)
        return 1;
    ::setenv("QUORVANE_LOCK_DIR", lockDir, 1);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return 1;
    TComm32 comm;
    comm.SetCommPort(::ptsname(master));
    comm.SetBaudRate(14400);
    int hangups = 0;
    comm.SetOnRequestHangup([&](TObject*) { ++hangups; });

    const long rssCold = test::ResidentKiB();
    // 1. The probe's cycle.
    for (int i = 0; i < 200; ++i) { // warm-up
        comm.StartComm();
        comm.StopComm();
        comm.ProcessMessages();
    }
    std::vector<double> cycle;
    cycle.reserve(5000);
    for (int i = 0; i < 5000; ++i) {
        const auto start = Clock::now();
        comm.StartComm();
        comm.StopComm();
        cycle.push_back(Micros(Clock::now() - start));
        comm.ProcessMessages();
    }
    Report("StartComm + StopComm (free pty)", Summarise(cycle), cycle.size());

    // 2. How long each probe holds the port.
    {
        HoldWatch watch(lockDir);
        for (std::size_t i = 1; i <= 5000; ++i) {
            comm.StartComm();
            comm.StopComm();
            comm.ProcessMessages();
            while (watch.Holds() < i) // one probe at a time, so no event is lost
                std::this_thread::yield();
        }
        const std::vector<double> holds = watch.Durations();
        Report("port held, first lock file to last removed", Summarise(holds), holds.size());
    }

    // 3. Soak.
    const int fds0 = test::CountOpenFds();
    const int threads0 = test::CountThreads();
    const long rss0 = test::ResidentKiB();
    hangups = 0;
    const auto soakStart = Clock::now();
    for (long i = 0; i < soak; ++i) {
        comm.StartComm();
        comm.StopComm();
        comm.ProcessMessages();
    }
    const double soakSeconds = std::chrono::duration<double>(Clock::now() - soakStart).count();
    comm.ProcessMessages();
    std::printf("soak of %ld cycles in %.1f s (%.1f us a cycle), %d hang-up requests\n", soak,
                soakSeconds, soakSeconds * 1e6 / static_cast<double>(soak), hangups);
    std::printf("  open descriptors  before %d, after %d\n", fds0, test::CountOpenFds());
    std::printf("  threads           before %d, after %d\n", threads0, test::CountThreads());
    std::printf("  resident memory   before %ld KiB, after %ld KiB (%ld KiB before any cycle)\n",
                rss0, test::ResidentKiB(), rssCold);

    // 4. StopComm with a read and a send pending: the reader waits for bytes, the writer for
    //    room in the pseudo-terminal, which is full because nobody reads the other end.
    std::vector<double> stop;
    stop.reserve(1000);
    std::vector<char> big(1 << 20, 'x');
    int pendingSends = 0;
    for (int i = 0; i < 1000; ++i) {
        DrainMaster(master);
        comm.StartComm();
        comm.WriteCommData(big.data(), static_cast<DWORD>(big.size()));
        // Until the other end holds what fits: the send is then pending.
        for (int spin = 0; spin < 200; ++spin) {
            pollfd fd{master, POLLIN, 0};
            ::poll(&fd, 1, 1);
            if (fd.revents & POLLIN)
                break;
        }
        ::usleep(1000);
        int queued = 0;
        pendingSends += ::ioctl(master, FIONREAD, &queued) == 0 && queued > 0;
        const auto start = Clock::now();
        comm.StopComm();
        stop.push_back(Micros(Clock::now() - start));
        comm.ProcessMessages();
    }
    Report("StopComm with a read and a send pending", Summarise(stop), stop.size());
    std::printf("  (the other end held unread bytes in %d of %zu runs)\n", pendingSends,
                stop.size());

    // 5. Dialers starting while the checks run.
    DialersDuringChecks(::ptsname(master), lockDir, starts, 1000);

    ::close(master);
    std::filesystem::remove_all(lockDir);
    return 0;
}
