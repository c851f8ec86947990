// A session cut short as a user meets it: the real program on the tests' X server, its provider
// set to start a Manual session when run, killed with SIGKILL once the session's state is in the
// store, and started again. The test watches only from outside: the store's folder and the log's
// (inotify), what the store holds, and the processes' ends.
#include "accounting/session_recovery.h"
#include "core/clock.h"
#include "core/fd.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/session_store.h"
#include "settings/store.h"
#include "support/files.h"
#include "support/store_home.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvane;

namespace {

// The quorvane executable on the X server, its standard error kept in a file; killed when the
// object ends.
class Program {
public:
    explicit Program(const std::filesystem::path& errors) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, STDERR_FILENO);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::execl(QUORVANE_BINARY, QUORVANE_BINARY, nullptr);
            ::_exit(127);
        }
        ended_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    }
    ~Program() { Kill(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Readable once the process has ended.
    int EndedFd() const { return ended_.get(); }
    void Kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    UniqueFd ended_;
};

// Changes to the files of one folder, seen through inotify.
class FolderWatch {
public:
    explicit FolderWatch(const std::filesystem::path& folder)
        : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        ::inotify_add_watch(fd_.get(), folder.c_str(),
                            IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
    }

    // Asks `done` after every change until it says so; false when the program ends first.
    bool WaitUntil(const Program& program, const std::function<bool()>& done) {
        for (;;) {
            alignas(inotify_event) char buffer[4096];
            while (::read(fd_.get(), buffer, sizeof buffer) > 0) {
            }
            if (done())
                return true;
            pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {program.EndedFd(), POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (fds[1].revents != 0)
                return done();
        }
    }

private:
    UniqueFd fd_;
};

Duration Stored(const char* total) {
    Variant value;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + total, vkInteger, value);
    return value.isEmpty() ? -1 : value.toInt();
}

class KilledProgram : public test::OwnStoreTest {};

TEST_F(KilledProgram, ASessionKilledAfterItsStateWasWrittenIsRecoveredAtTheNextStart) {
    const std::filesystem::path logs = home_ / "logs";
    std::filesystem::create_directories(logs);
    const std::filesystem::path log = logs / "myisp.log";
    ASSERT_TRUE(SaveProfile("MyISP",
                            {{"cbDetection", Variant(2), vkInteger},
                             {"ckStartWhenRun", Variant(true), vkBool},
                             {"ckEnableLogging", Variant(true), vkBool},
                             {"eLogFile", Variant(log.string()), vkString}},
                            {100, 10, 20, 1000}, true));
    FolderWatch store(home_);
    FolderWatch logFolder(logs);

    std::optional<StoredSessionState> state;
    DateTime killed = 0.0;
    {
        Program first(home_ / "first.err");
        ASSERT_TRUE(store.WaitUntil(first, [&] {
            // A change is seen as the program writes it, before its commit is complete: the
            // store's write lock, taken and given back, waits for that commit.
            const StoreTransaction settled(HKEY_LOCAL_MACHINE);
            state = ReadSessionState();
            return state && state->counts[0] > 0;
        })) << test::ReadBytes(home_ / "first.err");
        killed = SystemNow();
        first.Kill();
    }
    // As the kill left it: a later write may have come in between.
    state = ReadSessionState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->provider, "MyISP");
    EXPECT_EQ(Stored("TotalTime"), 1000) << "nothing of the session saved";
    EXPECT_FALSE(std::filesystem::exists(log));

    Program second(home_ / "second.err");
    // The totals are committed before the log line is written.
    ASSERT_TRUE(logFolder.WaitUntil(second, [&] { return std::filesystem::exists(log); }))
        << test::ReadBytes(home_ / "second.err");
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    const Duration unsaved = state->counts[0] - state->counts[3];
    const Duration total = 1000 + unsaved;
    EXPECT_EQ(Stored("TotalTime"), total);
    const std::string line = test::ReadBytes(log);
    EXPECT_NE(line.find("  Total: " + DurationText(total) + "  Charges: "), std::string::npos)
        << line;
    EXPECT_EQ(line.find("\r\n"), line.size() - 2) << "one line";

    // What the kill lost: from the last write to the kill.
    const double session = (killed - state->firstTick) * 86400.0;
    const double lost = session - state->counts[0];
    EXPECT_GE(lost, 0.0);
    EXPECT_LE(lost, kSessionStateSeconds);
    RecordProperty("lost", std::to_string(lost) + " s of " + std::to_string(session) + " s");
}

} // namespace
