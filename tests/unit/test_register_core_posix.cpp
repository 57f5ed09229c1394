// The register core, driven by a made-up clock: only what the program's own
// tests take on trust; the rest of the emulator is seen through those tests.
#include "untFrames.h"
#include "untRegisterCore.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;
using emu::TRegisterCore;

namespace {

const std::string Enq = "\x05", Ack = "\x06", Nak = "\x15";
const std::string Status = "\x02\x05\x11\x3B\x00\x00\x00\x2F"s;
// ACK and the short status answer, written out so that a wrong length or
// checksum in the core cannot agree with BuildFrame; elsewhere BuildFrame will do.
const std::string StatusAnswer = "\x06\x02\x07\x11\x00\x1E\x02\x00\x00\x00\x0A"s;

} // namespace

TEST(RegisterCore, AckInTimeTakesTheAnswerALateOneLeavesItOffered) {
    TRegisterCore Core({});
    EXPECT_EQ(Core.Receive(Enq, 1000), Nak);
    EXPECT_EQ(Core.Receive(Status, 1000), StatusAnswer);
    EXPECT_EQ(Core.Receive(Ack, 1149), "");
    EXPECT_FALSE(Core.HoldsAnswer());
    EXPECT_EQ(Core.LastAckDelay(), 149u);

    Core.Receive(Status, 2000);
    // No Advance first: Receive must run out the wait itself.
    EXPECT_EQ(Core.Receive(Ack, 2150), "");
    EXPECT_TRUE(Core.HoldsAnswer());
    // Offered again at the next ENQ, with a new wait; a NAK brings it again.
    EXPECT_EQ(Core.Receive(Enq, 3000), StatusAnswer);
    EXPECT_EQ(Core.Receive(Nak, 3100), StatusAnswer.substr(1));
    Core.Receive(Ack, 3240);
    EXPECT_FALSE(Core.HoldsAnswer());
}

TEST(RegisterCore, TimeoutIsCappedButReadBackAsSet) {
    TRegisterCore Core({.MaxTimeout = 500});
    // T = 0x02150605: each of its bytes means something outside a frame.
    const std::string Set = BuildFrame("\x14\x3B\x00\x00\x00\x05\x06\x15\x02"s);
    EXPECT_EQ(Core.Receive(Set, 1000), Ack + BuildFrame("\x14\x00"s));
    EXPECT_EQ(Core.ExchangeTimeout(), 500u);
    EXPECT_EQ(Core.NextDeadline(), 1500u); // the answer already waits with it
    const std::string Get = BuildFrame("\x15\x3B\x00\x00\x00"s);
    EXPECT_EQ(Core.Receive(Get, 2000), Ack + BuildFrame("\x15\x00\x05\x06\x15\x02"s));
}
