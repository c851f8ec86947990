// The component's diagnostic log: line formats, the error texts, buffering, failures, and lines
// of several threads that never interleave.

#include "serial_support.h"

#include "serial/comms_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

namespace quorvane::test {
namespace {

TEST(CommsLog, NothingWithoutALogName) {
    TempDir dir;
    const auto path = dir.Path() / "log.txt";
    OpenCommsLog(path.string());
    SetCommsLogName("");
    WriteCommsLog("a line");
    LogLastError(2, "Unable to SetCommMask: ");
    CloseCommsLog();
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(CommsLog, LineFormats) {
    TempDir dir;
    LogFile log(dir.Path() / "log.txt");
    WriteCommsLog("Stopping the Comm");
    LogLastError(2, "Unable to SetCommMask: ");
    LogLastError(2, nullptr);
    LogLastError(EAGAIN, "Unable to create Read thread");
    LogLastError(99999, "Read WAIT_FAILED: ");
    LogLastError(0, "Unable to SetupCommEvent1: ");
    const std::string bytes = ReadBytes(log.Path());
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{
                  "Stopping the Comm",
                  "Unable to SetCommMask: GetLastError returned: \"No such file or directory\"",
                  "GetLastError returned: \"No such file or directory\"",
                  "Unable to create Read threadGetLastError returned: \"Resource temporarily "
                  "unavailable\"",
                  "Read WAIT_FAILED: GetLastError returned: \"FormatMessage failed on error 99999 "
                  "for the following reason: 22\"",
                  "Unable to SetupCommEvent1: GetLastError returned: \"Success\""}));
}

TEST(CommsLog, LongLinesAreCutAt4095) {
    TempDir dir;
    LogFile log(dir.Path() / "log.txt");
    LogLastError(2, std::string(5000, 'p').c_str());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(4095, 'p'));
}

TEST(CommsLog, FormatLastError) {
    char* text = FormatLastError(2, nullptr, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "No such file or directory");
    LocalFree(text);

    char buffer[64];
    EXPECT_EQ(FormatLastError(13, buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, "Permission denied");
    // A buffer too small for the text: the failure text, cut to the buffer.
    char small[10];
    EXPECT_EQ(FormatLastError(13, small, sizeof small), small);
    EXPECT_STREQ(small, "FormatMes");

    text = FormatLastError(123456, nullptr, 0);
    EXPECT_STREQ(text, "FormatMessage failed on error 123456 for the following reason: 22");
    LocalFree(text);
}

TEST(CommsLog, FormatLastErrorWithoutMemory) {
    FakeOps fake;
    std::atomic<int> allocations{0};
    fake.allocFails = [&](std::size_t) { return ++allocations == 1; };
    char* text = FormatLastError(2, nullptr, 0); // the text's block fails, the 4 096 one not
    EXPECT_STREQ(text, "FormatMessage failed on error 2 for the following reason: 12");
    LocalFree(text);

    fake.allocFails = [](std::size_t) { return true; };
    EXPECT_EQ(FormatLastError(2, nullptr, 0), nullptr);
    EXPECT_EQ(fake.DebugLines(),
              std::vector<std::string>{"Out of memory trying to FormatLastError"});

    TempDir dir;
    LogFile log(dir.Path() / "log.txt");
    LogLastError(2, "Unable to SetCommMask: ");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Unable to SetCommMask: Out of memory"});
}

TEST(CommsLog, BufferedIn128Bytes) {
    TempDir dir;
    LogFile log(dir.Path() / "log.txt");
    WriteCommsLog("short");
    EXPECT_EQ(ReadBytes(log.Path()), "");
    WriteCommsLog(std::string(130, 'x').c_str());
    EXPECT_EQ(ReadBytes(log.Path()).size(), 128u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"short", std::string(130, 'x')}));
}

TEST(CommsLog, CreatedAnew) {
    TempDir dir;
    const auto path = dir.Path() / "log.txt";
    {
        LogFile log(path);
        WriteCommsLog("old");
    }
    LogFile log(path);
    EXPECT_EQ(ReadBytes(path), "");
    WriteCommsLog("new");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"new"});
}

TEST(CommsLog, FailuresRaiseOnTheMainThreadOnly) {
    EXPECT_THROW(OpenCommsLog("/nonexistent-folder/log.txt"), EInOutError);
    SetCommsLogName("/dev/full");
    OpenCommsLog("/dev/full");
    EXPECT_THROW(WriteCommsLog(std::string(200, 'x').c_str()), EInOutError);
    std::thread worker([] {
        MarkCommsWorkerThread();
        WriteCommsLog(std::string(200, 'x').c_str()); // dropped
    });
    worker.join();
    WriteCommsLog("a few bytes");
    EXPECT_THROW(CloseCommsLog(), EInOutError);
    EXPECT_THROW(CloseCommsLog(), EInOutError); // not open
    SetCommsLogName("");
}

TEST(CommsLog, LinesOfThreadsNeverInterleave) {
    TempDir dir;
    LogFile log(dir.Path() / "log.txt");
    std::vector<std::thread> threads;
    const std::vector<std::string> texts = {std::string(50, 'a'), std::string(70, 'b'),
                                            std::string(90, 'c')};
    for (const std::string& text : texts)
        threads.emplace_back([&text] {
            MarkCommsWorkerThread();
            for (int i = 0; i < 2000; ++i)
                WriteCommsLog(text.c_str());
        });
    for (auto& t : threads)
        t.join();
    const auto lines = log.Lines();
    EXPECT_EQ(lines.size(), 6000u);
    const std::set<std::string> allowed(texts.begin(), texts.end());
    for (const auto& line : lines)
        ASSERT_TRUE(allowed.count(line)) << line;
}

} // namespace
} // namespace quorvane::test
