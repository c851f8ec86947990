#pragma once
// What a test of the real window starts from: a store folder of its own and the regional formats
// the program starts with (both put back afterwards), a clock the test moves, and the message
// boxes answered by a script.

#include "app/messages.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/regional.h"
#include "support/store_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace quorvane::test {

constexpr Duration H(int h, int m = 0, int s = 0) {
    return h * 3600 + m * 60 + s;
}

class WindowTest : public OwnStoreTest {
protected:
    // The running session's tick, `seconds` after the one before.
    void Tick(TfrmTimer& w, double seconds) {
        clock_.AdvanceSeconds(seconds);
        w.tOnLineTimer();
    }

    ManualClock clock_{EncodeDate(2026, 3, 7) + EncodeTime(10, 0, 0)};
    std::optional<ModalScript> boxes_{std::in_place};
};

} // namespace quorvane::test
