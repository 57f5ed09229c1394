// The register core, driven by a made-up clock. Its exchanges are seen through
// the program's own tests; here only what those never send.
#include "untFrames.h"
#include "untRegisterCore.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(RegisterCore, TimeoutIsCappedButReadBackAsSet) {
    emu::TRegisterCore Core({.MaxTimeout = 500});
    // T = 0x02150605: each of its bytes means something outside a frame.
    const std::string Set = BuildFrame("\x14\x3B\x00\x00\x00\x05\x06\x15\x02"s);
    EXPECT_EQ(Core.Receive(Set, 1000), "\x06"s + BuildFrame("\x14\x00"s));
    EXPECT_EQ(Core.ExchangeTimeout(), 500u);
    EXPECT_EQ(Core.NextDeadline(), 1500u); // the answer already waits with it
    const std::string Get = BuildFrame("\x15\x3B\x00\x00\x00"s);
    EXPECT_EQ(Core.Receive(Get, 2000), "\x06"s + BuildFrame("\x15\x00\x05\x06\x15\x02"s));
}
