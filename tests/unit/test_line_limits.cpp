// How long the port lets a write take, and which timeouts a Windows driver
// keeps that the port must not read with.
#include "untReadTimer.h"

#include <gtest/gtest.h>

namespace {

TEST(LineLimits, AWriteTakesItsTimeOnTheLineAndAMargin) {
    EXPECT_EQ(WriteLimitMs(8, 2400), 1034u); // 33.3 ms, rounded up, and a second
    EXPECT_EQ(WriteLimitMs(1, 0), 11000u);   // a rate never set
}

TEST(LineLimits, TimeoutsUnderWhichAWaitHasNoEnd) {
    constexpr uint32_t Max = UINT32_MAX;
    EXPECT_FALSE(WaitsWithoutBound({Max, Max, 20, 0, 20})); // as the port sets them
    EXPECT_FALSE(WaitsWithoutBound({Max, 0, 0, 0, 20}));    // a read returns at once
    EXPECT_TRUE(WaitsWithoutBound({50, 0, 0, 0, 20}));      // for its first byte
    EXPECT_TRUE(WaitsWithoutBound({Max, Max, 20, 0, 0}));   // a write has no limit
}

} // namespace
