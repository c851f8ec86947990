// The COM Port probe beside another copy of itself: two processes (two users' Quorvanes) that
// check the same modem in step never take each other's check for a connection, and both still
// see a dialer that holds the modem. The modem is a pseudo-terminal, COM3 through the store
// folder's ports/ link; lock files go to the test's own lock folder.

#include "core/store_folder.h"
#include "serial/comm32.h"
#include "tests/serial/serial_support.h"
#include "watch/com_port_probe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

// A process of its own that checks COM3 with the probe each time it is told to, and says what
// the probe answered.
class Checker {
public:
    Checker() {
        int go[2], said[2];
        if (::pipe2(go, O_CLOEXEC) != 0 || ::pipe2(said, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            TComm32 comm;
            char command;
            while (::read(go[0], &command, 1) == 1 && command != 0) {
                const char online = ComPortInUse(comm, 3) ? 1 : 0;
                if (::write(said[1], &online, 1) != 1)
                    break;
            }
            ::_exit(0);
        }
        ::close(go[0]);
        ::close(said[1]);
        go_ = go[1];
        said_ = said[0];
    }
    ~Checker() {
        const char end = 0;
        [[maybe_unused]] const ssize_t n = ::write(go_, &end, 1);
        ::close(go_);
        ::close(said_);
        ::waitpid(pid_, nullptr, 0);
    }
    Checker(const Checker&) = delete;
    Checker& operator=(const Checker&) = delete;

    void Go() const {
        const char check = 1;
        EXPECT_EQ(::write(go_, &check, 1), 1);
    }
    // What the check that Go started answered.
    bool Online() const {
        char online = 0;
        EXPECT_EQ(::read(said_, &online, 1), 1) << "the checker ended";
        return online != 0;
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    int said_ = -1;
};

class ComPortProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(StoreFolder() / "ports");
        std::filesystem::remove(StoreFolder() / "ports" / "COM3");
        std::filesystem::create_symlink(modem.SlavePath(), StoreFolder() / "ports" / "COM3");
    }
    void TearDown() override { std::filesystem::remove(StoreFolder() / "ports" / "COM3"); }

    // Both check at once (told in the same moment, one after the other through their pipes):
    // how many of them said online.
    int CheckInStep() const {
        first.Go();
        second.Go();
        return int(first.Online()) + int(second.Online());
    }

    Pty modem;
    Checker first, second;
};

TEST_F(ComPortProbeTest, TwoChecksInStepDoNotTakeEachOtherForAConnection) {
    constexpr int kRounds = 300;
    int online = 0;
    for (int round = 0; round < kRounds; ++round)
        online += CheckInStep();
    EXPECT_EQ(online, 0) << "online in " << online << " of " << 2 * kRounds << " checks";

    PortHolder dialer(modem.SlavePath());
    EXPECT_EQ(CheckInStep(), 2) << "the dialer's port";
    dialer.Release();
    EXPECT_EQ(CheckInStep(), 0);
}

} // namespace
} // namespace quorvane::test
