// The Network Interface method in network namespaces of its own (root; it says so and stops
// without), over --rounds=N (200) of each change, median and p99:
//   - the session: the time from the request that brings the watched interface up, or adds its
//     address, to the window's session start (tOnLine running), served through the window's own
//     event loop. The polled methods find a connection at their next watching tick, up to a
//     second later.
//   - the lamp, seen from outside as the desktop sees it (on the X server of $DISPLAY; skipped
//     without one): the real program watching the interface, minimised (iconic: this benchmark
//     is the X server's window manager), and the time from the request that takes the link down
//     to the PropertyNotify of the window's icon that shows the red lamp, and from the link's
//     coming up to the green one. --program=PATH measures another build of the program (an
//     earlier version, say) instead of the one built beside this benchmark.
#include "app/timer.h"
#include "bench/support/netlink_kernel.h"
#include "core/store_folder.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "support/program_run.h"
#include "tests/watch/x11_desktop.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <vector>

using namespace quorvane;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Report(const char* what, const std::vector<double>& values, int rounds) {
    std::printf("%-28s median %7.3f ms  p99 %7.3f ms  (%d rounds)\n", what,
                bench::Percentile(values, 0.5), bench::Percentile(values, 0.99), rounds);
}

void ServeUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void MeasureSessionStart(bench::Kernel& kernel, int index, int rounds) {
    TfrmTimer w;
    w.cbProvider->setEditText(QStringLiteral("Mobile Net"));
    w.cbDetection->setCurrentIndex(kNetworkInterface);
    w.eInterface->setEditText(QStringLiteral("wwan0"));
    w.sbWatching->click();
    const auto session = [&] { return w.tOnLine->isActive(); };
    const auto none = [&] { return !w.tOnLine->isActive(); };
    std::vector<double> linkUp, addressAdded;
    for (int i = 0; i < rounds; ++i) {
        kernel.SetUp(index, false);
        ServeUntil(none);
        auto start = Clock::now();
        kernel.SetUp(index, true);
        ServeUntil(session);
        linkUp.push_back(MsSince(start));

        kernel.Address(index, "10.0.0.1/24", false);
        ServeUntil(none);
        start = Clock::now();
        kernel.Address(index, "10.0.0.1/24", true);
        ServeUntil(session);
        addressAdded.push_back(MsSince(start));
    }
    Report("link up to the session", linkUp, rounds);
    Report("address added to the session", addressAdded, rounds);
    w.tOnLine->stop();
}

enum class Lamp { Unknown, Green, Red };

// The real program's window as the desktop sees it: this connection is the window manager (the
// window that asks to start iconic stays unmapped) and reads the window's icon at each change.
class Desktop {
public:
    Desktop() : xcb_(xcb_connect(nullptr, nullptr)) {
        xcb_connection_t* c = xcb_.get();
        test::BecomeWindowManager(c);
        netWmPid_ = test::InternAtom(c, "_NET_WM_PID");
        netWmIcon_ = test::InternAtom(c, "_NET_WM_ICON");
        wmState_ = test::InternAtom(c, "WM_STATE");
    }

    // Serves the X server's events until `done`; false when `program` ends first or `done` has
    // not come within kGiveUpMs.
    bool Until(const test::Program& program, const std::function<bool()>& done) {
        xcb_connection_t* c = xcb_.get();
        const auto end = Clock::now() + std::chrono::milliseconds(kGiveUpMs);
        for (;;) {
            test::ServeEvents(c, [this](const xcb_generic_event_t* event) { Handle(event); });
            if (done())
                return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (program.Ended() || xcb_connection_has_error(c) != 0 || left <= 0)
                return false;
            pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0},
                             {program.ExitFd(), POLLIN, 0}};
            ::poll(fds, 2, static_cast<int>(left));
        }
    }

    // A program that has not shown the change after this long is taken not to show it.
    static constexpr int kGiveUpMs = 10000;

    void Follow(pid_t pid) { pid_ = pid; }
    bool Found() const { return window_ != XCB_NONE; }
    Lamp Shown() const { return lamp_; }

private:
    void Handle(const xcb_generic_event_t* event) {
        xcb_connection_t* c = xcb_.get();
        switch (event->response_type & 0x7F) {
        case XCB_MAP_REQUEST: {
            const xcb_window_t window =
                reinterpret_cast<const xcb_map_request_event_t*>(event)->window;
            std::uint32_t state = test::kNormalState;
            if (managed_.insert(window).second && test::AsksToStartIconic(c, window))
                state = test::kIconicState;
            const std::uint32_t wmState[2] = {state, XCB_NONE};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmState_, wmState_, 32, 2,
                                wmState);
            if (state == test::kNormalState)
                xcb_map_window(c, window);
            Consider(window);
            break;
        }
        case XCB_CONFIGURE_REQUEST:
            test::Configure(c, *reinterpret_cast<const xcb_configure_request_event_t*>(event));
            break;
        case XCB_PROPERTY_NOTIFY: {
            const auto* changed = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (changed->window == window_ && changed->atom == netWmIcon_)
                ReadLamp();
            break;
        }
        default:
            break;
        }
    }

    void Consider(xcb_window_t window) {
        if (window_ != XCB_NONE)
            return;
        if (test::WindowPid(xcb_.get(), window, netWmPid_) != static_cast<std::uint32_t>(pid_))
            return;
        window_ = window;
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(xcb_.get(), window, XCB_CW_EVENT_MASK, &mask);
        ReadLamp();
    }

    void ReadLamp() {
        if (const auto lamp = test::IconLamp(xcb_.get(), window_, netWmIcon_))
            lamp_ = *lamp == test::LampColour::Green ? Lamp::Green
                    : *lamp == test::LampColour::Red ? Lamp::Red
                                                     : Lamp::Unknown;
    }

    XcbConnection xcb_;
    xcb_atom_t netWmPid_ = XCB_NONE, netWmIcon_ = XCB_NONE, wmState_ = XCB_NONE;
    pid_t pid_ = -1;
    xcb_window_t window_ = XCB_NONE;
    std::set<xcb_window_t> managed_;
    Lamp lamp_ = Lamp::Unknown;
};

void MeasureLamp(const char* binary, const test::NetNamespace& here, bench::Kernel& kernel,
                 int index, int rounds) {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::printf("the lamp seen from outside: no X server ($DISPLAY)\n");
        return;
    }
    // A store of its own with the provider the program loads at its start, watching "wwan0".
    const std::filesystem::path home = StoreFolder() / "lamp";
    std::filesystem::create_directories(home);
    setenv("QUORVANE_HOME", home.c_str(), 1);
    SaveProfile("Mobile Net",
                {{"cbDetection", Variant(kNetworkInterface), vkInteger},
                 {"eInterface", Variant(std::string("wwan0")), vkString},
                 {"ckWatchOnRun", Variant(true), vkBool},
                 {"cbMinimizedTime", Variant(2), vkInteger}},
                {0, 0, 0, 0}, true);
    kernel.SetUp(index, false);
    Desktop desktop;
    test::Program program(binary,
                          {{"QT_QPA_PLATFORM", "xcb"},
                           {"QUORVANE_HOME", home.string()},
                           {"XDG_RUNTIME_DIR", home.string()},
                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
                          home / "quorvane.err", here.Fd());
    desktop.Follow(program.Pid());
    if (!desktop.Until(program, [&] { return desktop.Found(); })) {
        std::printf("the lamp seen from outside: the program ended: %s\n",
                    program.Errors().c_str());
        return;
    }
    std::vector<double> down, up;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        kernel.SetUp(index, true);
        if (!desktop.Until(program, [&] { return desktop.Shown() == Lamp::Green; }))
            break;
        up.push_back(MsSince(start));
        start = Clock::now();
        kernel.SetUp(index, false);
        if (!desktop.Until(program, [&] { return desktop.Shown() == Lamp::Red; }))
            break;
        down.push_back(MsSince(start));
    }
    if (static_cast<int>(down.size()) < rounds) {
        const bool upSeen = up.size() > down.size();
        std::printf("the lamp seen from outside: %s after round %zu (%s)\n",
                    program.Ended() ? "the program ended" : "no change within 10 s",
                    up.size() + (upSeen ? 0 : 1),
                    upSeen ? "link down, the lamp stays green" : "link up, the lamp stays as it was");
        if (!up.empty())
            Report("link up to the green lamp", up, static_cast<int>(up.size()));
        return;
    }
    Report("link down to the red lamp", down, rounds);
    Report("link up to the green lamp", up, rounds);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    const char* program = QUORVANE_BINARY;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        else if (std::strncmp(argv[i], "--program=", 10) == 0)
            program = argv[i] + 10;
    }
    QApplication app(argc, argv);
    EnsureStoreFolder();
    try {
        bench::QuietModem ns;
        const test::Inside inside(ns.here);
        bench::Kernel kernel;
        const int index = kernel.Index("wwan0");
        MeasureSessionStart(kernel, index, rounds);
        MeasureLamp(program, ns.here, kernel, index, rounds);
    } catch (const std::exception& e) {
        std::printf("network session: %s\n", e.what());
    }
    return 0;
}
