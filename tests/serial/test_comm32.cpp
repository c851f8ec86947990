// TComm32 on real pseudo-terminals: opening and closing, data both ways, the 250 ms burst
// boundary, ports held by another process, the failures of StartComm and the log's lines.

#include "serial_support.h"

#include "serial/comm32.h"
#include "serial/comms_log.h"
#include "serial/posix_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asm/termbits.h>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvane::test {
namespace {

const std::string W1 = "Waiting for a CommEvent (Error) to occur.";
const std::string W2 = "Waiting for data from comm connection.";
const std::string RS = "Read thread shutting down";
const std::string WS = "Write thread shutting down";

class Comm32Test : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"QUORVANE_HOME", (dir.Path() / "home").string()};
    ScopedEnv lockDir{"QUORVANE_LOCK_DIR", (dir.Path() / "lock").string()};
    Pty pty;
    std::optional<FakeOps> fakeOps; // outlives the port: TearDown stops it first
    TComm32 comm;
    std::vector<std::string> data;
    std::vector<TObject*> hangups;

    void SetUp() override {
        std::filesystem::create_directories(dir.Path() / "lock");
        std::filesystem::create_directories(dir.Path() / "home" / "ports");
        std::filesystem::create_symlink(pty.SlavePath(), dir.Path() / "home" / "ports" / "COM3");
        comm.SetCommPort("COM3");
        comm.SetBaudRate(14400);
        comm.SetOnReceiveData([this](void* buffer, std::uint16_t length) {
            data.emplace_back(static_cast<char*>(buffer), length);
        });
        comm.SetOnRequestHangup([this](TObject* sender) { hangups.push_back(sender); });
    }
    void TearDown() override { comm.StopComm(); }

    bool Pump(const std::function<bool()>& done) {
        return PumpUntil(
            comm.NotifyHandle(), [this] { return comm.ProcessMessages(); }, done);
    }
    std::filesystem::path LockFile() const {
        return dir.Path() / "lock" /
               ("LCK.." + std::filesystem::path(pty.SlavePath()).filename().string());
    }
    void ExpectOpenFails(const char* what) {
        try {
            comm.StartComm();
            ADD_FAILURE() << "StartComm returned";
        } catch (const ECommsError& e) {
            EXPECT_STREQ(e.what(), what);
        }
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.GetReadThread(), nullptr);
        EXPECT_EQ(comm.GetWriteThread(), nullptr);
    }
};

TEST(Comm32Construction, Defaults) {
    SetCommsLogName("left over");
    TComm32 comm;
    EXPECT_EQ(comm.GetCommPort(), "COM2");
    EXPECT_EQ(comm.GetBaudRate(), 0);
    EXPECT_EQ(comm.GetCommsLogFileName(), "");
    EXPECT_EQ(GetCommsLogName(), "");
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.GetOnReceiveData());
    EXPECT_FALSE(comm.GetOnRequestHangup());
    comm.SetCommsLogFileName("x.log");
    EXPECT_EQ(GetCommsLogName(), "x.log");
    EXPECT_EQ(comm.GetCommsLogFileName(), "x.log");
    comm.SetCommsLogFileName("");
}

TEST(PortNames, Resolution) {
    TempDir dir;
    ScopedEnv home("QUORVANE_HOME", dir.Path().string());
    {
        ScopedEnv devices("QUORVANE_DEV_DIR", "");
        EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
        EXPECT_EQ(ResolvePortName("com4"), "/dev/ttyS3");
    }
    ScopedEnv devices("QUORVANE_DEV_DIR", (dir.Path() / "dev").string());
    EXPECT_EQ(ResolvePortName("COM2"), (dir.Path() / "dev" / "ttyS1").string());
    EXPECT_EQ(ResolvePortName("COM0"), "COM0");
    EXPECT_EQ(ResolvePortName("COMX"), "COMX");
    EXPECT_EQ(ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    std::filesystem::create_directories(dir.Path() / "ports");
    std::filesystem::create_symlink("/dev/ttyUSB0", dir.Path() / "ports" / "COM3");
    EXPECT_EQ(ResolvePortName("COM3"), (dir.Path() / "ports" / "COM3").string());
    ScopedEnv lock("QUORVANE_LOCK_DIR", (dir.Path() / "locks").string());
    EXPECT_EQ(LockDirectory(), dir.Path() / "locks");
}

TEST_F(Comm32Test, OpenAndClose) {
    ASSERT_TRUE(comm.StartComm());
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_NE(comm.GetReadThread(), nullptr);
    EXPECT_NE(comm.GetWriteThread(), nullptr);
    EXPECT_EQ(ReadBytes(LockFile()), HdbLock(::getpid()));
    const int other = pty.OpenSlave();
    int exclusive = 0;
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    struct termios2 tio;
    ASSERT_EQ(::ioctl(other, TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_ospeed, 14400u);
    comm.StopComm();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.GetReadThread(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(LockFile()));
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(other);
}

TEST_F(Comm32Test, BaudRateZeroKeepsTheSpeed) {
    comm.SetBaudRate(0);
    const int other = pty.OpenSlave();
    struct termios2 before, after;
    ASSERT_EQ(::ioctl(other, TCGETS2, &before), 0);
    ASSERT_TRUE(comm.StartComm());
    ASSERT_EQ(::ioctl(other, TCGETS2, &after), 0);
    EXPECT_EQ(after.c_ospeed, before.c_ospeed);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    ::close(other);
}

TEST_F(Comm32Test, DataBothWays) {
    ASSERT_TRUE(comm.StartComm());
    pty.Send("hello");
    ASSERT_TRUE(Pump([&] { return !data.empty(); }));
    EXPECT_EQ(data, std::vector<std::string>{"hello"});
    ASSERT_TRUE(comm.WriteCommData("world", 5));
    EXPECT_EQ(pty.Receive(5), "world");
    ASSERT_TRUE(comm.WriteCommData("", 0));
    ASSERT_TRUE(comm.WriteCommData("!", 1));
    EXPECT_EQ(pty.Receive(1), "!");
}

// A block ends 250 ms after its last byte, on the steady clock, or at once when the buffer is
// full. The clock moves only when the test says so; each step is taken once the reader waits.
TEST_F(Comm32Test, BurstsEndAfter250msOfQuiet) {
    FakeOps& fake = fakeOps.emplace();
    fake.UseFakeClock();
    ASSERT_TRUE(comm.StartComm());
    long sent = 0;
    // Sends `bytes` and waits until the reader has read them all and waits again.
    const auto send = [&](const std::string& bytes) {
        pty.Send(bytes);
        sent += static_cast<long>(bytes.size());
        return WaitUntil([&] { return fake.bytesRead == sent && fake.readerWaiting; });
    };
    // Moves the clock and waits until the reader has seen it: with time left, or with a block.
    const auto advance = [&](std::int64_t ms, std::size_t blocks) {
        const long looks = fake.clockLooks;
        fake.AdvanceClock(ms);
        return Pump(
            [&] { return data.size() == blocks && (blocks > 0 || fake.clockLooks > looks); });
    };
    ASSERT_TRUE(WaitUntil([&] { return fake.readerWaiting.load(); }));
    ASSERT_TRUE(send("abc"));
    ASSERT_TRUE(advance(100, 0));
    ASSERT_TRUE(send("def"));
    ASSERT_TRUE(advance(249, 0));
    comm.ProcessMessages();
    EXPECT_TRUE(data.empty()); // 249 ms after "def": the block is still open
    ASSERT_TRUE(advance(1, 1));
    EXPECT_EQ(data, std::vector<std::string>{"abcdef"});

    ASSERT_TRUE(send("ghi"));
    ASSERT_TRUE(advance(250, 2));
    EXPECT_EQ(data[1], "ghi");

    // A full buffer ends a block with no time passing: 5000 bytes are 2048 + 2048 + 904.
    ASSERT_TRUE(send(std::string(5000, 'z')));
    comm.ProcessMessages();
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[2].size(), 2048u);
    EXPECT_EQ(data[3].size(), 2048u);
    ASSERT_TRUE(advance(250, 5));
    EXPECT_EQ(data[4].size(), 904u);
}

TEST_F(Comm32Test, HeldByAFlockElsewhere) {
    const int other = pty.OpenSlave();
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ExpectOpenFails("Error opening com port");
    ::close(other);
    EXPECT_TRUE(comm.StartComm());
}

TEST_F(Comm32Test, HeldByAnotherProcessWithTheDeviceOpen) {
    const std::string path = pty.SlavePath();
    for (int round = 0; round < 2; ++round) {
        // Once a free port has been seen (the answer is then kept), and once from the start.
        if (round == 1) {
            ASSERT_TRUE(comm.StartComm());
            comm.StopComm();
            ASSERT_TRUE(comm.StartComm());
            comm.StopComm();
        }
        OtherProcess other([&] { ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK); });
        ExpectOpenFails("Error opening com port");
        ExpectOpenFails("Error opening com port");
        other.End();
        EXPECT_TRUE(comm.StartComm());
        comm.StopComm();
    }
}

TEST_F(Comm32Test, NoLockFolder) {
    ScopedEnv missing("QUORVANE_LOCK_DIR", (dir.Path() / "no-such-folder").string());
    ASSERT_TRUE(comm.StartComm()); // held by flock and TIOCEXCL alone
    TComm32 second;
    second.SetCommPort("COM3");
    EXPECT_THROW(second.StartComm(), ECommsError);
}

TEST_F(Comm32Test, SecondComponentOnTheSamePort) {
    ASSERT_TRUE(comm.StartComm());
    TComm32 second;
    second.SetCommPort(pty.SlavePath());
    try {
        second.StartComm();
        ADD_FAILURE();
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening com port");
    }
    EXPECT_TRUE(std::filesystem::exists(LockFile()));
}

TEST_F(Comm32Test, MissingDevice) {
    comm.SetCommPort((dir.Path() / "no-such-device").string());
    ExpectOpenFails("Error opening com port");
    std::filesystem::create_symlink(dir.Path() / "gone", dir.Path() / "home" / "ports" / "COM4");
    comm.SetCommPort("COM4");
    ExpectOpenFails("Error opening com port");
}

TEST_F(Comm32Test, NotATerminal) {
    const auto file = dir.Path() / "plain.txt";
    WriteFile(file, "");
    comm.SetCommPort(file.string());
    ExpectOpenFails("File handle is not a comm handle. ");
    comm.SetCommPort("/dev/null");
    ExpectOpenFails("File handle is not a comm handle. ");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "lock" / "LCK..null"));
}

TEST_F(Comm32Test, StartTwice) {
    ASSERT_TRUE(comm.StartComm());
    TReadThread* reader = comm.GetReadThread();
    TWriteThread* writer = comm.GetWriteThread();
    const int fd = comm.GetCommFile();
    try {
        comm.StartComm();
        ADD_FAILURE();
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Already have a comm file open");
    }
    EXPECT_EQ(comm.GetReadThread(), reader);
    EXPECT_EQ(comm.GetWriteThread(), writer);
    EXPECT_EQ(comm.GetCommFile(), fd);
    pty.Send("still there");
    EXPECT_TRUE(Pump([&] { return !data.empty(); }));
}

TEST_F(Comm32Test, StopWhenClosedDoesNothing) {
    const auto log = dir.Path() / "comms.log";
    comm.SetCommsLogFileName(log.string());
    comm.StopComm();
    EXPECT_FALSE(std::filesystem::exists(log));
    comm.SetCommsLogFileName("");
}

// The probe's open and close, many times over: nothing stays behind, and every reader that
// starts only after the stop (its log says so) asks for one hang-up, delivered afterwards.
TEST_F(Comm32Test, StopRightAfterStart) {
    const auto log = dir.Path() / "comms.log";
    const int fds = CountOpenFds();
    const int threads = CountThreads();
    comm.SetCommsLogFileName(log.string());
    std::size_t lateReaders = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(comm.StartComm());
        comm.StopComm();
        ASSERT_FALSE(comm.IsOpen());
        for (const std::string& line : SplitCrLf(ReadBytes(log)))
            lateReaders += line.rfind("Unable to Setup", 0) == 0;
    }
    comm.SetCommsLogFileName("");
    EXPECT_TRUE(hangups.empty());
    comm.ProcessMessages();
    EXPECT_EQ(hangups.size(), lateReaders);
    for (TObject* sender : hangups)
        EXPECT_EQ(sender, &comm);
    EXPECT_EQ(CountOpenFds(), fds);
    // A joined thread leaves /proc/self/task a moment after the join has returned.
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }));
    EXPECT_FALSE(std::filesystem::exists(LockFile()));
}

TEST_F(Comm32Test, HangupWhenTheLineGoes) {
    ASSERT_TRUE(comm.StartComm());
    pty.CloseMaster();
    ASSERT_TRUE(Pump([&] { return !hangups.empty(); }));
    EXPECT_EQ(hangups[0], &comm);
    comm.StopComm();
}

TEST_F(Comm32Test, LogLines) {
    const auto log = dir.Path() / "comms.log";
    WriteFile(log, "old contents\r\n");
    comm.SetCommsLogFileName(log.string());
    FakeOps& fake = fakeOps.emplace();
    ASSERT_TRUE(comm.StartComm());
    EXPECT_EQ(ReadBytes(log), "");
    ASSERT_TRUE(WaitUntil([&] { return fake.readerWaiting.load(); }));
    comm.StopComm();
    comm.SetCommsLogFileName("");
    const auto lines = SplitCrLf(ReadBytes(log));
    ASSERT_EQ(lines.size(), 7u) << ReadBytes(log);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              (std::vector<std::string>{W1, W2, "Stopping the Comm", "Closing Read Thread "}));
    // The writer sees the same stop signal and may end before or after the reader.
    std::vector<std::string> rest(lines.begin() + 4, lines.end());
    const auto at = [&](const std::string& line) {
        return std::find(rest.begin(), rest.end(), line) - rest.begin();
    };
    EXPECT_LT(at(RS), at("Closing Write Thread"));
    EXPECT_LT(at(WS), 3);
}

TEST_F(Comm32Test, LogFileCannotBeCreated) {
    comm.SetCommsLogFileName((dir.Path() / "no-folder" / "comms.log").string());
    EXPECT_THROW(comm.StartComm(), EInOutError);
    EXPECT_FALSE(comm.IsOpen());
    comm.SetCommsLogFileName("");
}

TEST_F(Comm32Test, WindowProcedure) {
    comm.SetOnReceiveData(nullptr);
    TMessage message{WM_COMMDATA, 3, reinterpret_cast<std::intptr_t>(LocalAlloc(4)), 7};
    comm.CommWndProc(message); // no handler: the block is released all the same
    EXPECT_EQ(message.Result, 0);
    std::uint16_t length = 0;
    comm.SetOnReceiveData([&](void*, std::uint16_t n) { length = n; });
    message = {WM_COMMDATA, 0x10005, reinterpret_cast<std::intptr_t>(LocalAlloc(6)), 0};
    comm.CommWndProc(message);
    EXPECT_EQ(length, 5);
    message = {WM_USER + 7, 1, 2, 9};
    comm.CommWndProc(message);
    EXPECT_EQ(message.Result, 0);
    message = {WM_COMMHANGUP, 0, 0, 0};
    comm.CommWndProc(message);
    EXPECT_EQ(hangups, std::vector<TObject*>{&comm});
}

// -------------------------------------------------------------- failures inside StartComm

TEST_F(Comm32Test, CloseEventCannotBeCreated) {
    const auto log = dir.Path() / "comms.log";
    comm.SetCommsLogFileName(log.string());
    {
        FakeOps fake;
        fake.eventFdFails = [] { return true; };
        EXPECT_FALSE(comm.StartComm());
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(LockFile())); // the port is let go
    CloseCommsLog();                                   // the failed StartComm left it open
    EXPECT_EQ(SplitCrLf(ReadBytes(log)),
              std::vector<std::string>{"Unable to CreateEvent: " + ErrorText(EMFILE)});
    EXPECT_TRUE(comm.StartComm());
    comm.StopComm();
    comm.SetCommsLogFileName("");
}

TEST_F(Comm32Test, ReaderCannotBeCreated) {
    const auto log = dir.Path() / "comms.log";
    comm.SetCommsLogFileName(log.string());
    {
        FakeOps fake;
        fake.threadFails = [] { return EAGAIN; };
        try {
            comm.StartComm();
            ADD_FAILURE();
        } catch (const ECommsError& e) {
            EXPECT_STREQ(e.what(), "Unable to create Read thread");
        }
    }
    EXPECT_TRUE(comm.IsOpen()); // half-open
    EXPECT_EQ(comm.GetReadThread(), nullptr);
    EXPECT_EQ(comm.GetWriteThread(), nullptr);
    EXPECT_THROW(comm.StartComm(), ECommsError);
    comm.StopComm();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(LockFile()));
    comm.SetCommsLogFileName("");
    EXPECT_EQ(SplitCrLf(ReadBytes(log)),
              (std::vector<std::string>{"Unable to create Read thread" + ErrorText(EAGAIN),
                                        "Stopping the Comm"}));
}

TEST_F(Comm32Test, WriterCannotBeCreated) {
    const auto log = dir.Path() / "comms.log";
    comm.SetCommsLogFileName(log.string());
    for (int way = 0; way < 2; ++way) {
        {
            FakeOps fake;
            std::atomic<int> calls{0};
            if (way == 0)
                fake.threadFails = [&] { return ++calls == 2 ? EAGAIN : 0; };
            else
                fake.eventFdFails = [&] { return ++calls == 2; }; // the writer's queue
            try {
                comm.StartComm();
                ADD_FAILURE();
            } catch (const ECommsError& e) {
                EXPECT_STREQ(e.what(), "Unable to create Write thread");
            }
            EXPECT_TRUE(comm.IsOpen());
            EXPECT_NE(comm.GetReadThread(), nullptr);
            EXPECT_EQ(comm.GetWriteThread(), nullptr);
            ASSERT_TRUE(WaitUntil([&] { return fake.readerWaiting.load(); }));
            comm.StopComm();
        }
        EXPECT_FALSE(comm.IsOpen());
        // The reader's first lines and the main thread's line come in either order.
        auto lines = SplitCrLf(ReadBytes(log));
        ASSERT_EQ(lines.size(), 6u);
        std::sort(lines.begin(), lines.begin() + 3);
        EXPECT_EQ(lines,
                  (std::vector<std::string>{
                      "Unable to create Write thread" + ErrorText(way == 0 ? EAGAIN : EMFILE), W1,
                      W2, "Stopping the Comm", "Closing Read Thread ", RS}));
    }
    comm.SetCommsLogFileName("");
}

// A reader that starts only after StopComm signalled: its hang-up comes after StopComm.
TEST_F(Comm32Test, ReaderStartingAfterTheStop) {
    const auto log = dir.Path() / "comms.log";
    comm.SetCommsLogFileName(log.string());
    // Each thread's body runs only once its CloseEvent has been signalled.
    class StartAfterTheStop : public FakeOps {
    public:
        int CreateThread(pthread_t* thread, void* (*body)(void*), void* argument) override {
            struct Held {
                void* (*body)(void*);
                void* argument;
            };
            return PosixOps::CreateThread(
                thread,
                [](void* p) -> void* {
                    const std::unique_ptr<Held> held(static_cast<Held*>(p));
                    auto* thread = static_cast<TThread*>(held->argument);
                    int stop = -1;
                    if (auto* reader = dynamic_cast<TReadThread*>(thread))
                        stop = reader->CloseEvent;
                    else if (auto* writer = dynamic_cast<TWriteThread*>(thread))
                        stop = writer->CloseEvent;
                    pollfd fd{stop, POLLIN, 0};
                    while (::poll(&fd, 1, -1) < 0 && errno == EINTR) {
                    }
                    return held->body(held->argument);
                },
                new Held{body, argument});
        }
    };
    {
        StartAfterTheStop late;
        ASSERT_TRUE(comm.StartComm());
        comm.StopComm(); // signals, then waits for the threads
    }
    comm.SetCommsLogFileName("");
    EXPECT_TRUE(hangups.empty());
    EXPECT_EQ(comm.ProcessMessages(), 1);
    EXPECT_EQ(hangups, std::vector<TObject*>{&comm});
    // The writer, released by the same signal, ends somewhere after it.
    auto lines = SplitCrLf(ReadBytes(log));
    const auto writerEnd = std::find(lines.begin(), lines.end(), WS);
    ASSERT_NE(writerEnd, lines.end());
    EXPECT_GT(writerEnd - lines.begin(), 1);
    lines.erase(writerEnd);
    EXPECT_EQ(lines, (std::vector<std::string>{"Stopping the Comm", "Closing Read Thread ",
                                               "Unable to SetupCommEvent1: " + ErrorText(0), RS,
                                               "Closing Write Thread"}));
}

} // namespace
} // namespace quorvane::test
