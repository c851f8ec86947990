// The reader's and the writer's failure tables, driven through the platform seam on a real
// pseudo-terminal: each row is a case of a table, with the log lines, hang-ups and data it gives.

#include "serial_support.h"

#include "serial/comms_log.h"
#include "serial/posix_overlapped.h"
#include "serial/read_thread.h"
#include "serial/write_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <variant>

namespace quorvane::test {
namespace {

const std::string W1 = "Waiting for a CommEvent (Error) to occur.";
const std::string W2 = "Waiting for data from comm connection.";
const std::string GOT = "Got something from Comm port!!!";
const std::string RS = "Read thread shutting down";
const std::string WS = "Write thread shutting down";
const std::string INV = kInvalidHandleText;
const std::string WRITING = "Writing to comm port";
std::string E(int code) {
    return ErrorText(code);
}

void PostWrite(TWriteThread& writer, const std::string& bytes) {
    void* block = LocalAlloc(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    ASSERT_TRUE(writer.PostThreadMessage(WM_COMMWRITE, bytes.size(),
                                         reinterpret_cast<std::intptr_t>(block)));
}

// One thread run on a pseudo-terminal: the port, CloseEvent, a window that records what is
// posted, and the log in a file.
struct PortRun {
    Pty pty;
    TempDir dir;
    int port = pty.OpenSlave();
    int closeEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Received got;
    std::shared_ptr<TNotifyWindow> window = std::make_shared<TNotifyWindow>(
        [this](TMessage& m) {
            got.order.push_back(m.Msg);
            if (m.Msg == WM_COMMDATA) {
                got.data.emplace_back(reinterpret_cast<char*>(m.LParam), m.WParam);
                LocalFree(reinterpret_cast<void*>(m.LParam));
            } else if (m.Msg == WM_COMMHANGUP) {
                ++got.hangups;
            }
        },
        [](const TMessage& m) {
            if (m.Msg == WM_COMMDATA)
                LocalFree(reinterpret_cast<void*>(m.LParam));
        });
    LogFile log{dir.Path() / "comms.log"};
    std::string received; // what reached the master
    TWriteThread* writer = nullptr;

    ~PortRun() {
        ::close(port);
        ::close(closeEvent);
    }
};

// What a scripted read or write call does.
constexpr int kPass = -1; // the system's call
constexpr int kZero = 0;  // answers 0 bytes
// Call n (from 1) does script[n-1] (an errno value, kZero or kPass); later calls reach the system.
template <class Buffer> auto Script(std::vector<int> script) {
    auto calls = std::make_shared<std::atomic<std::size_t>>(0);
    return [script, calls](int, Buffer, std::size_t) -> std::optional<ssize_t> {
        const std::size_t i = calls->fetch_add(1);
        if (i >= script.size() || script[i] == kPass)
            return std::nullopt;
        if (script[i] == kZero)
            return 0;
        return Fail<ssize_t>(script[i]);
    };
}
auto Reads(std::vector<int> script) {
    return Script<void*>(std::move(script));
}
auto Writes(std::vector<int> script) {
    return Script<const void*>(std::move(script));
}

// Line counters given call by call: a value, or an errno to fail with; the last one repeats.
using Step = std::variant<TLineCounters, int>;
std::function<std::optional<int>(int, TLineCounters*)> Counters(std::vector<Step> steps) {
    auto calls = std::make_shared<std::atomic<std::size_t>>(0);
    return [steps, calls](int, TLineCounters* out) -> std::optional<int> {
        const std::size_t i = std::min(calls->fetch_add(1), steps.size() - 1);
        if (const int* code = std::get_if<int>(&steps[i]))
            return Fail<int>(*code);
        *out = std::get<TLineCounters>(steps[i]);
        return 0;
    };
}
TLineCounters C(int frame, int overrun, int parity, int bufOverrun = 0) {
    TLineCounters c;
    c.frame = frame;
    c.overrun = overrun;
    c.parity = parity;
    c.buf_overrun = bufOverrun;
    return c;
}
const TLineCounters C0{};

// Poll hooks: the blocking waits (not the zero-time looks at CloseEvent).
auto FailWaits(short events, int code) {
    return [events, code](pollfd* fds, nfds_t n, int ms) -> std::optional<int> {
        if (ms != 0 && n == 2 && (fds[1].events & events))
            return code == 0 ? std::optional<int>(0) : Fail<int>(code);
        return std::nullopt;
    };
}

struct Case {
    const char* name;
    std::function<void(FakeOps&, PortRun&)> setup;
    bool endsByItself;
    std::vector<std::string> lines;
    int hangups;
    std::vector<std::string> data = {};
    std::string received = {}; // writer: what the other end must receive
    int writeCalls = -1;       // writer: how many write calls (-1: not checked)
};

// Starts the thread, lets it reach the case's end state, stops it and checks the outcome.
template <class Thread> void RunCase(const Case& c, Thread* thread, FakeOps& fake, PortRun& run) {
    SCOPED_TRACE(c.name);
    thread->CommFile = run.port;
    thread->CloseEvent = run.closeEvent;
    thread->NotifyWindow = run.window;
    ASSERT_EQ(thread->Start(), 0);
    if (c.endsByItself) {
        ASSERT_TRUE(thread->WaitFor(kHangGuardMs));
    } else {
        // Until what the case expects has come and the thread waits again; then the stop.
        const bool ready = PumpUntil(
            run.window->Handle(), [&] { return run.window->ProcessMessages(); },
            [&] {
                if (!c.received.empty() && run.received.size() < c.received.size())
                    run.received += run.pty.ReceiveWaiting();
                return run.got.data.size() >= c.data.size() &&
                       run.received.size() >= c.received.size() && fake.blocked.load();
            });
        ASSERT_TRUE(ready);
        SetEvent(run.closeEvent);
        ASSERT_TRUE(thread->WaitFor(kHangGuardMs));
    }
    TThread::Release(thread);
    run.window->ProcessMessages(); // everything the ended thread posted
    EXPECT_EQ(fake.liveBlocks.load(), 0);
    EXPECT_EQ(run.log.Lines(), c.lines);
    EXPECT_EQ(run.got.hangups, c.hangups);
    EXPECT_EQ(run.got.data, c.data);
    if (!c.received.empty() || c.writeCalls >= 0) {
        EXPECT_EQ(run.received, c.received);
    }
    if (c.writeCalls >= 0) {
        EXPECT_EQ(fake.writes.load(), c.writeCalls);
    }
}

// ---------------------------------------------------------------------------- the reader

const std::vector<Case>& ReaderCases() {
    static const std::vector<Case> cases = {
        {"stop while waiting", nullptr, false, {W1, W2, RS}, 0},
        {"record event cannot be created",
         [](FakeOps& f, PortRun&) { f.recordEventFails = [] { return true; }; },
         true,
         {"Unable to CreateEvent: " + E(ENOMEM), RS},
         1},
        {"SetCommMask fails",
         [](FakeOps& f, PortRun&) { f.counters = Counters({EIO}); },
         true,
         {"Unable to SetCommMask: " + E(EIO), RS},
         1},
        {"line-event start, invalid handle",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, EIO});
         },
         true,
         {INV, "Unable to SetupCommEvent1: " + E(EIO), RS},
         1},
        {"line-event start, other error",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, EPERM});
         },
         true,
         {"Unexpected WaitCommEvent error: " + E(EPERM), "Unable to SetupCommEvent1: " + E(EPERM),
          RS},
         1},
        {"CloseEvent already signalled at the start",
         [](FakeOps&, PortRun& r) { SetEvent(r.closeEvent); },
         true,
         {"Unable to SetupCommEvent1: " + E(0), RS},
         1},
        {"read start, invalid handle",
         [](FakeOps& f, PortRun&) { f.read = Reads({EIO}); },
         true,
         {W1, INV, "Unable to SetupReadEvent: " + E(EIO), RS},
         1},
        {"read start, other error",
         [](FakeOps& f, PortRun&) { f.read = Reads({EPERM}); },
         true,
         {W1, "Unexpected ReadFile error: " + E(EPERM), "Unable to SetupReadEvent: " + E(EPERM),
          RS},
         2},
        {"read completes at once with zero bytes",
         [](FakeOps& f, PortRun&) { f.read = Reads({kZero}); },
         true,
         {W1, "Data waiting for ReadFile: ", "Unable to SetupReadEvent: " + E(EAGAIN), RS},
         1},
        {"the wait fails",
         [](FakeOps& f, PortRun&) { f.poll = FailWaits(POLLIN, EINVAL); },
         true,
         {W1, W2, "Read WAIT_FAILED: " + E(EINVAL), RS},
         1},
        {"the wait ends without cause",
         [](FakeOps& f, PortRun&) { f.poll = FailWaits(POLLIN, 0); },
         true,
         {W1, W2, "Unexpected Wait return value 258", RS},
         1},
        {"pending read completes with zero bytes",
         [](FakeOps& f, PortRun& r) {
             f.read = Reads({EAGAIN, kZero});
             r.pty.Send("x");
         },
         true,
         {W1, W2, "Unable to HandleReadEvent: " + E(EAGAIN), RS},
         1},
        {"read completion, invalid handle",
         [](FakeOps& f, PortRun& r) {
             f.read = Reads({EAGAIN, EIO});
             r.pty.Send("x");
         },
         true,
         {W1, W2, INV, "Unable to HandleReadEvent: " + E(EIO), RS},
         1},
        {"read completion, other error",
         [](FakeOps& f, PortRun& r) {
             f.read = Reads({EAGAIN, EPERM});
             r.pty.Send("x");
         },
         true,
         {W1, W2, "Unexpected GetOverlappedResult Read Error: " + E(EPERM),
          "Unable to HandleReadEvent: " + E(EPERM), RS},
         2},
        {"re-arming the read fails",
         [](FakeOps& f, PortRun& r) {
             f.read = Reads({kPass, EIO});
             r.pty.Send("x");
         },
         true,
         {W1, W2, GOT, INV, RS},
         1,
         {"x"}},
        {"no block for the data",
         [](FakeOps& f, PortRun& r) {
             f.allocFails = [](std::size_t size) { return size == 2; };
             r.pty.Send("x");
         },
         true,
         {W1, W2, GOT, "LocalAlloc: " + E(ENOMEM), "Unable to HandleReadEvent: " + E(ENOMEM), RS},
         1},
        {"no memory at all",
         [](FakeOps& f, PortRun& r) {
             f.allocFails = [](std::size_t) { return true; };
             r.pty.Send("x");
         },
         true,
         {W1, W2, GOT, "LocalAlloc: Out of memory", "Unable to HandleReadEvent: Out of memory", RS},
         1},
        {"the data cannot be posted",
         [](FakeOps&, PortRun& r) {
             r.window->Destroy();
             r.pty.Send("x");
         },
         true,
         {W1, W2, GOT, "Unable to HandleReadEvent: " + E(EAGAIN), RS},
         0},
        {"frame and overrun errors",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 1, 0)});
         },
         false,
         {W1, W2, W1, RS},
         0,
         {"Comm Event: CE_FRAME and CE_OVERRUN, EvtMask = 10"}},
        {"parity error",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(0, 0, 1)});
         },
         false,
         {W1, W2, W1, RS},
         0,
         {"Comm Event: CE_RXPARITY, EvtMask = 4"}},
        {"receive overflow alone",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0, 1), C(0, 0, 0, 1), C(1, 0, 0, 1)});
         },
         false,
         {W1, W2, W1, RS},
         0,
         {"Comm Event: EV_ERR Unknown EvtMask, EvtMask = 1"}},
        {"no error flags left",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0), C0, C(1, 0, 0)});
         },
         false,
         {W1, W2, W1, RS},
         0,
         {"Comm Event: NULL Error, EvtMask = 0"}},
        {"line event before the wait",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C(1, 1, 0)});
         },
         false,
         {"Event (Error) waiting before WaitCommEvent.", W1, W2, RS},
         0,
         {"Comm Event: CE_FRAME and CE_OVERRUN, EvtMask = 10"}},
        {"line-event completion, invalid handle",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, EIO});
         },
         true,
         {W1, W2, INV, "Unable HandleCommEvent: " + E(EIO), RS},
         1},
        {"line-event completion, other error",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, EPERM});
         },
         true,
         {W1, W2, "Unexpected GetOverlappedResult for WaitCommEvent: " + E(EPERM),
          "Unable HandleCommEvent: " + E(EPERM), RS},
         1},
        {"ClearCommError, invalid handle",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0), EIO});
         },
         true,
         {W1, W2, INV, "Unable HandleCommEvent: " + E(EIO), RS},
         1},
        {"ClearCommError, other error",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0), EPERM});
         },
         true,
         {W1, W2, "ClearCommError: " + E(EPERM), "Unable HandleCommEvent: " + E(EPERM), RS},
         1},
        {"re-arming the line-event wait fails",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0), C(1, 0, 0), EPERM});
         },
         true,
         {W1, W2, "Unexpected WaitCommEvent error: " + E(EPERM),
          "Unable to SetupCommEvent2: " + E(EPERM), RS},
         1,
         {"Comm Event: CE_FRAME, EvtMask = 8"}},
        {"line event without EV_ERR (counters started again)",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C(3, 0, 0), C(3, 0, 0), C0});
         },
         true,
         {W1, W2, "Unexpected comm event 0", "Unable HandleCommEvent: " + E(EAGAIN), RS},
         1},
        {"no block for the report",
         [](FakeOps& f, PortRun&) {
             f.counters = Counters({C0, C0, C(1, 0, 0)});
             f.allocFails = [](std::size_t size) { return size == 256; };
         },
         true,
         {W1, W2, "LocalAlloc: " + E(ENOMEM), "Unable HandleCommEvent: " + E(ENOMEM), RS},
         1},
    };
    return cases;
}

TEST(ReadThread, FailureTable) {
    for (const Case& c : ReaderCases()) {
        FakeOps fake;
        PortRun run;
        if (c.setup)
            c.setup(fake, run);
        RunCase(c, new TReadThread, fake, run);
        if (!c.endsByItself) {
            const auto debug = fake.DebugLines();
            EXPECT_NE(std::find(debug.begin(), debug.end(), "Time to Exit"), debug.end()) << c.name;
        }
        if (c.name == std::string("no memory at all")) {
            EXPECT_EQ(fake.DebugLines(),
                      std::vector<std::string>(2, "Out of memory trying to FormatLastError"));
        }
    }
}

TEST(ReadThread, ReportTexts) {
    const std::pair<DWORD, const char*> cases[] = {
        {0, "Comm Event: NULL Error, EvtMask = 0"},
        {CE_FRAME | CE_OVERRUN, "Comm Event: CE_FRAME and CE_OVERRUN, EvtMask = 10"},
        {CE_RXOVER, "Comm Event: EV_ERR Unknown EvtMask, EvtMask = 1"},
        {CE_FRAME, "Comm Event: CE_FRAME, EvtMask = 8"},
        {CE_RXPARITY | CE_BREAK,
         "Comm Event: CE_RXPARITY and EV_ERR Unknown EvtMask, EvtMask = 20"},
        {CE_FRAME | CE_OVERRUN | CE_RXPARITY,
         "Comm Event: CE_FRAME and CE_OVERRUN and CE_RXPARITY, EvtMask = 14"},
    };
    for (const auto& [flags, text] : cases)
        EXPECT_EQ(CommEventReport(flags), text);
}

// Bytes already waiting are read at once, block after block, before the first wait.
TEST(ReadThread, DataWaitingAtTheStart) {
    FakeOps fake;
    PortRun run;
    run.pty.Send(std::string(3000, 'a'));
    // The pseudo-terminal hands the bytes over to the other side a moment later.
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        return ::ioctl(run.port, FIONREAD, &waiting) == 0 && waiting == 3000;
    }));
    const Case c{"data waiting",
                 nullptr,
                 false,
                 {W1, "Data waiting for ReadFile: ", GOT, W2, GOT, W2, RS},
                 0,
                 {std::string(2048, 'a'), std::string(952, 'a')}};
    RunCase(c, new TReadThread, fake, run);
}

// ---------------------------------------------------------------------------- the writer

const std::vector<Case>& WriterCases() {
    static const std::vector<Case> cases = {
        {"stop while idle", nullptr, false, {WS}, 0},
        {"record event cannot be created",
         [](FakeOps& f, PortRun&) { f.recordEventFails = [] { return true; }; },
         true,
         {"Unable to CreateEvent: " + E(ENOMEM), WS},
         1},
        {"queue wait fails",
         [](FakeOps& f, PortRun&) { f.poll = FailWaits(POLLIN, EINVAL); },
         true,
         {"Write WAIT_FAILED: " + E(EINVAL), WS},
         1},
        {"queue wait ends without cause",
         [](FakeOps& f, PortRun&) { f.poll = FailWaits(POLLIN, 0); },
         true,
         {"Unexpected Wait return value 258", WS},
         1},
        {"CloseEvent signalled when a request is taken",
         [](FakeOps&, PortRun& r) {
             PostWrite(*r.writer, "abc");
             SetEvent(r.closeEvent);
         },
         true,
         {WS},
         0,
         {},
         "",
         0},
        {"another thread message",
         [](FakeOps&, PortRun& r) {
             r.writer->PostThreadMessage(1234, 0, 0);
             PostWrite(*r.writer, "ok");
         },
         false,
         {"Unexpected message posted to Write thread: 1234", WRITING, WS},
         0,
         {},
         "ok"},
        {"write start, invalid handle",
         [](FakeOps& f, PortRun& r) {
             f.write = Writes({EIO});
             PostWrite(*r.writer, "abc");
         },
         true,
         {WRITING, INV, WS},
         0},
        {"write start, other error",
         [](FakeOps& f, PortRun& r) {
             f.write = Writes({EPERM});
             PostWrite(*r.writer, "abc");
         },
         true,
         {WRITING, "Error to writing to CommFile" + E(EPERM), "Closing TAPI", WS},
         1},
        {"write wait fails",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abc");
             f.write = Writes({EAGAIN});
             f.poll = FailWaits(POLLOUT, EINVAL);
         },
         true,
         {WRITING, "Write WAIT_FAILED: " + E(EINVAL), WS},
         1},
        {"send interrupted by CloseEvent",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abc");
             f.write = [](int, const void*, std::size_t) { return Fail<ssize_t>(EAGAIN); };
         },
         false,
         {WRITING, WS},
         0},
        {"write wait ends without cause",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abc");
             f.write = Writes({EAGAIN});
             f.poll = FailWaits(POLLOUT, 0);
         },
         true,
         {WRITING, "Unexpected Wait return value 258", WS},
         1},
        {"write completion, invalid handle",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abc");
             f.write = Writes({EAGAIN, EIO});
         },
         true,
         {WRITING, INV, WS},
         0},
        {"write completion, other error",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abc");
             f.write = Writes({EAGAIN, EPERM});
         },
         true,
         {WRITING, "Error writing to CommFile while waiting" + E(EPERM), "Closing TAPI", WS},
         1},
        {"partial writes continued",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abcdefghij");
             f.write = [](int fd, const void* b, std::size_t n) -> std::optional<ssize_t> {
                 return ::write(fd, b, std::min<std::size_t>(n, 3));
             };
         },
         false,
         {WRITING, WS},
         0,
         {},
         "abcdefghij",
         4},
        {"a pending send completes",
         [](FakeOps& f, PortRun& r) {
             PostWrite(*r.writer, "abcdefghij");
             f.write = Writes({EAGAIN});
         },
         false,
         {WRITING, WS},
         0,
         {},
         "abcdefghij",
         2},
    };
    return cases;
}

TEST(WriteThread, FailureTable) {
    for (const Case& c : WriterCases()) {
        FakeOps fake;
        PortRun run;
        TWriteThread* writer = TWriteThread::Create();
        ASSERT_NE(writer, nullptr);
        run.writer = writer;
        if (c.setup)
            c.setup(fake, run);
        RunCase(c, writer, fake, run);
    }
}

TEST(WriteThread, RequestsInOrderAndEmptyOnes) {
    FakeOps fake;
    PortRun run;
    TWriteThread* writer = TWriteThread::Create();
    ASSERT_NE(writer, nullptr);
    PostWrite(*writer, "one");
    PostWrite(*writer, "");
    PostWrite(*writer, "two");
    PostWrite(*writer, "three");
    const Case c{"in order", nullptr, false,         {WRITING, WRITING, WRITING, WRITING, WS},
                 0,          {},      "onetwothree", 4};
    RunCase(c, writer, fake, run);
}

// A large send on a real pseudo-terminal: the kernel takes it in parts as the other end reads.
TEST(WriteThread, LargeSendArrivesWhole) {
    PortRun run;
    TWriteThread* writer = TWriteThread::Create();
    ASSERT_NE(writer, nullptr);
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    PostWrite(*writer, bytes);
    writer->CommFile = run.port;
    writer->CloseEvent = run.closeEvent;
    writer->NotifyWindow = run.window;
    ASSERT_EQ(writer->Start(), 0);
    EXPECT_EQ(run.pty.Receive(bytes.size()), bytes);
    SetEvent(run.closeEvent);
    ASSERT_TRUE(writer->WaitFor(kHangGuardMs));
    TThread::Release(writer);
    EXPECT_EQ(run.log.Lines(), (std::vector<std::string>{WRITING, WS}));
}

// Requests still queued when the writer goes are released with it.
TEST(WriteThread, QueuedRequestsReleased) {
    FakeOps fake;
    TWriteThread* writer = TWriteThread::Create();
    ASSERT_NE(writer, nullptr);
    PostWrite(*writer, "never sent");
    PostWrite(*writer, "nor this");
    EXPECT_EQ(fake.liveBlocks.load(), 2);
    TThread::Release(writer); // never started
    EXPECT_EQ(fake.liveBlocks.load(), 0);
}

} // namespace
} // namespace quorvane::test
