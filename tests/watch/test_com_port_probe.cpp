// The COM Port probe beside another copy of itself: two processes (two users' Quorvanes) that
// check the same modem in step never take each other's check for a connection, and both still
// see a dialer that holds the modem. The modem is a pseudo-terminal, COM3 through the store
// folder's ports/ link; lock files go to the test's own lock folder.

#include "core/store_folder.h"
#include "serial/comm32.h"
#include "tests/serial/serial_support.h"
#include "watch/com_port_probe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace quorvane::test {
namespace {

// A process of its own that checks COM3 with the probe each time it is asked, and says what the
// probe answered.
class Checker {
public:
    Checker()
        : process_([comm = std::shared_ptr<TComm32>()](char) mutable {
              if (!comm)
                  comm = std::make_shared<TComm32>();
              return std::string(ComPortInUse(*comm, 3) ? "online" : "offline");
          }) {}
    void Go() { process_.Tell('c'); }
    // What the check that Go started answered.
    bool Online() {
        const std::string said = process_.Answer();
        EXPECT_NE(said, "") << "the checker ended";
        return said == "online";
    }

private:
    AnsweringProcess process_;
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
    int CheckInStep() {
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
