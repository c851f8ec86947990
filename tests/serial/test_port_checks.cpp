// Whether a port is held, as Linux's dialers and terminal programs tell it: lock files under
// every name the device goes by, in every format they are written in, stale ones, our own, the
// descriptors of other processes, and a port that is not there at all. Every held port is held
// by a second process, or by a lock file written as that program writes it.

#include "minicom_start.h"
#include "serial_support.h"

#include "serial/comm32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

const std::string kById = "usb-Quorvane_Test_Modem_0042-if00-port0";
const std::string kByPath = "pci-0000:00:14.0-usb-0:2:1.0-port0";

// Runs `check` in a child process without CAP_SYS_ADMIN (with which root passes TIOCEXCL) and
// answers what it said.
std::string InChildWithoutSysAdmin(const std::function<std::string()>& check) {
    int out[2];
    if (::pipe(out) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        std::string said = "CAP_SYS_ADMIN cannot be dropped";
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (::syscall(SYS_capget, &header, caps) == 0) {
            caps[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
            if (::syscall(SYS_capset, &header, caps) == 0)
                said = check();
        }
        [[maybe_unused]] ssize_t n = ::write(out[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    return said;
}

// A dialer's process, made beforehand, that starts as minicom does when asked to and then keeps
// what it got until it ends.
class MinicomDialer {
public:
    MinicomDialer(const fs::path& lock, const std::string& device)
        : port_(std::make_shared<int>(-1)),
          process_(
              [lock, device, port = port_](char request) {
                  if (request == 's')
                      return std::string(1,
                                         static_cast<char>(StartLikeMinicom(lock, device, *port)));
                  if (request == 'w') { // until bytes wait on its port
                      pollfd input{*port, POLLIN, 0};
                      ::poll(&input, 1, -1);
                      return std::string();
                  }
                  char bytes[256];
                  const ssize_t n = ::read(*port, bytes, sizeof bytes);
                  return std::string(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
              },
              [lock, port = port_] {
                  if (*port >= 0)
                      EndLikeMinicom(lock, *port);
              }) {}

    pid_t Pid() const { return process_.Pid(); }
    DialerStart Start() {
        const std::string said = process_.Ask('s');
        return said.size() == 1 ? static_cast<DialerStart>(said[0]) : DialerStart::OpenRefused;
    }
    // Returns once bytes wait to be read on its port.
    void WaitForInput() { process_.Ask('w'); }
    // What its port gives now, without waiting.
    std::string Input() { return process_.Ask('r'); }

private:
    std::shared_ptr<int> port_; // the open device, in the other process
    AnsweringProcess process_;
};

// The modem is a pseudo-terminal, reached as COM3 through the store folder, and under /dev (a
// folder of the test's own) as /dev/modem, a by-id and a by-path link, a link in a folder whose
// name holds '_', and /dev/gsm/modem beside /dev/gsm_modem, which is another device. /dev/pts
// is the system's.
class PortCheckTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"QUORVANE_HOME", (dir.Path() / "home").string()};
    ScopedEnv lockDir{"QUORVANE_LOCK_DIR", (dir.Path() / "lock").string()};
    ScopedEnv devDir{"QUORVANE_DEV_DIR", (dir.Path() / "dev").string()};
    Pty modem;
    Pty elsewhere; // another device
    FakeOps fake;  // keeps the debug lines
    TComm32 comm;
    std::string number = fs::path(modem.SlavePath()).filename().string();

    void SetUp() override {
        const fs::path dev = dir.Path() / "dev";
        for (const char* folder : {"lock", "home/ports", "dev/serial/by-id", "dev/serial/by-path",
                                   "dev/usb_modems", "dev/gsm"})
            fs::create_directories(dir.Path() / folder);
        fs::create_symlink("/dev/pts", dev / "pts");
        fs::create_symlink(modem.SlavePath(), dev / "modem");
        fs::create_symlink(modem.SlavePath(), dev / "serial" / "by-id" / kById);
        fs::create_symlink(modem.SlavePath(), dev / "serial" / "by-path" / kByPath);
        fs::create_symlink(modem.SlavePath(), dev / "usb_modems" / "usb_modem_1");
        fs::create_symlink(elsewhere.SlavePath(), dev / "ttyOther");
        fs::create_symlink(modem.SlavePath(), dev / "gsm" / "modem");
        fs::create_symlink(elsewhere.SlavePath(), dev / "gsm_modem");
        fs::create_symlink(modem.SlavePath(), dir.Path() / "home" / "ports" / "COM3");
        comm.SetCommPort("COM3");
    }
    void TearDown() override { comm.StopComm(); }

    fs::path Lock(const std::string& name) const { return dir.Path() / "lock" / ("LCK.." + name); }
    // The names of the lock files that an open of the modem takes.
    std::set<std::string> OwnLockNames() const {
        return {"LCK.." + number, "LCK..pts_" + number,
                "LCK..modem",     "LCK..serial_by-id_" + kById,
                "LCK.." + kById,  "LCK..serial_by-path_" + kByPath,
                "LCK.." + kByPath};
    }
    std::string Port() const { return "COM3 (" + modem.SlavePath() + ")"; }
    // The names of the lock folder's files.
    std::set<std::string> LockFolder() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path() / "lock"))
            names.insert(entry.path().filename().string());
        return names;
    }
    bool Debugged(const std::string& line) {
        const auto lines = fake.DebugLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::string LastDebugLine() {
        const auto lines = fake.DebugLines();
        return lines.empty() ? "" : lines.back();
    }
    // StartComm refuses a held port: ECommsError, not ECommsNotPresent, and the debug output
    // says why.
    void ExpectHeld(const std::string& why) {
        try {
            comm.StartComm();
            ADD_FAILURE() << "opened; expected: " << why;
            comm.StopComm();
        } catch (const ECommsNotPresent& e) {
            ADD_FAILURE() << "not present: " << LastDebugLine();
        } catch (const ECommsError& e) {
            EXPECT_STREQ(e.what(), "Error opening com port");
            EXPECT_EQ(LastDebugLine(), Port() + " is held: " + why);
        }
        EXPECT_FALSE(comm.IsOpen());
    }
    void ExpectFree() {
        ASSERT_TRUE(comm.StartComm()) << LastDebugLine();
        comm.StopComm();
    }
};

// A live lock under a name that another program gives the same device holds it; one of another
// device does not.
TEST_F(PortCheckTest, LockFilesOfTheDeviceUnderOtherNames) {
    const struct {
        const char* writer;
        std::string name;
        bool thisDevice;
    } cases[] = {
        {"cu, microcom, Kermit on /dev/pts/N", number, true},
        {"pppd, minicom on /dev/pts/N", "pts_" + number, true},
        {"pppd on /dev/modem", "modem", true},
        {"pppd, minicom on the by-id link", "serial_by-id_" + kById, true},
        {"cu on the by-id link", kById, true},
        {"pppd on the by-path link", "serial_by-path_" + kByPath, true},
        {"cu on the by-path link", kByPath, true},
        {"pppd on /dev/usb_modems/usb_modem_1", "usb_modems_usb_modem_1", true},
        {"a program given the store's link COM3", "COM3", true},
        {"pppd on another device", "ttyOther", false},
        {"pppd on /dev/gsm_modem, not /dev/gsm/modem", "gsm_modem", false},
        {"a name that is no device", "ttyQ9", false},
    };
    OtherProcess dialer([] {});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writer);
        WriteFile(Lock(c.name), HdbLock(dialer.Pid()));
        if (c.thisDevice)
            ExpectHeld("lock file " + Lock(c.name).string() + " of process " +
                       std::to_string(dialer.Pid()));
        else
            ExpectFree();
        EXPECT_EQ(ReadBytes(Lock(c.name)), HdbLock(dialer.Pid()));
        fs::remove(Lock(c.name));
    }
}

// While the port is open, its lock file stands under every name that a program may look for,
// readable by every user whatever our umask; closing removes all of them and nothing else.
TEST_F(PortCheckTest, OwnLockFilesUnderEveryName) {
    const std::set<std::string> names = OwnLockNames();
    WriteFile(dir.Path() / "lock" / "LCK..ttyS0", HdbLock(1)); // not ours: stays
    const mode_t umask = ::umask(077);
    const bool opened = comm.StartComm();
    ::umask(umask);
    ASSERT_TRUE(opened);
    std::set<std::string> expected = names;
    expected.insert("LCK..ttyS0");
    EXPECT_EQ(LockFolder(), expected);
    for (const std::string& name : names) {
        struct stat st;
        ASSERT_EQ(::stat((dir.Path() / "lock" / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, 0644u) << name;
        EXPECT_EQ(ReadBytes(dir.Path() / "lock" / name), HdbLock(::getpid())) << name;
    }
    // A dialer of another user reads the lock as pppd does and finds this process in it. The
    // folders are opened to everyone, as /run/lock is.
    fs::permissions(dir.Path(), fs::perms(0755));
    fs::permissions(dir.Path() / "lock", fs::perms(01777));
    const std::string modemLock = Lock("modem").string();
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        char text[12] = {};
        const int fd = ::open(modemLock.c_str(), O_RDONLY);
        const ssize_t n = fd < 0 ? -1 : ::read(fd, text, 11);
        const int pid = n > 0 ? std::atoi(text) : -1;
        [[maybe_unused]] ssize_t w = ::write(result[1], &pid, sizeof pid);
        ::_exit(0);
    }
    ::close(result[1]);
    int pid = 0;
    EXPECT_EQ(::read(result[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
    ::close(result[0]);
    ::waitpid(reader, nullptr, 0);
    EXPECT_EQ(pid, ::getpid());

    comm.StopComm();
    EXPECT_EQ(LockFolder(), std::set<std::string>{"LCK..ttyS0"});
}

// Each format as its writers write it. Live: held, and the file stays. Gone or a zombie: stale
// under the reading that applies; removed, and the port is ours.
TEST_F(PortCheckTest, LockFileFormats) {
    const struct {
        const char* writer;
        std::string (*text)(pid_t);
    } formats[] = {
        {"HDB: pppd, minicom, cu, Kermit", &HdbLock},
        {"short text",
         [](pid_t pid) {
             char text[16];
             std::snprintf(text, sizeof text, "%4d\n", static_cast<int>(pid));
             return std::string(text);
         }},
        {"digits alone: socat", [](pid_t pid) { return std::to_string(pid); }},
        {"binary",
         [](pid_t pid) {
             const std::int32_t value = pid;
             return std::string(reinterpret_cast<const char*>(&value), sizeof value);
         }},
    };
    enum State { Live, Zombie, Gone };
    for (const auto& format : formats) {
        for (const State state : {Live, Zombie, Gone}) {
            SCOPED_TRACE(std::string(format.writer) + (state == Live     ? ", live"
                                                       : state == Zombie ? ", zombie"
                                                                         : ", gone"));
            OtherProcess owner([] {});
            if (state == Zombie)
                owner.EndAsZombie();
            else if (state == Gone)
                owner.End();
            const std::string text = format.text(owner.Pid());
            WriteFile(Lock(number), text);
            if (state == Live) {
                ExpectHeld("lock file " + Lock(number).string() + " of process " +
                           std::to_string(owner.Pid()));
                EXPECT_EQ(ReadBytes(Lock(number)), text);
                fs::remove(Lock(number));
            } else {
                ASSERT_TRUE(comm.StartComm());
                EXPECT_TRUE(Debugged("Removed stale lock file " + Lock(number).string() +
                                     " of process " + std::to_string(owner.Pid())));
                EXPECT_EQ(ReadBytes(Lock(number)), HdbLock(::getpid()));
                comm.StopComm();
                EXPECT_FALSE(fs::exists(Lock(number)));
            }
        }
    }
    // Four bytes of text are text, not a binary PID: "%4d" of init's PID.
    WriteFile(Lock(number), "   1");
    ExpectHeld("lock file " + Lock(number).string() + " of process 1");
    EXPECT_EQ(ReadBytes(Lock(number)), "   1");
}

// A lock file that is there but gives no PID holds the port; nothing is removed.
TEST_F(PortCheckTest, UnreadableLockFileMeansHeld) {
    const std::string path = Lock("pts_" + number).string();
    const struct {
        const char* what;
        std::function<void()> make;
        std::string why;
    } cases[] = {
        {"a folder", [&] { fs::create_directory(path); },
         "lock file " + path + " cannot be read (Is a directory)"},
        {"a link", [&] { fs::create_symlink("/dev/null", path); },
         "lock file " + path + " cannot be read (Too many levels of symbolic links)"},
        {"empty: being written", [&] { WriteFile(path, ""); },
         "lock file " + path + " holds no process number"},
        {"no number", [&] { WriteFile(path, "locked\n"); },
         "lock file " + path + " holds no process number"},
        {"four bytes of text, no number", [&] { WriteFile(path, "abc\n"); },
         "lock file " + path + " holds no process number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        ExpectHeld(c.why);
        EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
        fs::remove(path);
    }
    if (::geteuid() != 0) { // root reads every file
        WriteFile(path, HdbLock(1));
        fs::permissions(path, fs::perms::none);
        ExpectHeld("lock file " + path + " cannot be read (Permission denied)");
    }
}

// Another program leaves a stale lock under the name each time just before we link ours: after
// its tries the port counts as held, and none of our own lock files stays behind.
TEST_F(PortCheckTest, LockThatCannotBeTakenMeansHeld) {
    OtherProcess gone([] {});
    gone.End();
    const std::string contested = Lock("modem").string();
    std::atomic<int> tries{0};
    fake.link = [&](const char*, const char* to) -> std::optional<int> {
        if (to == contested) {
            ++tries;
            WriteFile(contested, HdbLock(gone.Pid()));
        }
        return std::nullopt;
    };
    ExpectHeld("lock file " + contested + " could not be taken in 3 tries");
    EXPECT_EQ(tries.load(), 3);
    EXPECT_EQ(LockFolder(), std::set<std::string>{});
}

// pppd or minicom run as root and killed leave their lock in the sticky lock folder, where the
// user cannot remove it. Its process is gone, so it holds nothing: the user's check has the port,
// with its own lock under every other name, and leaves that one as it was.
TEST_F(PortCheckTest, StaleLockOfRootThatTheUserCannotRemove) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the lock must be root's and the check another user's: run as root";
    constexpr uid_t kUser = 65534;
    OtherProcess gone([] {});
    gone.End();
    const fs::path stale = Lock("pts_" + number);
    WriteFile(stale, HdbLock(gone.Pid()));
    // As on a Debian system: /run/lock is root's and open to everyone, sticky; the user's
    // session owns the terminal.
    fs::permissions(dir.Path(), fs::perms(0755));
    fs::permissions(dir.Path() / "lock", fs::perms(01777));
    ASSERT_EQ(::chown(modem.SlavePath().c_str(), kUser, kUser), 0);
    TComm32* userComm = nullptr; // in the other process
    std::optional<AnsweringProcess> user;
    user.emplace(
        [&](char) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kUser) != 0 || ::setuid(kUser) != 0)
                return std::string("cannot become the user");
            userComm = new TComm32;
            userComm->SetCommPort("COM3");
            try {
                userComm->StartComm();
                return std::string("opened");
            } catch (const ECommsError& e) {
                return e.what() + (": " + LastDebugLine());
            }
        },
        [&] {
            if (userComm)
                userComm->StopComm();
        });
    ASSERT_EQ(user->Ask('o'), "opened");
    EXPECT_EQ(LockFolder(), OwnLockNames());
    EXPECT_EQ(ReadBytes(stale), HdbLock(gone.Pid()));
    EXPECT_EQ(ReadBytes(Lock("modem")), HdbLock(user->Pid()));
    user.reset(); // the check ends
    EXPECT_EQ(LockFolder(), std::set<std::string>{stale.filename().string()});
    EXPECT_EQ(ReadBytes(stale), HdbLock(gone.Pid()));
}

// A dialer that starts while a check makes its threads finds nothing of the check in its way:
// the check takes the port only once they are made. The check then finds the dialer there and
// leaves the port to it.
TEST_F(PortCheckTest, DialerStartingWhileTheCheckMakesItsThreads) {
    const std::string slave = modem.SlavePath();
    MinicomDialer dialer(MinicomLockFile(dir.Path() / "lock", slave), slave);
    std::optional<DialerStart> started;
    fake.threadFails = [&] {
        if (!started)
            started = dialer.Start();
        return 0;
    };
    ExpectHeld("process " + std::to_string(dialer.Pid()) + " has it open");
    ASSERT_TRUE(started);
    EXPECT_EQ(*started, DialerStart::Opened);
    EXPECT_EQ(LockFolder(), std::set<std::string>{"LCK..pts_" + number});
}

// A check lets the port go as soon as it tells its threads to stop: a dialer that starts while
// they end has the port, and what reaches the port meanwhile is the dialer's, not purged by them.
TEST_F(PortCheckTest, DialerStartingWhileTheChecksThreadsEnd) {
    const std::string slave = modem.SlavePath();
    MinicomDialer dialer(MinicomLockFile(dir.Path() / "lock", slave), slave);
    std::optional<DialerStart> started;
    // Set before the threads exist: they call it.
    fake.debugged = [&](const std::string& line) {
        if (line != "Time to Exit")
            return;
        // The reader has seen the stop and not ended yet: the modem answers the dialer.
        started = dialer.Start();
        if (started == DialerStart::Opened) {
            modem.Send("OK\r\n");
            dialer.WaitForInput();
        }
    };
    ASSERT_TRUE(comm.StartComm());
    ASSERT_TRUE(WaitUntil([&] { return fake.readerWaiting.load(); }));
    comm.StopComm();
    fake.debugged = nullptr;
    ASSERT_TRUE(started);
    EXPECT_EQ(*started, DialerStart::Opened);
    EXPECT_EQ(dialer.Input(), "OK\r\n");
    ExpectHeld("lock file " + Lock("pts_" + number).string() + " of process " +
               std::to_string(dialer.Pid()));
}

// A lock naming this process that no open of ours holds was left behind: replaced, and gone
// after the close. One that another open of this process holds is live.
TEST_F(PortCheckTest, LockOfThisProcessLeftBehind) {
    WriteFile(Lock(number), HdbLock(::getpid()));
    WriteFile(Lock("modem"), HdbLock(::getpid()));
    ASSERT_TRUE(comm.StartComm());
    EXPECT_TRUE(Debugged("Removed stale lock file " + Lock(number).string() + " of process " +
                         std::to_string(::getpid())));
    TComm32 second;
    second.SetCommPort(modem.SlavePath());
    EXPECT_THROW(second.StartComm(), ECommsError);
    EXPECT_EQ(LastDebugLine(), modem.SlavePath() + " (" + modem.SlavePath() +
                                   ") is held: lock file " + Lock(number).string() +
                                   " of process " + std::to_string(::getpid()) + " (this one)");
    comm.StopComm();
    EXPECT_EQ(LockFolder(), std::set<std::string>{});
}

// A process that has the device open under a path of its own (a bind mount in a mount namespace
// of its own) is seen by the device number, before and after a free answer was kept.
TEST_F(PortCheckTest, ProcessWithTheDeviceOpenUnderAnotherPath) {
    const fs::path alias = dir.Path() / "alias";
    const fs::path opened = dir.Path() / "opened";
    WriteFile(alias, "");
    const std::string slave = modem.SlavePath();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "from the start" : "after a free answer");
        if (round == 1)
            ExpectFree();
        OtherProcess holder([&] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount(slave.c_str(), alias.c_str(), nullptr, MS_BIND, nullptr) != 0)
                return;
            const int fd = ::open(alias.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            char path[4096] = {};
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            if (fd >= 0 && ::readlink(self.c_str(), path, sizeof path - 1) > 0 && path != slave)
                ::close(::open(opened.c_str(), O_WRONLY | O_CREAT, 0644));
        });
        if (!fs::exists(opened))
            GTEST_SKIP() << "no mount namespace of its own for the second process";
        ExpectHeld("process " + std::to_string(holder.Pid()) + " has it open");
        holder.End();
        fs::remove(opened);
        ExpectFree();
    }
}

// TIOCEXCL, as screen and others take it, refuses the open; the process holding it is named.
TEST_F(PortCheckTest, ExclusiveOpenOfAnotherProcessNamesIt) {
    const std::string slave = modem.SlavePath();
    OtherProcess holder([&] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::ioctl(fd, TIOCEXCL);
    });
    const std::string said = InChildWithoutSysAdmin([&] {
        TComm32 probe;
        probe.SetCommPort(slave);
        try {
            probe.StartComm();
            probe.StopComm();
            return std::string("opened");
        } catch (const ECommsNotPresent&) {
            return "not present: " + LastDebugLine();
        } catch (const ECommsError& e) {
            return e.what() + (" / " + LastDebugLine());
        }
    });
    EXPECT_EQ(said, "Error opening com port / " + slave + " (" + slave +
                        ") is held: TIOCEXCL refused the open by process " +
                        std::to_string(holder.Pid()));
}

TEST_F(PortCheckTest, FlockOfAnotherProcessNamesIt) {
    const std::string slave = modem.SlavePath();
    OtherProcess holder([&] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::flock(fd, LOCK_EX | LOCK_NB);
    });
    ExpectHeld("flock is taken by process " + std::to_string(holder.Pid()));
}

// A port that is not there, or that cannot be used, is ECommsNotPresent (an ECommsError with
// the same texts); the debug output says which.
TEST_F(PortCheckTest, MissingOrUnusablePortIsNotPresent) {
    // A pseudo-terminal whose master never unlocked it: the node is there, the open fails (EIO).
    const int locked = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(locked, 0);
    ASSERT_EQ(::grantpt(locked), 0);
    const std::string lockedSlave = ::ptsname(locked);
    WriteFile(dir.Path() / "plain.txt", "");
    fs::create_symlink(dir.Path() / "gone", dir.Path() / "home" / "ports" / "COM4");
    const struct {
        std::string port;
        const char* text;
        std::string why;
    } cases[] = {
        {(dir.Path() / "no-such-device").string(), "Error opening com port",
         " is not present: No such file or directory"},
        {"COM4", "Error opening com port", " is not present: No such file or directory"},
        {lockedSlave, "Error opening com port",
         " is not present: it cannot be opened (Input/output error)"},
        {(dir.Path() / "plain.txt").string(), "File handle is not a comm handle. ",
         " is not a terminal device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        comm.SetCommPort(c.port);
        try {
            comm.StartComm();
            ADD_FAILURE() << "opened";
        } catch (const ECommsNotPresent& e) {
            EXPECT_STREQ(e.what(), c.text);
            EXPECT_TRUE(LastDebugLine().ends_with(c.why)) << LastDebugLine();
        }
    }
    ::close(locked);
}

} // namespace
} // namespace quorvane::test
