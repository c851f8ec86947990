// The running session's state file in the runtime folder: what a start makes of it beside the
// store's state (which one is recovered, what is left of either, what the debug output says),
// and how the running session writes it. Against a real store and the test's own runtime folder.

#include "core/clock.h"
#include "core/fd.h"
#include "core/host.h"
#include "settings/session_file.h"
#include "support/files.h"
#include "tests/settings/store_fixture.h"

#include <cmath>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

const DateTime kFirst = EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0);
// The store's last write, 90 s into the session.
const StoredSessionState kStored{"Dial Net",
                                 kFirst,
                                 kFirst + 90 * kOneSecond,
                                 {90, 60, 30, 60, 60, 0},
                                 {5000000000, 120000, 4000000000, 100000}};
// The same session 17 ticks later.
const StoredSessionState kLater{"Dial Net",
                                kFirst,
                                kFirst + 107 * kOneSecond,
                                {107, 77, 30, 60, 60, 0},
                                {5000400000, 120900, 4000000000, 100000}};

StoredSessionState With(StoredSessionState state,
                        const std::function<void(StoredSessionState&)>& change) {
    change(state);
    return state;
}

class SessionFileTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        for (const auto& entry : fs::directory_iterator(RuntimeFolder()))
            fs::remove_all(entry.path());
        ASSERT_TRUE(SaveProfile("Dial Net", {}, {0, 0, 0, 0}, true));
        ASSERT_TRUE(SaveProfile("Budget", {}, {0, 0, 0, 0}, false));
    }

    static void PutFile(const fs::path& path, const std::string& text) {
        const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd);
        ASSERT_TRUE(WriteAll(fd.get(), text.data(), text.size()));
    }
    static std::string FileText(const StoredSessionState& state) {
        return SessionStateFileText(state, BootId());
    }

    // Ten minutes into the session of kStored and kLater.
    ManualClock clock_{kFirst + 600 * kOneSecond};
};

TEST_F(SessionFileTest, TheFileWinsOnlyWithALaterMomentOfTheStoresSessionOrOneItHasNoneOf) {
    const fs::path file = SessionStateFilePath();
    const std::string later = FileText(kLater);
    std::string damaged = later;
    damaged[damaged.find("Seconds=107") + 8] = '9';
    struct Case {
        const char* name;
        std::optional<StoredSessionState> stored;
        std::function<void()> put;
        std::optional<StoredSessionState> recovered;
        const char* said; // in the debug output
        bool fileStays = false;
    };
    const Case cases[] = {
        {"no file", kStored, [] {}, kStored, ""},
        {"a later moment of the same session", kStored, [&] { PutFile(file, later); }, kLater,
         "holds a later moment of the session than the store's: recovered from it"},
        {"a session the store has none of", std::nullopt, [&] { PutFile(file, later); }, kLater,
         "holds a session the store has no state of: recovered from it"},
        {"an earlier moment", kLater, [&] { PutFile(file, FileText(kStored)); }, kLater,
         "passed over: it holds an earlier moment of the session than the store's"},
        {"the store's own moment", kStored, [&] { PutFile(file, FileText(kStored)); }, kStored,
         "passed over: it holds the moment the store's state holds"},
        {"another first tick", kStored,
         [&] { PutFile(file, FileText(With(kLater, [](auto& s) { s.firstTick += kOneSecond; }))); },
         kStored, "passed over: it holds another session than the store's"},
        {"another provider", kStored,
         [&] { PutFile(file, FileText(With(kLater, [](auto& s) { s.provider = "Budget"; }))); },
         kStored, "passed over: it holds another session than the store's"},
        {"fewer seconds at a later moment", kStored,
         [&] { PutFile(file, FileText(With(kLater, [](auto& s) { s.counts[0] = 89; }))); }, kStored,
         "passed over: it holds less Seconds than the store's state"},
        {"fewer bytes at a later moment", kStored,
         [&] { PutFile(file, FileText(With(kLater, [](auto& s) { s.bytes[1] = 1; }))); }, kStored,
         "passed over: it holds less Tx than the store's state"},
        {"a provider that has gone", std::nullopt,
         [&] { PutFile(file, FileText(With(kLater, [](auto& s) { s.provider = "Gone"; }))); },
         std::nullopt, "passed over: it names the provider Gone, which is no longer stored"},
        {"damaged", kStored, [&] { PutFile(file, damaged); }, kStored,
         "passed over: it is damaged: its check does not match its contents"},
        {"half written", kStored, [&] { PutFile(file, later.substr(0, later.size() / 2)); },
         kStored, "passed over: it is cut short"},
        {"without its last line's end", kStored,
         [&] { PutFile(file, later.substr(0, later.size() - 1)); }, kStored,
         "passed over: it is cut short"},
        {"another boot", kStored,
         [&] { PutFile(file, SessionStateFileText(kLater, "another-boot")); }, kStored,
         "passed over: it was written in another boot"},
        {"empty", std::nullopt, [&] { PutFile(file, ""); }, std::nullopt,
         "passed over: it is cut short"},
        {"a link to a state", kStored,
         [&] {
             PutFile(file.string() + ".elsewhere", later);
             fs::create_symlink(file.string() + ".elsewhere", file);
         },
         kStored, "passed over: it is a symbolic link", true},
        {"a folder", kStored, [&] { fs::create_directory(file); }, kStored,
         "passed over: it is not a regular file", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(file);
        ASSERT_TRUE(c.stored ? WriteSessionState(*c.stored) : RemoveSessionState());
        c.put();
        testing::internal::CaptureStderr();
        const std::optional<StoredSessionState> recovered = TakeCutSessionState();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(recovered, c.recovered);
        // What is recovered is in the store, where the recovery takes it from in one commit
        // with the totals.
        EXPECT_EQ(ReadSessionState(), c.recovered ? c.recovered : c.stored);
        EXPECT_EQ(fs::exists(fs::symlink_status(file)), c.fileStays);
        if (*c.said)
            EXPECT_EQ(said, "Session state file " + file.string() + " " + c.said + ".\n");
        else
            EXPECT_EQ(said, "");
    }
    EXPECT_EQ(ReadBytes(file.string() + ".elsewhere"), later) << "a link's target is left alone";
}

// A state whose check holds but whose values no session of this program could have written
// (edited by hand, or written by a wrong clock) is passed over, from the file as from the store:
// recovered, it would add what it says to the totals and the history.
TEST_F(SessionFileTest, AStateThatNoSessionCouldHaveWrittenIsPassedOver) {
    const fs::path file = SessionStateFilePath();
    const DateTime now = clock_.Get();
    using Change = std::function<void(StoredSessionState&)>;
    struct Case {
        const char* name;
        Change change;
        const char* said; // "" for a state that is trusted
    };
    const Case cases[] = {
        {"two thousand million seconds", [](auto& s) { s.counts[0] = 2000000000; },
         "holds more Seconds than the time from its first tick to its last write"},
        {"seconds below zero", [](auto& s) { s.counts[0] = -500; }, "holds Seconds below zero"},
        {"saved seconds below zero", [](auto& s) { s.counts[3] = -1; },
         "holds SavedSeconds below zero"},
        {"a peak side below zero", [](auto& s) { s.counts[2] = -30; },
         "holds OutsidePeak below zero"},
        {"a peak side longer than the session", [](auto& s) { s.counts[1] = 120; },
         "holds more InsidePeak than the time from its first tick to its last write"},
        {"saved seconds longer than the session", [](auto& s) { s.counts[3] = 100000; },
         "holds more SavedSeconds than the time from its first tick to its last write"},
        {"bytes below zero", [](auto& s) { s.bytes[0] = static_cast<std::uint64_t>(-500); },
         "holds Rx below zero"},
        {"a last write in the year 2173",
         [](auto& s) { s.lastWrite = EncodeDate(2173, 1, 1) + EncodeTime(12, 0, 0); },
         "was last written after the present moment"},
        {"a first tick after the present", [now](auto& s) { s.firstTick = now + 0.5; },
         "has its first tick after the present moment"},
        {"a moment that is no date",
         [](auto& s) { s.lastWrite = std::numeric_limits<double>::quiet_NaN(); },
         "holds a moment that is no date"},
        // Within the slack for a clock set a little back since the last write.
        {"a last write a few seconds ahead of now",
         [now](auto& s) {
             s.lastWrite = now + 50 * kOneSecond;
             s.counts[0] = 650;
         },
         ""},
        {"a minute and more ahead of now", [now](auto& s) { s.lastWrite = now + 70 * kOneSecond; },
         "was last written after the present moment"},
        // The session counts the distance on the program's clock, so a clock set back below the
        // first tick leaves a last write before it.
        {"a clock set back below the first tick",
         [](auto& s) {
             s.lastWrite = s.firstTick - 200 * kOneSecond;
             s.counts = {200, 0, 200, 0, 0, 0};
         },
         ""},
    };
    for (const bool inFile : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (inFile ? " in the file" : " in the store"));
            fs::remove_all(file);
            StoredSessionState state = kLater;
            c.change(state);
            if (inFile) {
                ASSERT_TRUE(RemoveSessionState());
                PutFile(file, FileText(state));
                if (std::isnan(state.lastWrite)) {
                    ASSERT_TRUE(ReadSessionStateFile().state) << "the file reads as a state";
                }
            } else {
                ASSERT_TRUE(WriteSessionState(state));
            }
            testing::internal::CaptureStderr();
            const std::optional<StoredSessionState> recovered = TakeCutSessionState();
            const std::string said = testing::internal::GetCapturedStderr();
            const bool trusted = !*c.said;
            if (trusted) {
                EXPECT_EQ(recovered, state);
                continue;
            }
            // One in the store goes, as a file that is passed over goes: nothing is recovered,
            // nor left to be recovered at a later start.
            EXPECT_EQ(recovered, std::nullopt);
            EXPECT_EQ(ReadSessionState(), std::nullopt);
            EXPECT_FALSE(fs::exists(file));
            const std::string where = inFile ? "Session state file " + file.string()
                                             : std::string("Session state in the store");
            EXPECT_EQ(said, where + " passed over: it " + c.said + ".\n");
        }
    }
}

TEST_F(SessionFileTest, AnotherUsersFileIsPassedOverAndLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user takes root";
    const fs::path file = SessionStateFilePath();
    PutFile(file, FileText(kLater));
    ASSERT_EQ(::chown(file.c_str(), 4321, 4321), 0);
    ASSERT_TRUE(WriteSessionState(kStored));
    testing::internal::CaptureStderr();
    EXPECT_EQ(TakeCutSessionState(), kStored);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "passed over: it belongs to user 4321, not to this one."),
              std::string::npos);
    EXPECT_TRUE(fs::exists(file));

    // Nor does a session of this user's write over it.
    SessionStateFile session;
    session.Begin();
    EXPECT_FALSE(session.Write(kLater));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
}

// On a tmpfs the file is replaced whole at every write; in a folder on a disk it is made at the
// first and rewritten in place after it, so the disk takes no new file a second.
TEST_F(SessionFileTest, TheSessionWritesTheFileForItsUserAlone) {
    const fs::path runtime = RuntimeFolder();
    struct statfs shm {};
    char tmpfs[] = "/dev/shm/quorvane-test-XXXXXX";
    const bool haveTmpfs = ::statfs("/dev/shm", &shm) == 0 &&
                           shm.f_type == static_cast<decltype(shm.f_type)>(TMPFS_MAGIC) &&
                           ::mkdtemp(tmpfs) != nullptr;
    struct Case {
        const char* name;
        fs::path folder;
        bool sameFile; // from the first write to the last
    };
    std::vector<Case> cases = {{"a folder on a disk", runtime, true}};
    if (haveTmpfs)
        cases.push_back({"a tmpfs", tmpfs, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("XDG_RUNTIME_DIR", c.folder.c_str(), 1);
        SessionStateFile session;
        session.Begin();
        const fs::path file = SessionStateFilePath();
        struct stat first {
        }, last{};
        ASSERT_TRUE(session.Write(kLater));
        ASSERT_EQ(::lstat(file.c_str(), &first), 0);
        // Shorter, then longer again: nothing of an earlier write is left over.
        for (const StoredSessionState& state :
             {kStored, With(kLater, [](auto& s) { s.provider = "A Much Longer Name"; })}) {
            ASSERT_TRUE(session.Write(state));
            EXPECT_EQ(ReadSessionStateFile().state, state);
        }
        ASSERT_EQ(::lstat(file.c_str(), &last), 0);
        EXPECT_EQ(last.st_ino == first.st_ino, c.sameFile);
        EXPECT_EQ(last.st_mode & 07777, 0600u);
        EXPECT_EQ(last.st_uid, ::geteuid());
        std::vector<fs::path> inFolder;
        for (const auto& entry : fs::directory_iterator(c.folder))
            inFolder.push_back(entry.path());
        EXPECT_EQ(inFolder, std::vector<fs::path>{file}) << "no temporary file left";
        session.Remove();
        EXPECT_FALSE(fs::exists(file));

        // A link in the file's place is not written through, and stays.
        fs::create_symlink(file.string() + ".elsewhere", file);
        session.Begin();
        EXPECT_FALSE(session.Write(kLater));
        EXPECT_TRUE(fs::is_symlink(file));
        EXPECT_FALSE(fs::exists(file.string() + ".elsewhere"));
        fs::remove(file);
    }
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (haveTmpfs)
        fs::remove_all(tmpfs);
}

TEST_F(SessionFileTest, EachStoreFolderHasAFileOfItsOwnInTheRuntimeFolderOrBesideIt) {
    const fs::path runtime = RuntimeFolder();
    const fs::path own = SessionStateFilePath();
    EXPECT_EQ(own.parent_path(), runtime);
    const std::string home = std::getenv("QUORVANE_HOME");
    setenv("QUORVANE_HOME", (home + "-other").c_str(), 1);
    const fs::path other = SessionStateFilePath();
    EXPECT_EQ(other.parent_path(), runtime);
    EXPECT_NE(other, own);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SessionStateFilePath().parent_path(), fs::path(home + "-other"));
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QUORVANE_HOME", home.c_str(), 1);
}

} // namespace
} // namespace quorvane::test
