// The real program on the tests' X server, as a user runs it: a provider brought in with
// quorvane-reg from a registry file, a session that a dial-up window's caption, a dialer holding
// the modem's port, a network interface coming up (the program in a network namespace of the
// test's own) or "Start Timer when Run" begins, the taskbar text counting, and the session's
// end saved and logged, with the bytes of the interface's traffic; with "Close Quorvane on
// disconnect", the program's own end when the user stops the session from the tray icon's menu.
// The test only watches from outside: the program's window properties (PropertyNotify), the
// log's folder (inotify) and the process's end; the tray's menu is clicked by the desktop's
// panel, a second process on the tests' session bus.
#include "accounting/timevalues.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "support/net_namespace.h"
#include "support/program_run.h"
#include "tests/serial/serial_support.h"
#include "tests/settings/process.h"
#include "tests/watch/x11_desktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>
#include <optional>
#include <set>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvane;
using test::FolderWatch;
using test::Program;

namespace {

constexpr Duration kToday = 100, kInsidePeak = 10, kOutsidePeak = 20, kTotalTime = 1000;

// The program's top-level window as the test sees it on the X server: found by its _NET_WM_PID
// among the root's new children, its icon texts and icon followed through PropertyNotify events.
// The test is the X server's window manager too, as a desktop has one: a window that asks to
// start iconic (the program starts minimised) stays unmapped, with WM_STATE Iconic, until it asks
// to be mapped again.
class ProgramWindow {
public:
    ProgramWindow() : xcb_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(xcb_.get()) != 0)
            throw std::runtime_error("no X server on $DISPLAY");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(xcb_.get())).data->root;
        netWmPid_ = Atom("_NET_WM_PID");
        netWmIconName_ = Atom("_NET_WM_ICON_NAME");
        netWmIcon_ = Atom("_NET_WM_ICON");
        wmProtocols_ = Atom("WM_PROTOCOLS");
        wmDeleteWindow_ = Atom("WM_DELETE_WINDOW");
        wmState_ = Atom("WM_STATE");
        // Before the program starts, so that the creation of its window is seen.
        test::BecomeWindowManager(xcb_.get());
        XcbSync(xcb_.get());
    }

    // Serves X events until `done` says so. False when it cannot come any more: the program
    // ended without a window, or its window is gone; or when nothing has brought it within the
    // guard against a hang.
    bool WaitUntil(const Program& program, const std::function<bool()>& done) {
        xcb_connection_t* c = xcb_.get();
        const auto guard =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(test::kHangGuardMs);
        for (;;) {
            test::ServeEvents(c, [this](const xcb_generic_event_t* event) { Handle(event); });
            if (done())
                return true;
            if (gone_ || (window_ == XCB_NONE && program.Ended()) ||
                xcb_connection_has_error(c) != 0)
                return false;
            // Once the program has ended, only the destruction of its window is waited for.
            pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0},
                             {program.ExitFd(), POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                guard - std::chrono::steady_clock::now());
            if (left.count() <= 0 ||
                ::poll(fds, program.Ended() ? 1 : 2, static_cast<int>(left.count())) == 0)
                return done();
        }
    }
    bool Found() const { return window_ != XCB_NONE; }
    bool Gone() const { return gone_; }

    // The latest _NET_WM_ICON_NAME and WM_ICON_NAME read. A property is read when its change is
    // served, so a change served after the window has gone cannot be read: Unread() says so.
    const std::string& IconText() const { return netIconText_; }
    const std::string& LegacyIconText() const { return legacyIconText_; }
    bool Unread() const { return unread_; }

    // What the window's icon (_NET_WM_ICON) shows, as last read.
    enum class Picture { None, GreenLamp, RedLamp, Other };
    Picture Icon() const { return icon_; }

    // What a window manager sends when the user closes the window.
    void Close() { test::SendCloseRequest(xcb_.get(), window_, wmProtocols_, wmDeleteWindow_); }

    // The program to follow from now on: its window is looked for afresh.
    void SetPid(pid_t pid) {
        pid_ = pid;
        window_ = XCB_NONE;
        gone_ = unread_ = false;
        netIconText_.clear();
        legacyIconText_.clear();
        icon_ = Picture::None;
    }

private:
    void Handle(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7F) {
        case XCB_CREATE_NOTIFY: {
            const auto* created = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            if (created->parent == root_ && window_ == XCB_NONE)
                Consider(created->window);
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* changed = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (window_ == XCB_NONE && changed->atom == netWmPid_)
                Consider(changed->window);
            else if (changed->window == window_ &&
                     (changed->atom == netWmIconName_ || changed->atom == XCB_ATOM_WM_ICON_NAME))
                ReadIconText(changed->atom, changed->state == XCB_PROPERTY_NEW_VALUE);
            else if (changed->window == window_ && changed->atom == netWmIcon_)
                ReadIcon();
            break;
        }
        case XCB_MAP_REQUEST:
            MapRequested(reinterpret_cast<const xcb_map_request_event_t*>(event)->window);
            break;
        case XCB_CONFIGURE_REQUEST:
            test::Configure(xcb_.get(),
                            *reinterpret_cast<const xcb_configure_request_event_t*>(event));
            break;
        case XCB_DESTROY_NOTIFY: {
            const auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (destroyed->window == window_)
                gone_ = true;
            // Its id may come again for a window of another program.
            managed_.erase(destroyed->window);
            break;
        }
        default:
            break;
        }
    }

    // The window manager's part, after the ICCCM: a window's first map request gives it the
    // state its WM_HINTS ask for (iconic: left unmapped); a later one maps it.
    void MapRequested(xcb_window_t window) {
        xcb_connection_t* c = xcb_.get();
        std::uint32_t state = test::kNormalState;
        if (!managed_.count(window) && test::AsksToStartIconic(c, window))
            state = test::kIconicState;
        managed_.insert(window);
        const std::uint32_t wmState[2] = {state, XCB_NONE};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmState_, wmState_, 32, 2, wmState);
        if (state == test::kNormalState)
            xcb_map_window(c, window);
    }

    // A new top-level window: followed from now on, then asked whether it is the program's (its
    // properties may have been set before we listened).
    void Consider(xcb_window_t window) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(xcb_.get(), window, XCB_CW_EVENT_MASK, &mask);
        if (test::WindowPid(xcb_.get(), window, netWmPid_) != static_cast<std::uint32_t>(pid_))
            return;
        window_ = window;
        ReadIconText(netWmIconName_, false);
        ReadIconText(XCB_ATOM_WM_ICON_NAME, false);
        ReadIcon();
    }

    // The state lamp the window's icon shows. A window that has gone keeps the picture last
    // read.
    void ReadIcon() {
        const auto lamp = test::IconLamp(xcb_.get(), window_, netWmIcon_);
        if (!lamp)
            return;
        icon_ = *lamp == test::LampColour::Green ? Picture::GreenLamp
                : *lamp == test::LampColour::Red ? Picture::RedLamp
                                                 : Picture::Other;
    }

    // One of the two texts, read after its change (`changed`: a new value is there to be read,
    // so nothing means the window has gone) or when the window is found.
    void ReadIconText(xcb_atom_t property, bool changed) {
        std::string text = Text(property);
        if (text.empty()) {
            unread_ = unread_ || changed;
            return;
        }
        (property == netWmIconName_ ? netIconText_ : legacyIconText_) = std::move(text);
    }

    std::string Text(xcb_atom_t property) {
        return test::PropertyBytes(xcb_.get(), window_, property, XCB_GET_PROPERTY_TYPE_ANY, 1024);
    }

    xcb_atom_t Atom(const char* name) { return test::InternAtom(xcb_.get(), name); }

    XcbConnection xcb_;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t netWmPid_ = XCB_NONE, netWmIconName_ = XCB_NONE, netWmIcon_ = XCB_NONE;
    xcb_atom_t wmProtocols_ = XCB_NONE, wmDeleteWindow_ = XCB_NONE, wmState_ = XCB_NONE;
    std::set<xcb_window_t> managed_;
    pid_t pid_ = -1;
    xcb_window_t window_ = XCB_NONE;
    bool gone_ = false, unread_ = false;
    Picture icon_ = Picture::None;
    std::string netIconText_, legacyIconText_;
};

// The seconds of an "E: HHH:MM:SS" taskbar text; -1 for any other text.
int ElapsedSeconds(const std::string& text) {
    unsigned hours = 0, minutes = 0, seconds = 0;
    if (text.size() != 12 ||
        std::sscanf(text.c_str(), "E: %3u:%2u:%2u", &hours, &minutes, &seconds) != 3)
        return -1;
    return static_cast<int>(hours * 3600 + minutes * 60 + seconds);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    return lines;
}

Duration Stored(const char* total) {
    Variant value;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + total, vkInteger, value);
    return value.isEmpty() ? -1 : value.toInt();
}

// The desktop's panel (tray_host), a second process on the tests' session bus, with its standard
// input and output: it must be up before the program starts, so that the program finds a tray.
class TrayHost {
public:
    TrayHost() {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipes");
        toHost_.reset(in[1]);
        fromHost_.reset(out[0]);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::execl(QUORVANE_TRAY_HOST, QUORVANE_TRAY_HOST, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
    }
    ~TrayHost() {
        toHost_.reset();
        ::waitpid(pid_, nullptr, 0);
    }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(toHost_.get(), text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }
    // The next line the panel says; "" when it has ended.
    std::string ReadLine() {
        std::string line;
        char c = 0;
        while (::read(fromHost_.get(), &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

private:
    UniqueFd toHost_, fromHost_;
    pid_t pid_ = -1;
};

class EndToEnd : public testing::Test {
protected:
    void SetUp() override {
        base_ = std::getenv("QUORVANE_HOME");
        UseHome(base_ / testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { setenv("QUORVANE_HOME", base_.c_str(), 1); }

    // A store folder of its own, for the test or for one case of its table.
    void UseHome(const std::filesystem::path& home) {
        home_ = home;
        std::filesystem::remove_all(home_);
        std::filesystem::create_directories(home_ / "logs");
        setenv("QUORVANE_HOME", home_.c_str(), 1);
        // An earlier session's line, which the new one goes above.
        std::ofstream(Log(), std::ios::binary) << "an earlier session\r\n";
    }

    std::filesystem::path Log() const { return home_ / "logs" / "myisp.log"; }

    // The provider "MyISP", the default, as a registry file that quorvane-reg imports: logging
    // on, the taskbar showing Elapsed, the method and toggles given.
    // `more`: further lines of the provider's key.
    void ImportProvider(int method, bool watchOnRun, bool startWhenRun,
                        bool closeOnDisconnect = false, const std::string& more = "") {
        const auto dword = [](long value) {
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08lx", value);
            return std::string(text);
        };
        const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvath Software\\Quorvane v4.8";
        std::ofstream(home_ / "myisp.reg", std::ios::binary)
            << "REGEDIT4\r\n\r\n"
            << "[" << key << "\\Providers]\r\n"
            << "\"DefaultProvider\"=\"MyISP\"\r\n\r\n"
            << "[" << key << "\\Providers\\MyISP]\r\n"
            << "\"cbDetection\"=" << dword(method) << "\r\n"
            << "\"eProv\"=\"MyISP\"\r\n"
            << "\"seCOMPort\"=" << dword(3) << "\r\n"
            << "\"seDelayMin\"=" << dword(0) << "\r\n"
            << "\"seDelaySec\"=" << dword(0) << "\r\n"
            << "\"ckEnableBilling\"=" << dword(0) << "\r\n"
            << "\"seCycleDay\"=" << dword(0) << "\r\n"
            << "\"ckEnablePeak\"=" << dword(0) << "\r\n"
            << "\"ckEnableLogging\"=" << dword(1) << "\r\n"
            << "\"eLogFile\"=\"" << Log().string() << "\"\r\n"
            << "\"ckStartWhenRun\"=" << dword(startWhenRun) << "\r\n"
            << "\"ckCloseOnDisconnect\"=" << dword(closeOnDisconnect) << "\r\n"
            << "\"cbMinimizedTime\"=" << dword(2) << "\r\n"
            << "\"ckWatchOnRun\"=" << dword(watchOnRun) << "\r\n"
            << "\"ckColoredIconWatching\"=" << dword(0) << "\r\n"
            << "\"Today\"=" << dword(kToday) << "\r\n"
            << "\"InsidePeak\"=" << dword(kInsidePeak) << "\r\n"
            << "\"OutsidePeak\"=" << dword(kOutsidePeak) << "\r\n"
            << "\"TotalTime\"=" << dword(kTotalTime) << "\r\n"
            << more;
        const test::ProcessResult imported = test::Reg({"import", (home_ / "myisp.reg").string()});
        ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    }

    void Start(std::map<std::string, std::string> env = {}, int netns = -1) {
        env["QT_QPA_PLATFORM"] = "xcb";
        env["QUORVANE_HOME"] = home_.string();
        program_.emplace(QUORVANE_BINARY, env, home_ / "quorvane.err", netns);
        window_.SetPid(program_->Pid());
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] { return window_.Found(); }))
            << program_->Errors();
    }

    // The taskbar text comes to show the session's time and goes on counting.
    void ExpectCounting() {
        int first = -1;
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] {
            first = ElapsedSeconds(window_.IconText());
            return first >= 1;
        })) << program_->Errors();
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] {
            return ElapsedSeconds(window_.IconText()) > first;
        })) << program_->Errors();
    }

    // The session's end as stored and logged: the totals grew by the same seconds, the log's
    // first line is the session's with the stored totals, the earlier line below it. Answers
    // the seconds the session added.
    Duration ExpectSavedAndLogged() {
        const Duration total = Stored("TotalTime");
        const Duration added = total - kTotalTime;
        EXPECT_GE(added, ElapsedSeconds(window_.IconText()));
        EXPECT_EQ(Stored("Today"), kToday + added);
        EXPECT_EQ(Stored("InsidePeak"), kInsidePeak);
        EXPECT_EQ(Stored("OutsidePeak"), kOutsidePeak);
        const std::vector<std::string> lines = Lines(test::ReadBytes(Log()));
        EXPECT_EQ(lines.size(), 2u);
        if (lines.size() == 2) {
            EXPECT_NE(lines[0].find("  In Peak: 000:00:10  Out Peak: 000:00:20  Total: " +
                                    DurationText(total) + "  Charges: "),
                      std::string::npos)
                << lines[0];
            EXPECT_EQ(lines[1], "an earlier session");
        }
        return added;
    }

    // After the session's end, while the program runs on: the taskbar text (both properties)
    // stays at the session's time that was saved. The texts read so far may lag behind; the
    // last change is still to be served then.
    void ExpectTheTaskbarShows(Duration added) {
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] {
            return ElapsedSeconds(window_.IconText()) >= added &&
                   ElapsedSeconds(window_.LegacyIconText()) >= added;
        })) << program_->Errors();
        EXPECT_EQ(window_.IconText(), "E: " + DurationText(added));
        EXPECT_EQ(window_.LegacyIconText(), window_.IconText());
    }

    // Closed as a window manager closes it: the program ends.
    void CloseAndExpectTheEnd() {
        window_.Close();
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] { return window_.Gone(); }));
        EXPECT_EQ(program_->Wait(), 0) << program_->Errors();
    }

    std::filesystem::path base_, home_;
    ProgramWindow window_;
    std::optional<Program> program_;
};

TEST_F(EndToEnd, ADialUpWindowsCaptionTimesASession) {
    ImportProvider(0, true, false);
    test::TestDesktop desktop;
    FolderWatch logs(home_ / "logs");
    Start();
    const xcb_window_t dialUp = desktop.MakeWindow(std::string_view("Connected to MyISP"));
    ExpectCounting();
    desktop.Destroy(dialUp);
    ASSERT_TRUE(logs.WaitFor(Log().filename(), *program_)) << program_->Errors();
    ExpectTheTaskbarShows(ExpectSavedAndLogged());
    CloseAndExpectTheEnd();
}

TEST_F(EndToEnd, ADialerHoldingTheModemsPortTimesASession) {
    ImportProvider(1, true, false);
    test::Pty modem;
    std::filesystem::create_directories(home_ / "ports");
    std::filesystem::create_directories(home_ / "lock");
    std::filesystem::create_symlink(modem.SlavePath(), home_ / "ports" / "COM3");
    // The dialer and the program agree where lock files go.
    const test::ScopedEnv locks("QUORVANE_LOCK_DIR", (home_ / "lock").string());
    FolderWatch logs(home_ / "logs");
    Start();
    test::PortHolder dialer(modem.SlavePath());
    ExpectCounting();
    dialer.Release();
    ASSERT_TRUE(logs.WaitFor(Log().filename(), *program_)) << program_->Errors();
    ExpectTheTaskbarShows(ExpectSavedAndLogged());
    CloseAndExpectTheEnd();
}

// A command in one of the test's network namespaces, which must succeed.
void RunIn(const test::NetNamespace& ns, const std::string& command) {
    std::string output;
    ASSERT_EQ(ns.Run(command, &output), 0) << command << ": " << output;
}

// The program in a network namespace of the test's own, watching "v0": a veth whose peer end is
// in a second namespace, quiet but for the test's traffic (no IPv6, fixed neighbours).
TEST_F(EndToEnd, ANetworkInterfaceComingUpTimesASessionAndCountsItsBytes) {
    test::NetNamespace here, peer;
    if (!here.Made())
        GTEST_SKIP() << here.Why();
    const auto run = RunIn;
    for (const test::NetNamespace* ns : {&here, &peer})
        run(*ns, "echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6 && "
                 "echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6");
    // Data totals as a Windows-style export writes a REG_QWORD.
    ImportProvider(3, true, false, false,
                   "\"eInterface\"=\"v*\"\r\n"
                   "\"TodayRx\"=hex(b):e8,03,00,00,00,00,00,00\r\n"
                   "\"TodayTx\"=hex(b):64,00,00,00,00,00,00,00\r\n"
                   "\"TotalRx\"=hex(b):00,f2,05,2a,01,00,00,00\r\n"
                   "\"TotalTx\"=hex(b):10,27,00,00,00,00,00,00\r\n");
    FolderWatch logs(home_ / "logs");
    Start({}, here.Fd());

    run(here, "ip link add v0 address 02:00:00:00:00:01 type veth peer name p0 address "
              "02:00:00:00:00:02 netns " + std::to_string(peer.Pid()) +
              " && ip addr add 10.0.0.1/24 dev v0 && ip link set v0 up && "
              "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent");
    run(peer, "ip addr add 10.0.0.2/24 dev p0 && ip link set p0 up && "
              "ip neigh replace 10.0.0.1 lladdr 02:00:00:00:00:01 dev p0 nud permanent");
    ExpectCounting();
    {
        const UniqueFd mine = test::UdpSocket(here, "10.0.0.1", 9000);
        const UniqueFd theirs = test::UdpSocket(peer, "10.0.0.2", 9000);
        ASSERT_TRUE(test::SendAndReceive(mine.get(), theirs.get(), "10.0.0.2", 9000, 1200));
        ASSERT_TRUE(test::SendAndReceive(theirs.get(), mine.get(), "10.0.0.1", 9000, 700));
    }
    // All the interface has carried: nothing else moves on it.
    const auto counters = test::IpCounters(here, "v0");
    ASSERT_TRUE(counters);
    const auto [rx, tx] = *counters;
    EXPECT_EQ(rx, 700u + 8 + 20 + 14);
    EXPECT_EQ(tx, 1200u + 8 + 20 + 14);

    run(here, "ip link set v0 down");
    ASSERT_TRUE(logs.WaitFor(Log().filename(), *program_)) << program_->Errors();
    ExpectTheTaskbarShows(ExpectSavedAndLogged());
    const auto stored = [](const char* name) {
        return ReadQwordByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + name).value_or(0);
    };
    EXPECT_EQ(stored("TodayRx"), 1000 + rx);
    EXPECT_EQ(stored("TodayTx"), 100 + tx);
    EXPECT_EQ(stored("TotalRx"), 5000000000 + rx);
    EXPECT_EQ(stored("TotalTx"), 10000 + tx);
    CloseAndExpectTheEnd();
}

TEST_F(EndToEnd, StartTimerWhenRunTimesASessionUntilTheWindowIsClosed) {
    ImportProvider(2, false, true);
    Start();
    ExpectCounting();
    CloseAndExpectTheEnd();
    const Duration added = ExpectSavedAndLogged();
    // Unless a last tick came just before the close and its text could no longer be read.
    if (!window_.Unread()) {
        EXPECT_EQ(window_.IconText(), "E: " + DurationText(added));
    }
}

// What the window shows follows a session's start and stop at once, whatever the options: the
// lamp (the window's and the taskbar's icon) turns as soon as the interface's change has been
// taken in, also when nothing else changes on the X server then (Elapsed does not change at a
// stop) and no X event comes to wake the program. Watched from outside, with and without the
// desktop's D-Bus (the panel's tray, or no session bus at all).
TEST_F(EndToEnd, TheLampFollowsEverySessionStartAndStopAtOnce) {
    test::NetNamespace here, peer;
    if (!here.Made())
        GTEST_SKIP() << here.Why();
    const auto run = RunIn;
    run(here, "ip link add v0 type veth peer name p0 netns " + std::to_string(peer.Pid()) +
                  " && ip addr add 10.0.0.1/24 dev v0");
    run(peer, "ip addr add 10.0.0.2/24 dev p0 && ip link set p0 up");
    using Picture = ProgramWindow::Picture;
    const struct {
        bool coloredIcon;
        int minimizedTime; // 0 Today, 1 Total, 2 Elapsed
        bool bus;
    } cases[] = {
        {false, 2, true}, {false, 2, false}, {false, 0, true}, {false, 1, false},
        {true, 2, true},  {true, 0, false},  {true, 1, true},  {false, 0, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "coloured icon " << c.coloredIcon << ", minimised time "
                                        << c.minimizedTime << ", D-Bus " << c.bus);
        UseHome(base_ / "TheLampFollowsEverySessionStartAndStopAtOnce" / std::to_string(++n));
        ImportProvider(3, true, false, false,
                       "\"eInterface\"=\"v0\"\r\n\"cbMinimizedTime\"=dword:0000000" +
                           std::to_string(c.minimizedTime) + "\r\n\"ckColoredIconWatching\"=dword:" +
                           (c.coloredIcon ? "00000001" : "00000000") + "\r\n");
        std::optional<TrayHost> tray;
        std::map<std::string, std::string> env;
        if (c.bus) {
            tray.emplace();
            ASSERT_EQ(tray->ReadLine(), "ready");
        } else {
            env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home_ / "no-bus").string();
        }
        FolderWatch logs(home_ / "logs");
        Start(env, here.Fd());
        // Watching lights the lamp that follows it at once; the session's lamp is not lit yet.
        if (c.coloredIcon) {
            ASSERT_TRUE(window_.WaitUntil(*program_, [&] {
                return window_.Icon() == Picture::GreenLamp;
            })) << program_->Errors();
        }
        const std::string before = window_.IconText();

        run(here, "ip link set v0 up");
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] {
            return window_.Icon() == Picture::GreenLamp;
        })) << "the lamp stays unlit at the session's start; " << program_->Errors();
        // The session's first tick changes the taskbar text: the session runs.
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] { return window_.IconText() != before; }))
            << program_->Errors();

        run(here, "ip link set v0 down");
        ASSERT_TRUE(logs.WaitFor(Log().filename(), *program_)) << program_->Errors();
        const Picture stopped = c.coloredIcon ? Picture::GreenLamp : Picture::RedLamp;
        ASSERT_TRUE(window_.WaitUntil(*program_, [&] { return window_.Icon() == stopped; }))
            << "the lamp does not turn at the session's stop; " << program_->Errors();
        CloseAndExpectTheEnd();
    }
}

// "Close Quorvane on disconnect": the user stops the session from the tray icon's menu, and the
// program ends by itself, with the session saved and logged.
TEST_F(EndToEnd, CloseOnDisconnectEndsTheProgramWithTheSessionSavedAndLogged) {
    ImportProvider(2, false, true, true);
    TrayHost tray;
    ASSERT_EQ(tray.ReadLine(), "ready");
    Start();
    ExpectCounting();
    tray.Send("click Stop Session");
    ASSERT_EQ(tray.ReadLine(), "clicked");
    pollfd ended{program_->ExitFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&ended, 1, test::kHangGuardMs), 1) << "the program goes on running";
    EXPECT_EQ(program_->Wait(), 0) << program_->Errors();
    ExpectSavedAndLogged();
}

} // namespace
