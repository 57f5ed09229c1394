// How long the port lets a write take, and which timeouts a Windows driver
// keeps that the port must not read with.
#include "untReadTimer.h"

#include <gtest/gtest.h>

namespace {

TEST(LineLimits, AWriteTakesItsTimeOnTheLineAndAMargin) {
    EXPECT_EQ(WriteLimitMs(8, 2400), 34u + WriteMarginMs); // 33.3 ms, rounded up
    EXPECT_EQ(WriteLimitMs(1, 115200), 1u + WriteMarginMs);
    EXPECT_EQ(WriteLimitMs(1, 0), 10000u + WriteMarginMs); // a rate never set
}

TEST(LineLimits, TimeoutsUnderWhichAWaitHasNoEnd) {
    constexpr uint32_t Max = UINT32_MAX;
    const struct {
        TCommTimeouts Timeouts;
        bool Unbounded;
    } Cases[] = {
        {{Max, Max, 20, 0, 20}, false},                           // as the port sets them
        {{Max, 0, 0, 0, 20}, false},                              // a read returns at once
        {{0, 10, 0, 10, 0}, false},     {{0, 0, 0, 0, 20}, true}, // a read waits for all its bytes
        {{50, 0, 0, 0, 20}, true},                                // for the first one at least
        {{Max, Max, 20, 0, 0}, true},                             // a write has no limit
    };
    for (const auto& C : Cases)
        EXPECT_EQ(WaitsWithoutBound(C.Timeouts), C.Unbounded)
            << C.Timeouts.ReadInterval << ' ' << C.Timeouts.ReadMultiplier << ' '
            << C.Timeouts.ReadConstant << ' ' << C.Timeouts.WriteConstant;
}

} // namespace
