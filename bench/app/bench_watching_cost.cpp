// The cost of watching: the process's CPU time while the window's own event loop runs its
// timers for a while (60 s unless --seconds=N says otherwise), as a share of one core, for
//   - the window idle, watching off (what the rest costs),
//   - the COM Port method on a free port (a pseudo-terminal as COM3, opened and closed with the
//     serial component's two threads every second),
//   - the TCP/IP method on a desktop of 200 windows (the X server of $DISPLAY; scripts/bench
//     starts an Xvfb), none of them the dial-up window,
//   - the Network Interface method on an idle interface of a network namespace of its own (root):
//     up and running without an address (watching alone), and online in a session that carries
//     no traffic (watching and the session's tick, which reads the counters).
// The X server's own time for the caption scans is not in the figure: it is another process.
#include "app/timer.h"
#include "bench/support/netlink_kernel.h"
#include "core/store_folder.h"
#include "support/pty.h"
#include "tests/watch/x11_desktop.h"

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <time.h>

using namespace quorvane;

namespace {

double Seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Cost {
    double cpu = 0, wall = 0;
    int ticks = 0;
};

// Runs the event loop for `seconds` with the window as it is, counting the watching ticks.
Cost RunFor(TfrmTimer& w, int seconds) {
    Cost cost;
    const auto counted = QObject::connect(w.tWatching, &QTimer::timeout, [&cost] { ++cost.ticks; });
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = Seconds(CLOCK_MONOTONIC);
    QApplication::exec();
    cost.cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    cost.wall = Seconds(CLOCK_MONOTONIC) - wall0;
    QObject::disconnect(counted);
    return cost;
}

// Prints what `seconds` of the event loop cost, after a second to settle (the window's first
// paint and the like); per tick also beyond the idle window's share.
Cost Measure(const char* what, TfrmTimer& w, int seconds, double idleShare) {
    RunFor(w, 1);
    const Cost cost = RunFor(w, seconds);
    const double share = cost.cpu / cost.wall;
    std::printf("%-30s %5.1f s  CPU %7.1f ms  = %6.3f %% of one core", what, cost.wall,
                cost.cpu * 1e3, 100.0 * share);
    if (cost.ticks > 0)
        std::printf("  (%d watching ticks, %.0f us each beyond idle)", cost.ticks,
                    (cost.cpu - idleShare * cost.wall) * 1e6 / cost.ticks);
    std::printf("\n");
    std::fflush(stdout);
    return cost;
}

std::unique_ptr<TfrmTimer> Window(int method) {
    auto w = std::make_unique<TfrmTimer>();
    w->cbProvider->setEditText(QStringLiteral("Dial Net"));
    w->cbDetection->setCurrentIndex(method);
    w->cbProv->setEditText(QStringLiteral("MyISP"));
    w->seCOMPort->setValue(3);
    return w;
}

void Watch(TfrmTimer& w) {
    w.sbWatching->setChecked(true);
    w.sbWatchingClick();
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::max(1, std::atoi(argv[i] + 10));
    // Our own window an X11 one, as the program's is, where there is an X server.
    if (const char* display = std::getenv("DISPLAY"); display && *display)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    EnsureStoreFolder();

    double idleShare = 0;
    {
        auto w = Window(0);
        const Cost idle = Measure("idle, watching off", *w, seconds, 0);
        idleShare = idle.cpu / idle.wall;
    }
    {
        test::Pty modem;
        const std::filesystem::path ports = StoreFolder() / "ports";
        std::filesystem::create_directories(ports);
        std::filesystem::remove(ports / "COM3");
        std::filesystem::create_symlink(modem.SlavePath(), ports / "COM3");
        const std::filesystem::path locks = StoreFolder() / "lock";
        std::filesystem::create_directories(locks);
        ::setenv("QUORVANE_LOCK_DIR", locks.c_str(), 1);
        auto w = Window(1);
        Watch(*w);
        Measure("COM Port watching, free port", *w, seconds, idleShare);
        if (w->tOnLine->isActive())
            std::printf("  (the free port was taken for online: the figure is not watching's)\n");
    }
    try {
        test::TestDesktop desktop;
        for (int i = 0; i < 200; ++i) {
            const std::string caption = "Window " + std::to_string(i) + " - Some Application";
            desktop.MakeWindow(caption, caption);
        }
        auto w = Window(0);
        Watch(*w);
        Measure("TCP/IP watching, 200 windows", *w, seconds, idleShare);
    } catch (const std::exception& e) {
        std::printf("TCP/IP watching: %s\n", e.what());
    }
    try {
        bench::QuietModem ns;
        std::unique_ptr<TfrmTimer> w;
        {
            // The kernel's interfaces are opened when watching starts: in the namespace.
            const test::Inside inside(ns.here);
            bench::Kernel kernel;
            kernel.Address(kernel.Index("wwan0"), "10.0.0.1/24", false);
            w = Window(kNetworkInterface);
            w->eInterface->setEditText(QStringLiteral("wwan0"));
            Watch(*w);
        }
        Measure("Network Interface, offline", *w, seconds, idleShare);
        {
            const test::Inside inside(ns.here);
            bench::Kernel kernel;
            kernel.Address(kernel.Index("wwan0"), "10.0.0.1/24", true);
        }
        Measure("Network Interface, in session", *w, seconds, idleShare);
        if (!w->tOnLine->isActive())
            std::printf("  (no session ran: the figure is not a session's)\n");
        w->tOnLine->stop();
    } catch (const std::exception& e) {
        std::printf("Network Interface watching: %s\n", e.what());
    }
    return 0;
}
