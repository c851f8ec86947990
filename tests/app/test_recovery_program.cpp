// A session cut short as a user meets it: the real program on the tests' X server, its provider
// set to start a Manual session when run, killed with SIGKILL during the session, and started
// again. The test watches only from outside: the store's folder, the runtime folder and the
// log's (inotify), what the store and the session's state file hold, and the processes' ends.
#include "accounting/session_recovery.h"
#include "core/clock.h"
#include "core/fd.h"
#include "core/host.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/session_file.h"
#include "settings/session_store.h"
#include "settings/store.h"
#include "support/files.h"
#include "support/program_run.h"
#include "support/store_home.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quorvane;
using test::FolderWatch;
using test::Program;

namespace {

namespace fs = std::filesystem;

Duration Stored(const char* total) {
    Variant value;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + total, vkInteger, value);
    return value.isEmpty() ? -1 : value.toInt();
}

std::size_t Lines(const fs::path& log) {
    const std::string text = test::ReadBytes(log);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class KilledProgram : public test::OwnStoreTest {
protected:
    void SetUp() override {
        OwnStoreTest::SetUp();
        logs_ = home_ / "logs";
        log_ = logs_ / "myisp.log";
        fs::create_directories(logs_);
        ASSERT_TRUE(SaveProfile("MyISP",
                                {{"cbDetection", Variant(2), vkInteger},
                                 {"ckStartWhenRun", Variant(true), vkBool},
                                 {"ckEnableLogging", Variant(true), vkBool},
                                 {"eLogFile", Variant(log_.string()), vkString}},
                                {100, 10, 20, 1000}, true));
    }

    Program Start(const std::string& errors) {
        return Program(QUORVANE_BINARY, {{"QT_QPA_PLATFORM", "xcb"}, {"QUORVANE_DEBUG", "1"}},
                       home_ / errors);
    }

    // Runs the program into a session until the store holds its state (30 s into it), and
    // kills it; `killed` is the moment of the kill.
    void KillOnceTheStoreHoldsTheState(DateTime& killed) {
        FolderWatch store(home_);
        Program first = Start("first.err");
        ASSERT_TRUE(store.WaitUntil(first, [&] {
            // A change is seen as the program writes it, before its commit is complete: the
            // store's write lock, taken and given back, waits for that commit.
            const StoreTransaction settled(HKEY_LOCAL_MACHINE);
            const std::optional<StoredSessionState> state = ReadSessionState();
            return state && state->counts[0] > 0;
        })) << first.Errors();
        killed = SystemNow();
        first.Kill();
    }

    fs::path logs_;
    fs::path log_;
};

// A power cut takes the runtime folder (a tmpfs) and its state file with it: the store's state,
// written every 30 s of the session, is what is left.
TEST_F(KilledProgram, APowerCutLosesNoMoreThanTheTimeSinceTheStoresLastWrite) {
    FolderWatch logFolder(logs_);

    DateTime killed = 0.0;
    ASSERT_NO_FATAL_FAILURE(KillOnceTheStoreHoldsTheState(killed));
    ASSERT_TRUE(fs::exists(SessionStateFilePath()));
    fs::remove(SessionStateFilePath());
    // As the kill left it: a later write may have come in between.
    const std::optional<StoredSessionState> state = ReadSessionState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->provider, "MyISP");
    EXPECT_EQ(Stored("TotalTime"), 1000) << "nothing of the session saved";
    EXPECT_FALSE(fs::exists(log_));

    Program second = Start("second.err");
    // The totals are committed before the log line is written.
    ASSERT_TRUE(logFolder.WaitUntil(second, [&] { return fs::exists(log_); })) << second.Errors();
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    const Duration unsaved = state->counts[0] - state->counts[3];
    const Duration total = 1000 + unsaved;
    EXPECT_EQ(Stored("TotalTime"), total);
    const std::string line = test::ReadBytes(log_);
    EXPECT_NE(line.find("  Total: " + DurationText(total) + "  Charges: "), std::string::npos)
        << line;
    EXPECT_EQ(line.find("\r\n"), line.size() - 2) << "one line";

    // What the power cut lost: from the last write to the cut.
    const double session = (killed - state->firstTick) * 86400.0;
    const double lost = session - state->counts[0];
    EXPECT_GE(lost, 0.0);
    EXPECT_LE(lost, kSessionStateSeconds);
    RecordProperty("lost", std::to_string(lost) + " s of " + std::to_string(session) + " s");
}

// Killed at random moments (a random number of ticks into the session, then a random part of a
// second, so not only right after a write), each next start recovers every tick the killed one
// made: only the time since its last tick is lost. The start that recovers tells so in a box,
// and no session starts before the box is answered: it is ended there.
TEST_F(KilledProgram, AKillAtAnyMomentLosesOnlyTheTimeSinceTheLastTick) {
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    const fs::path file = SessionStateFilePath();
    Duration total = Stored("TotalTime");
    std::string lost;
    for (std::size_t kill = 1; kill <= 3; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
        std::optional<StoredSessionState> seen;
        std::optional<StoredSessionState> last;
        DateTime killed = 0.0;
        {
            FolderWatch runtime(file.parent_path());
            Program session = Start("session.err");
            const int ticks = std::uniform_int_distribution(1, 4)(random);
            for (int tick = 0; tick < ticks; ++tick)
                ASSERT_TRUE(runtime.WaitForChange(file.filename().string(), session))
                    << session.Errors();
            // A rewrite in place may be read while it is under way.
            ASSERT_TRUE(runtime.WaitUntil(session, [&] {
                seen = ReadSessionStateFile().state;
                return seen.has_value();
            })) << session.Errors();
            // Only the moment of the kill is random, anywhere within a tick and not just after a
            // write; nothing below depends on how long this takes: what is checked is what the
            // session had written when the kill came, against the clock read once it is dead.
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution(0, 999)(random)));
            session.Kill();
            killed = SystemNow();
        }
        last = ReadSessionStateFile().state;
        ASSERT_TRUE(seen && last);
        // The last tick before the kill is the file's: no tick seen is lost.
        EXPECT_EQ(last->firstTick, seen->firstTick);
        EXPECT_GE(last->lastWrite, seen->lastWrite);
        EXPECT_GE(last->counts[0], seen->counts[0]);
        const double session = (killed - last->firstTick) * 86400.0;
        EXPECT_GE(session, last->counts[0]) << "no more recovered than the session ran";
        lost +=
            std::to_string(session - last->counts[0]) + " s of " + std::to_string(session) + " s; ";

        FolderWatch logFolder(logs_);
        Program recovering = Start("recovery.err");
        // The totals are committed before the log line is written.
        ASSERT_TRUE(logFolder.WaitUntil(recovering, [&] { return Lines(log_) == kill; }))
            << recovering.Errors();
        total += last->counts[0] - last->counts[3];
        EXPECT_EQ(Stored("TotalTime"), total);
        EXPECT_EQ(ReadSessionState(), std::nullopt);
        EXPECT_FALSE(fs::exists(file)) << "recovered once";
    }
    RecordProperty("lost", lost);
}

// A state file that is not to be trusted leaves the recovery to the store's state.
TEST_F(KilledProgram, AStateFileNotToBeTrustedLeavesTheStoresState) {
    DateTime killed = 0.0;
    ASSERT_NO_FATAL_FAILURE(KillOnceTheStoreHoldsTheState(killed));
    const std::optional<StoredSessionState> stored = ReadSessionState();
    const fs::path file = SessionStateFilePath();
    const std::string written = test::ReadBytes(file);
    const std::optional<StoredSessionState> later = ReadSessionStateFile().state;
    ASSERT_TRUE(stored && later);
    ASSERT_GE(later->lastWrite, stored->lastWrite);
    // The starts below recover and stay idle.
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath("MyISP") + "ckStartWhenRun",
                                 Variant(false), vkBool));

    std::string damaged = written;
    damaged[damaged.find("\nSeconds=") + 9] ^= 1;
    StoredSessionState gone = *later;
    gone.provider = "Gone ISP";
    struct Case {
        const char* name;
        std::string text;
        const char* said;
    };
    const Case cases[] = {
        {"another boot", SessionStateFileText(*later, "another-boot"),
         "it was written in another boot"},
        {"damaged", damaged, "it is damaged"},
        {"a provider that has gone", SessionStateFileText(gone, BootId()),
         "it names the provider Gone ISP, which is no longer stored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteSessionState(*stored));
        {
            const UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
            ASSERT_TRUE(WriteAll(fd.get(), c.text.data(), c.text.size()));
        }
        const Duration before = Stored("TotalTime");
        const std::size_t lines = fs::exists(log_) ? Lines(log_) : 0;
        FolderWatch logFolder(logs_);
        Program program = Start("restart.err");
        ASSERT_TRUE(logFolder.WaitUntil(program, [&] { return Lines(log_) == lines + 1; }))
            << program.Errors();
        EXPECT_EQ(Stored("TotalTime"), before + stored->counts[0] - stored->counts[3]);
        EXPECT_EQ(ReadSessionState(), std::nullopt);
        EXPECT_FALSE(fs::exists(file)) << "passed over, and gone";
        program.Kill();
        EXPECT_NE(program.Errors().find("Session state file " + file.string() +
                                        " passed over: " + c.said),
                  std::string::npos)
            << program.Errors();
    }
}

} // namespace
