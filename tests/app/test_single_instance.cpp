// One Quorvane per user, as a user meets it: the real program on the tests' X server, started a
// second time. The second start brings the running one's window up (restored and raised) and
// ends with status 0; a start after the running one was killed (its socket left behind) comes up
// by itself. The test watches only from outside, as the window manager: it is the one client of
// the X server that the programs' top-level windows ask to be mapped, configured and raised, and
// it grants that as a window manager does.
#include "support/program_run.h"
#include "tests/watch/x11_desktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quorvane;
using test::Program;

namespace {

namespace fs = std::filesystem;

using test::kIconicState;
using test::kNormalState;

// The window manager's part, after the ICCCM: a window that asks to be mapped for the first time
// starts in the state its WM_HINTS ask for (iconic: left unmapped, WM_STATE Iconic); an iconic
// one that asks again is mapped (WM_STATE Normal). Configure requests are carried out; a raise
// among them is noted.
class StandInWindowManager {
public:
    StandInWindowManager() : xcb_(xcb_connect(nullptr, nullptr)) {
        xcb_connection_t* c = xcb_.get();
        test::BecomeWindowManager(c);
        wmState_ = test::InternAtom(c, "WM_STATE");
        netWmPid_ = test::InternAtom(c, "_NET_WM_PID");
        netWmName_ = test::InternAtom(c, "_NET_WM_NAME");
        utf8String_ = test::InternAtom(c, "UTF8_STRING");
        wmProtocols_ = test::InternAtom(c, "WM_PROTOCOLS");
        wmDeleteWindow_ = test::InternAtom(c, "WM_DELETE_WINDOW");
    }

    // The window's caption as the desktop shows it.
    std::string Caption(xcb_window_t window) const {
        return test::PropertyBytes(xcb_.get(), window, netWmName_, utf8String_, 64);
    }
    // Asks the window to close, as its title bar's close button does.
    void AskToClose(xcb_window_t window) {
        test::SendCloseRequest(xcb_.get(), window, wmProtocols_, wmDeleteWindow_);
    }

    // Serves the X server's events until `done` says so; false when `program` ends first. The
    // end of `other` wakes the wait too.
    bool WaitUntil(const Program& program, const std::function<bool()>& done,
                   const Program* other = nullptr) {
        xcb_connection_t* c = xcb_.get();
        for (;;) {
            test::ServeEvents(c, [this](const xcb_generic_event_t* event) { Handle(event); });
            if (done())
                return true;
            if (program.Ended() || xcb_connection_has_error(c) != 0)
                return false;
            pollfd fds[3] = {{xcb_get_file_descriptor(c), POLLIN, 0},
                             {program.ExitFd(), POLLIN, 0},
                             {other ? other->ExitFd() : -1, POLLIN, 0}};
            ::poll(fds, other && !other->Ended() ? 3 : 2, -1);
        }
    }

    // The top-level window of process `pid` that has asked to be mapped; XCB_NONE before.
    xcb_window_t WindowOf(pid_t pid) const {
        const auto found = windows_.find(pid);
        return found == windows_.end() ? XCB_NONE : found->second;
    }
    std::uint32_t State(xcb_window_t window) const {
        const auto found = states_.find(window);
        return found == states_.end() ? 0 : found->second;
    }
    bool Mapped(xcb_window_t window) const { return mapped_.count(window) != 0; }
    bool Raised(xcb_window_t window) const { return raised_.count(window) != 0; }

private:
    void Handle(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7F) {
        case XCB_MAP_REQUEST:
            MapRequested(reinterpret_cast<const xcb_map_request_event_t*>(event)->window);
            break;
        case XCB_CONFIGURE_REQUEST:
            Configure(*reinterpret_cast<const xcb_configure_request_event_t*>(event));
            break;
        case XCB_MAP_NOTIFY:
            mapped_.insert(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window);
            break;
        case XCB_UNMAP_NOTIFY:
            mapped_.erase(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window);
            break;
        case XCB_DESTROY_NOTIFY: {
            // Its id may come again for a window of another program.
            const xcb_window_t gone =
                reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window;
            states_.erase(gone);
            mapped_.erase(gone);
            raised_.erase(gone);
            break;
        }
        default:
            break;
        }
    }

    void MapRequested(xcb_window_t window) {
        xcb_connection_t* c = xcb_.get();
        if (const auto pid = test::WindowPid(c, window, netWmPid_))
            windows_.emplace(static_cast<pid_t>(*pid), window);
        std::uint32_t state = kNormalState;
        // Withdrawn: the state its hints ask for.
        if (State(window) == 0 && test::AsksToStartIconic(c, window))
            state = kIconicState;
        states_[window] = state;
        const std::uint32_t wmState[2] = {state, XCB_NONE};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmState_, wmState_, 32, 2, wmState);
        if (state == kNormalState)
            xcb_map_window(c, window);
    }

    void Configure(const xcb_configure_request_event_t& request) {
        test::Configure(xcb_.get(), request);
        if ((request.value_mask & XCB_CONFIG_WINDOW_STACK_MODE) &&
            request.stack_mode == XCB_STACK_MODE_ABOVE)
            raised_.insert(request.window);
    }

    XcbConnection xcb_;
    xcb_atom_t wmState_ = XCB_NONE, netWmPid_ = XCB_NONE, netWmName_ = XCB_NONE,
               utf8String_ = XCB_NONE, wmProtocols_ = XCB_NONE, wmDeleteWindow_ = XCB_NONE;
    std::map<pid_t, xcb_window_t> windows_;
    std::map<xcb_window_t, std::uint32_t> states_;
    std::set<xcb_window_t> mapped_, raised_;
};

// The socket in `folder`; empty when there is none.
fs::path SocketIn(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_socket())
            return entry.path();
    return {};
}

bool HoldsASocket(const fs::path& folder) {
    return !SocketIn(folder).empty();
}

// A connection of some other program to the socket at `path`, reached through a descriptor of
// its folder: the test's folders are deeper than a socket's path can name.
UniqueFd Connect(const fs::path& path) {
    const UniqueFd folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string via =
        "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, via.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << via << ": " << std::strerror(errno);
    return fd;
}

// Waits for the other side to close the connection; what it sent before.
std::string ReadToTheEnd(int fd) {
    std::string got;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

class SingleInstance : public testing::Test {
protected:
    std::unique_ptr<Program> Start(const std::string& name) {
        std::map<std::string, std::string> env = env_;
        env["QT_QPA_PLATFORM"] = "xcb";
        env["QUORVANE_HOME"] = home_.string();
        return std::make_unique<Program>(QUORVANE_BINARY, env, home_ / (name + ".err"));
    }

    // Started, the program's window comes up as it always does: minimised (iconic).
    std::unique_ptr<Program> StartFirst(const std::string& name) {
        auto program = Start(name);
        const pid_t pid = program->Pid();
        EXPECT_TRUE(wm_.WaitUntil(*program, [&] {
            return wm_.State(wm_.WindowOf(pid)) == kIconicState;
        })) << program->Errors();
        EXPECT_FALSE(wm_.Mapped(wm_.WindowOf(pid)));
        return program;
    }

    // Started again, the program ends with status 0, with no window of its own, and the running
    // one's window is mapped (restored) and raised.
    void StartAgainAndExpectItUp(Program& running, const std::string& name) {
        auto again = Start(name);
        const pid_t pid = again->Pid();
        // It ends, or (a second Quorvane) comes up with a window of its own.
        ASSERT_TRUE(wm_.WaitUntil(
            running, [&] { return again->Ended() || wm_.WindowOf(pid) != XCB_NONE; }, again.get()))
            << running.Errors();
        ASSERT_EQ(wm_.WindowOf(pid), XCB_NONE) << "a second Quorvane came up";
        EXPECT_EQ(again->Wait(), 0) << again->Errors();
        const xcb_window_t window = wm_.WindowOf(running.Pid());
        ASSERT_TRUE(wm_.WaitUntil(running, [&] {
            return wm_.Mapped(window) && wm_.Raised(window);
        })) << running.Errors();
        EXPECT_EQ(wm_.State(window), kNormalState);
    }

    // Started while another Quorvane runs on the store (or with the store's lock in the way), the
    // program never comes up: it shows a warning box, which the test closes as a user does, and
    // then ends with status 1, having said on standard error what `said` holds. The running one,
    // when there is one, goes on as it was.
    void StartAndExpectRefusal(const std::string& name, const std::string& said,
                               Program* running = nullptr) {
        auto again = Start(name);
        const pid_t pid = again->Pid();
        ASSERT_TRUE(wm_.WaitUntil(*again, [&] { return wm_.WindowOf(pid) != XCB_NONE; }))
            << "it ended without a box: " << again->Errors();
        const xcb_window_t box = wm_.WindowOf(pid);
        ASSERT_EQ(wm_.State(box), kNormalState) << "a second Quorvane came up";
        EXPECT_EQ(wm_.Caption(box), "Warning");
        wm_.AskToClose(box);
        EXPECT_EQ(again->Wait(), 1);
        const std::string errors = test::ReadBytes(home_ / (name + ".err"));
        EXPECT_THAT(errors, testing::HasSubstr(said));
        if (running) {
            EXPECT_FALSE(running->Ended()) << running->Errors();
            EXPECT_EQ(wm_.State(wm_.WindowOf(running->Pid())), kIconicState);
        }
    }

    StandInWindowManager wm_;
    fs::path home_;
    std::map<std::string, std::string> env_;
};

TEST_F(SingleInstance, ASecondStartBringsTheRunningWindowUpAndAStartAfterAKillComesUp) {
    const fs::path base = fs::path(std::getenv("QUORVANE_HOME")) / "single-instance";
    const fs::path runtime = std::getenv("XDG_RUNTIME_DIR");
    // Deeper than a socket's path can name (107 bytes).
    const fs::path deep = runtime / std::string(60, 'd') / std::string(60, 'e');
    const struct {
        const char* where;
        std::optional<fs::path> runtimeFolder; // none: XDG_RUNTIME_DIR unset
        bool storeFolder;
    } cases[] = {
        {"the runtime folder", runtime, false},
        {"a runtime folder too deep for a socket's path", deep, false},
        {"the store folder, without a runtime folder", std::nullopt, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        home_ = base / std::to_string(++n);
        fs::remove_all(home_);
        fs::create_directories(home_);
        env_.clear();
        if (c.runtimeFolder) {
            fs::create_directories(*c.runtimeFolder);
            fs::permissions(*c.runtimeFolder, fs::perms::owner_all);
            env_["XDG_RUNTIME_DIR"] = c.runtimeFolder->string();
        } else {
            env_["XDG_RUNTIME_DIR"] = "";
        }
        const fs::path folder = c.storeFolder ? home_ : *c.runtimeFolder;

        auto first = StartFirst("first");
        StartAgainAndExpectItUp(*first, "second");
        first->Kill();
        EXPECT_TRUE(HoldsASocket(folder)) << "the kill left the socket behind";

        auto third = StartFirst("third");
        StartAgainAndExpectItUp(*third, "fourth");
        third->Kill();
    }
}

// Whatever else connects to the socket gets no answer and is let go, and a connection that says
// nothing holds nobody up: a later start still brings the window up.
TEST_F(SingleInstance, ConnectionsThatAreNoStartOfOursChangeNothing) {
    home_ = fs::path(std::getenv("QUORVANE_HOME")) / "strangers";
    const fs::path runtime = home_ / "runtime";
    fs::remove_all(home_);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    env_ = {{"XDG_RUNTIME_DIR", runtime.string()}};
    auto first = StartFirst("first");
    const fs::path socket = SocketIn(runtime);
    ASSERT_FALSE(socket.empty());

    const UniqueFd silent = Connect(socket);
    ::close(Connect(socket).release()); // gone at once
    for (const std::string& said : {std::string("hello\n"), std::string(100, 'x')}) {
        SCOPED_TRACE(said.substr(0, 10));
        const UniqueFd stranger = Connect(socket);
        ASSERT_TRUE(WriteAll(stranger.get(), said.data(), said.size()));
        EXPECT_EQ(ReadToTheEnd(stranger.get()), "") << "let go without an answer";
    }
    StartAgainAndExpectItUp(*first, "second");
    EXPECT_FALSE(first->Ended());
}

// Whatever stands where the socket goes (a file, a folder, a link), or a runtime folder that is
// none, never lets a second Quorvane run on the same store: the lock in the store folder
// refuses it, and it says why. The first start, which cannot listen there, runs all the same.
TEST_F(SingleInstance, NothingInTheSocketsWayLetsASecondRunOnTheStore) {
    const fs::path base = fs::path(std::getenv("QUORVANE_HOME")) / "in-the-way";
    struct Case {
        const char* what;
        std::function<void(const fs::path& socket)> block; // the socket's name, found at a start
        bool runtimeAFile; // XDG_RUNTIME_DIR names a file
        std::string said;
    };
    std::vector<Case> cases = {
        {"a file", [](const fs::path& socket) { std::ofstream(socket) << "mine"; }, false,
         "is in the way"},
        {"a folder", [](const fs::path& socket) { fs::create_directory(socket); }, false,
         "is in the way"},
        {"a link", [](const fs::path& socket) { fs::create_symlink("nowhere", socket); }, false,
         "is in the way"},
        {"a runtime folder that is a file", nullptr, true, "cannot be opened"},
    };
    if (::geteuid() != 0)
        cases.push_back({"a runtime folder that may not be written",
                         [](const fs::path& socket) {
                             fs::permissions(socket.parent_path(),
                                             fs::perms::owner_read | fs::perms::owner_exec);
                         },
                         false, "nothing listens"});
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        home_ = base / std::to_string(++n);
        const fs::path runtime = home_ / "runtime";
        fs::remove_all(home_);
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        if (c.runtimeAFile)
            std::ofstream(home_ / "runtime-file") << "not a folder";
        env_ = {{"XDG_RUNTIME_DIR", (c.runtimeAFile ? home_ / "runtime-file" : runtime).string()}};
        if (c.block) {
            // The socket's name, from a start that is killed.
            auto probe = StartFirst("probe");
            const fs::path socket = SocketIn(runtime);
            probe->Kill();
            ASSERT_FALSE(socket.empty());
            fs::remove(socket);
            c.block(socket);
        }
        auto first = StartFirst("first");
        StartAndExpectRefusal("second", "Quorvane is running already on the store folder " +
                                            home_.string() + " (process " +
                                            std::to_string(first->Pid()) + ")",
                              first.get());
        EXPECT_THAT(test::ReadBytes(home_ / "second.err"), testing::HasSubstr(c.said));
        first->Kill();
        fs::permissions(runtime, fs::perms::owner_all);
    }
}

// The store's lock is never taken through a link, nor where something else has its name: the
// start says so and runs no further, and what the link leads to is left alone.
TEST_F(SingleInstance, TheStoresLockIsNeverTakenThroughALink) {
    const fs::path base = fs::path(std::getenv("QUORVANE_HOME")) / "lock-link";
    const struct {
        const char* what;
        bool target; // the link leads to a file
    } cases[] = {{"a link to a file", true}, {"a link to nothing", false}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        home_ = base / std::to_string(++n);
        fs::remove_all(home_);
        fs::create_directories(home_ / "runtime");
        fs::permissions(home_ / "runtime", fs::perms::owner_all);
        env_ = {{"XDG_RUNTIME_DIR", (home_ / "runtime").string()}};
        const fs::path target = home_.string() + ".target";
        fs::remove(target);
        if (c.target)
            std::ofstream(target) << "not a lock\n";
        fs::create_symlink(target, home_ / "quorvane.lock");
        StartAndExpectRefusal("start", (home_ / "quorvane.lock").string() +
                                           " is a symbolic link, which is never followed");
        EXPECT_EQ(fs::exists(target), c.target);
        if (c.target) {
            EXPECT_EQ(test::ReadBytes(target), "not a lock\n");
        }
        fs::remove(target);
    }
}

} // namespace
