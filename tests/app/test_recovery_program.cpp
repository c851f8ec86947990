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
#include "support/program_run.h"
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
using test::FolderWatch;
using test::Program;

namespace {

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
        Program first(QUORVANE_BINARY, {{"QT_QPA_PLATFORM", "xcb"}}, home_ / "first.err");
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

    Program second(QUORVANE_BINARY, {{"QT_QPA_PLATFORM", "xcb"}}, home_ / "second.err");
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
