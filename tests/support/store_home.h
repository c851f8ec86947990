#pragma once
// A store folder of the running test's own, so the tests of one executable never see each
// other's providers; and a fixture that adds the default regional settings to it.

#include "core/regional.h"
#include "core/store_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace quorvane::test {

// Points QUORVANE_HOME at a fresh folder named after the running test, below the one the test
// helper gives the executable, and creates the store folder there; the executable's runtime
// folder is emptied too, so nothing an earlier run left there (a session's state file) is
// found. Answers the store folder.
inline std::filesystem::path EnterOwnStoreFolder() {
    const std::filesystem::path home =
        std::filesystem::path(std::getenv("QUORVANE_HOME")) /
        testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(home);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        for (const auto& entry : std::filesystem::directory_iterator(runtime))
            std::filesystem::remove_all(entry.path());
    }
    setenv("QUORVANE_HOME", home.c_str(), 1);
    EXPECT_TRUE(EnsureStoreFolder()) << home;
    return home;
}

// Gives the executable's store folder back.
inline void LeaveOwnStoreFolder(const std::filesystem::path& home) {
    setenv("QUORVANE_HOME", home.parent_path().c_str(), 1);
}

// A window test's ground: its own store folder and the default regional settings, both given
// back afterwards.
class OwnStoreTest : public testing::Test {
protected:
    void SetUp() override {
        home_ = EnterOwnStoreFolder();
        Regional() = RegionalSettings{};
    }
    void TearDown() override {
        Regional() = saved_;
        LeaveOwnStoreFolder(home_);
    }

    RegionalSettings saved_ = Regional();
    std::filesystem::path home_;
};

} // namespace quorvane::test
