// The register core, driven by a made-up clock.
#include "untFrames.h"
#include "untRegisterCore.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

using namespace std::string_literals;
using emu::TFault;
using emu::TRegisterCore;

namespace {

const std::string Enq = "\x05", Ack = "\x06", Nak = "\x15";
const std::string Status = "\x02\x05\x11\x3B\x00\x00\x00\x2F"s;
// ACK and the short status answer, written out so that a wrong length or
// checksum in the core cannot agree with BuildFrame; elsewhere BuildFrame will do.
const std::string StatusAnswer = "\x06\x02\x07\x11\x00\x1E\x02\x00\x00\x00\x0A"s;

} // namespace

TEST(RegisterCore, ExchangeWithAckInTime) {
    TRegisterCore Core({});
    EXPECT_EQ(Core.Receive(Enq, 1000), Nak);
    EXPECT_EQ(Core.Receive(Status, 1000), StatusAnswer);
    EXPECT_EQ(Core.NextDeadline(), 1150u);
    EXPECT_EQ(Core.Receive(Ack, 1149), "");
    EXPECT_FALSE(Core.HoldsAnswer());
    EXPECT_EQ(Core.LastAckDelay(), 149u);
    EXPECT_TRUE(Core.LastAckInTime());
    EXPECT_EQ(Core.Receive(Enq, 1200), Nak);

    // A bad checksum and an empty frame carry no command.
    std::string Bad = Status;
    Bad.back() ^= 1;
    EXPECT_EQ(Core.Receive(Bad, 1300), Nak);
    EXPECT_EQ(Core.Receive("\x02\x00\x00"s, 1300), Nak);
    EXPECT_FALSE(Core.HoldsAnswer());
    EXPECT_EQ(Core.Receive(Status, 1400), StatusAnswer);
}

TEST(RegisterCore, LateAckKeepsTheAnswerAndNakResends) {
    TRegisterCore Core({});
    Core.Receive(Status, 1000);
    // No Advance first: Receive must run out the wait itself.
    EXPECT_EQ(Core.Receive(Ack, 1150), "");
    EXPECT_TRUE(Core.HoldsAnswer());
    EXPECT_FALSE(Core.LastAckInTime());
    EXPECT_EQ(Core.LastAckDelay(), 150u);
    // Offered again at the next ENQ, with a new wait; a NAK brings it again.
    EXPECT_EQ(Core.Receive(Enq, 2000), StatusAnswer);
    EXPECT_EQ(Core.Receive(Nak, 2100), StatusAnswer.substr(1));
    EXPECT_EQ(Core.NextDeadline(), 2250u);
    Core.Receive(Ack, 2240);
    EXPECT_FALSE(Core.HoldsAnswer());
    EXPECT_EQ(Core.LastAckDelay(), 140u);
}

TEST(RegisterCore, TimeoutIsCappedButReadBackAsSet) {
    TRegisterCore Core({.MaxTimeout = 500});
    // T = 0x02150605: each of its bytes means something outside a frame.
    const std::string Set = BuildFrame("\x14\x3B\x00\x00\x00\x05\x06\x15\x02"s);
    EXPECT_EQ(Core.Receive(Set, 1000), Ack + BuildFrame("\x14\x00"s));
    EXPECT_EQ(Core.ExchangeTimeout(), 500u);
    // The answer to the command already waits with the new timeout.
    EXPECT_EQ(Core.NextDeadline(), 1500u);
    const std::string Get = BuildFrame("\x15\x3B\x00\x00\x00"s);
    EXPECT_EQ(Core.Receive(Get, 2000), Ack + BuildFrame("\x15\x00\x05\x06\x15\x02"s));
}

TEST(RegisterCore, CommandErrors) {
    TRegisterCore Core({});
    const std::pair<std::string, std::string> Cases[] = {
        {"\x11\x3B\x00\x00"s, "\x11\x33"s},                 // too short
        {"\x14\x3B\x00\x00\x00\x10\x00\x00"s, "\x14\x33"s}, // T of 3 bytes
        {"\x15\x3B\x00\x00\x00\x00"s, "\x15\x33"s},         // too long
        {"\x11\x3C\x00\x00\x00"s, "\x11\x4F"s},             // wrong password
        {"\xFF\x3B\x00\x00\x00"s, "\xFF\x37"s},             // unknown command
    };
    uint64_t Now = 1000;
    for (const auto& [Command, Answer] : Cases)
        EXPECT_EQ(Core.Receive(BuildFrame(Command), Now += 1000), Ack + BuildFrame(Answer))
            << emu::HexBytes(Command);
    EXPECT_EQ(Core.RequestedTimeout(), 150u);
}

TEST(RegisterCore, ChunkedAndBrokenOffInput) {
    TRegisterCore Core({.InitialTimeout = 20}); // the gap limit is 50 ms all the same
    EXPECT_EQ(Core.Receive(Enq + Status, 1000), Nak + StatusAnswer);
    // A frame a byte at a time, then its ACK together with an ENQ.
    uint64_t Now = 2000;
    for (std::size_t I = 0; I + 1 < Status.size(); ++I)
        EXPECT_EQ(Core.Receive(Status.substr(I, 1), Now += 10), "");
    EXPECT_EQ(Core.Receive(Status.substr(Status.size() - 1), Now += 10), StatusAnswer);
    EXPECT_EQ(Core.Receive(Ack + Enq, Now + 5), Nak);
    EXPECT_EQ(Core.LastAckDelay(), 5u);
    // A pause of 50 ms keeps a frame together; after 51 the rest is stray bytes.
    EXPECT_EQ(Core.Receive(Status.substr(0, 3), 3000), "");
    EXPECT_EQ(Core.Receive(Status.substr(3), 3050), StatusAnswer);
    Core.Receive(Ack, 3060);
    EXPECT_EQ(Core.Receive(Status.substr(0, 3), 4000), "");
    EXPECT_EQ(Core.Receive(Status.substr(3), 4051), "");
    EXPECT_FALSE(Core.HoldsAnswer());
}

TEST(RegisterCore, FaultModes) {
    const std::string BadSum = StatusAnswer.substr(0, 10) + "\xF5";
    const std::string NoStx = "\x06\x00"s + StatusAnswer.substr(2);
    // The ENQ at 2010 comes while the answer waits for its ACK, and restarts the wait.
    struct {
        emu::TRegisterOptions Options;
        std::string EnqReply, FrameReply, HeldEnqReply;
        std::optional<uint64_t> AckDeadline;
    } Cases[] = {
        {{}, Nak, StatusAnswer, StatusAnswer, 2160},
        {{.Fault = TFault::Silence}, "", "", "", std::nullopt},
        {{.Fault = TFault::WrongEnq, .WrongEnqReply = 0x1B}, "\x1B", StatusAnswer, "\x1B", 2150},
        {{.Fault = TFault::BadChecksum}, Nak, BadSum, BadSum, 2160},
        {{.Fault = TFault::NoStx}, Nak, NoStx, NoStx, 2160},
        // 11 bytes each 20 ms apart: the answer to the ENQ goes out from 2220
        // on, its last byte at 2420, and the wait starts from there.
        {{.Fault = TFault::SlowBytes, .ByteGapMs = 20}, Nak, StatusAnswer, StatusAnswer, 2570},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(emu::FaultName(C.Options.Fault));
        TRegisterCore Core(C.Options);
        EXPECT_EQ(Core.Receive(Enq, 1000), C.EnqReply);
        EXPECT_EQ(Core.Receive(Status, 2000), C.FrameReply);
        EXPECT_EQ(Core.Receive(Enq, 2010), C.HeldEnqReply);
        EXPECT_EQ(Core.NextDeadline(), C.AckDeadline);
    }
}

TEST(RegisterCore, FaultCanWaitForTheFirstTimeoutCommand) {
    TRegisterCore Core({.Fault = TFault::WrongEnq, .FaultAfterTimeoutCommand = true});
    // The driver's connection check and its raise go through as usual...
    EXPECT_EQ(Core.Receive(Enq, 1000), Nak);
    EXPECT_EQ(Core.Receive(Status, 1000), StatusAnswer);
    Core.Receive(Ack, 1010);
    EXPECT_EQ(Core.Receive(Enq, 2000), Nak);
    const std::string Set = BuildFrame("\x14\x3B\x00\x00\x00\xA0\x86\x01\x00"s);
    EXPECT_EQ(Core.Receive(Set, 2000), Ack + BuildFrame("\x14\x00"s));
    Core.Receive(Ack, 2010);
    // ...and from then on every ENQ gets the wrong byte.
    EXPECT_EQ(Core.Receive(Enq, 3000), "\x1B");
    EXPECT_EQ(Core.Receive(Enq, 4000), "\x1B");
}
