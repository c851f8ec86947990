#pragma once
// What a test of the real window starts from: a store folder of its own, the regional formats
// the program starts with (the test's own put back afterwards), a clock the test moves, and the
// message boxes answered by a script.

#include "app/messages.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/regional.h"
#include "core/store_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace quorvane::test {

constexpr Duration H(int h, int m = 0, int s = 0) {
    return h * 3600 + m * 60 + s;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::filesystem::path(std::getenv("QUORVANE_HOME")) /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(home_);
        setenv("QUORVANE_HOME", home_.c_str(), 1);
        ASSERT_TRUE(EnsureStoreFolder());
        Regional() = RegionalSettings{};
    }
    void TearDown() override {
        Regional() = saved_;
        setenv("QUORVANE_HOME", home_.parent_path().c_str(), 1);
    }

    // The running session's tick, `seconds` after the one before.
    void Tick(TfrmTimer& w, double seconds) {
        clock_.AdvanceSeconds(seconds);
        w.tOnLineTimer();
    }

    std::filesystem::path home_;
    ManualClock clock_{EncodeDate(2026, 3, 7) + EncodeTime(10, 0, 0)};
    std::optional<ModalScript> boxes_{std::in_place};

private:
    RegionalSettings saved_ = Regional();
};

} // namespace quorvane::test
