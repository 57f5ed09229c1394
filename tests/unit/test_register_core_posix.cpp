// The register core, driven by a made-up clock.
#include "untFrames.h"
#include "untRegisterCore.h"
#include "untRegisterProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;
using emu::TFault;
using emu::TRegisterCore;
using emu::TRegisterOptions;

namespace {

const std::string Enq(1, ENQ), Ack(1, ACK), Nak(1, NAK);

// Checked here byte by byte rather than with BuildFrame, so a wrong
// length or checksum in the core does not agree with itself.
struct TFrame {
    std::string Data;
    bool ChecksumOk = false;
};

TFrame ParseFrame(const std::string& Bytes) {
    if (Bytes.size() < 3 || static_cast<uint8_t>(Bytes[0]) != STX)
        throw std::runtime_error("not a frame");
    const std::size_t Length = static_cast<uint8_t>(Bytes[1]);
    if (Bytes.size() != Length + 3)
        throw std::runtime_error("frame length does not match");
    uint8_t Sum = 0;
    for (std::size_t I = 1; I + 1 < Bytes.size(); ++I)
        Sum ^= static_cast<uint8_t>(Bytes[I]);
    return {Bytes.substr(2, Length), Sum == static_cast<uint8_t>(Bytes.back())};
}

// What follows the ACK that accepts a frame.
std::string AnswerData(const std::string& Out) {
    if (Out.empty() || Out[0] != Ack[0])
        throw std::runtime_error("no ACK first");
    const TFrame F = ParseFrame(Out.substr(1));
    if (!F.ChecksumOk)
        throw std::runtime_error("bad checksum");
    return F.Data;
}

const std::string StatusCmd = BuildFrame(regproto::ShortStatusCommand());

class RegisterCore : public ::testing::Test {
protected:
    void Make(TRegisterOptions O = {}) {
        Core = std::make_unique<TRegisterCore>(O);
        Core->SetLog([this](uint64_t, const std::string& L) { Log.push_back(L); });
    }
    void SetUp() override { Make(); }
    bool Logged(const std::string& Part) const {
        for (const auto& L : Log)
            if (L.find(Part) != std::string::npos)
                return true;
        return false;
    }
    std::unique_ptr<TRegisterCore> Core;
    std::vector<std::string> Log;
};

} // namespace

TEST_F(RegisterCore, EnqWithoutAnswerGetsNak) {
    EXPECT_EQ(Core->Receive(Enq, 1000), Nak);
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_FALSE(Core->NextDeadline());
    EXPECT_TRUE(Logged("<- 05 ENQ"));
    EXPECT_TRUE(Logged("-> 15 NAK"));
}

TEST_F(RegisterCore, ShortStatusAcceptedAndAnswered) {
    const std::string Out = Core->Receive(StatusCmd, 1000);
    const std::string Data = AnswerData(Out);
    ASSERT_GE(Data.size(), 3u);
    EXPECT_LE(Data.size(), 16u);
    EXPECT_EQ(Data.substr(0, 2), "\x11\x00"s);
    EXPECT_EQ(Data[2], '\x1E');
    EXPECT_TRUE(Core->HoldsAnswer());
    EXPECT_TRUE(Core->AwaitingAck());
    EXPECT_EQ(Core->NextDeadline(), 1000u + 150u);
}

TEST_F(RegisterCore, CommandErrors) {
    struct {
        std::string Data, Answer;
    } Cases[] = {
        {"\x11\x3B\x00\x00"s, "\x11\x33"s},                 // short
        {"\x11\x3B\x00\x00\x00\x00"s, "\x11\x33"s},         // long
        {"\x11\x3C\x00\x00\x00"s, "\x11\x4F"s},             // password
        {"\x14\x3B\x00\x00\x00\x10\x00\x00"s, "\x14\x33"s}, // T has 3 bytes
        {"\x14\x00\x00\x00\x00\x10\x00\x00\x00"s, "\x14\x4F"s},
        {"\x15\x3B\x00\x00"s, "\x15\x33"s},
        {"\x15\x3B\x00\x00\x01"s, "\x15\x4F"s},
        {"\x42"s, "\x42\x37"s},
        {"\xFF\x3B\x00\x00\x00"s, "\xFF\x37"s},
    };
    uint64_t Now = 1000;
    for (const auto& C : Cases) {
        Now += 1000;
        EXPECT_EQ(AnswerData(Core->Receive(BuildFrame(C.Data), Now)), C.Answer)
            << emu::HexBytes(C.Data);
    }
    EXPECT_EQ(Core->RequestedTimeout(), 150u);
}

TEST_F(RegisterCore, BadChecksumGetsNak) {
    std::string Frame = StatusCmd;
    Frame.back() ^= 0x01;
    EXPECT_EQ(Core->Receive(Frame, 1000), Nak);
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_TRUE(Logged("bad checksum"));
    // The line is back to normal afterwards.
    EXPECT_EQ(AnswerData(Core->Receive(StatusCmd, 1100)).substr(0, 2), "\x11\x00"s);
}

TEST_F(RegisterCore, EmptyFrameGetsNak) {
    EXPECT_EQ(Core->Receive(BuildFrame(""), 1000), Nak);
    EXPECT_FALSE(Core->HoldsAnswer());
}

TEST_F(RegisterCore, AckInTimeDeliversAnswer) {
    Core->Receive(StatusCmd, 1000);
    EXPECT_EQ(Core->Receive(Ack, 1149), "");
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_FALSE(Core->AwaitingAck());
    EXPECT_EQ(Core->LastAckDelay(), 149u);
    EXPECT_TRUE(Core->LastAckInTime());
    EXPECT_TRUE(Logged("<- 06 ACK after 149 ms: answer delivered"));
    EXPECT_EQ(Core->Receive(Enq, 1200), Nak);
    // A second ACK has nothing to acknowledge.
    EXPECT_EQ(Core->Receive(Ack, 1300), "");
    EXPECT_EQ(Core->LastAckDelay(), 149u);
}

TEST_F(RegisterCore, AckAtTimeoutIsLateAndAnswerIsKept) {
    const std::string Out = Core->Receive(StatusCmd, 1000);
    Core->Advance(1149);
    EXPECT_TRUE(Core->AwaitingAck());
    Core->Advance(1150);
    EXPECT_FALSE(Core->AwaitingAck());
    EXPECT_TRUE(Core->HoldsAnswer());
    EXPECT_FALSE(Core->NextDeadline());
    EXPECT_TRUE(Logged("no ACK within 150 ms"));

    EXPECT_EQ(Core->Receive(Ack, 2020), "");
    EXPECT_TRUE(Core->HoldsAnswer());
    EXPECT_FALSE(Core->LastAckInTime());
    EXPECT_EQ(Core->LastAckDelay(), 1020u);
    EXPECT_TRUE(Logged("<- 06 ACK too late, 1020 ms after the answer (answer kept)"));

    // Offered again at ENQ: the same frame after an ACK, and a new wait.
    EXPECT_EQ(Core->Receive(Enq, 3000), Out);
    EXPECT_TRUE(Core->AwaitingAck());
    EXPECT_EQ(Core->Receive(Ack, 3010), "");
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_EQ(Core->LastAckDelay(), 10u);
}

TEST_F(RegisterCore, ReceiveRunsTimersFirst) {
    Core->Receive(StatusCmd, 1000);
    // No Advance in between: the ACK at 1200 must find the wait over.
    Core->Receive(Ack, 1200);
    EXPECT_TRUE(Core->HoldsAnswer());
}

TEST_F(RegisterCore, EnqWhileAwaitingResendsAndRestartsWait) {
    const std::string Out = Core->Receive(StatusCmd, 1000);
    EXPECT_EQ(Core->Receive(Enq, 1100), Out);
    EXPECT_EQ(Core->NextDeadline(), 1250u);
    Core->Receive(Ack, 1240);
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_EQ(Core->LastAckDelay(), 140u);
}

TEST_F(RegisterCore, NakResendsAnswerAndRestartsWait) {
    const std::string Out = Core->Receive(StatusCmd, 1000);
    EXPECT_EQ(Core->Receive(Nak, 1100), Out.substr(1));
    EXPECT_EQ(Core->NextDeadline(), 1250u);
    Core->Advance(1200);
    EXPECT_TRUE(Core->AwaitingAck());
    Core->Advance(1250);
    EXPECT_FALSE(Core->AwaitingAck());
    // Once the wait is over a NAK is stray.
    EXPECT_EQ(Core->Receive(Nak, 1300), "");
    EXPECT_TRUE(Core->HoldsAnswer());
}

TEST_F(RegisterCore, StrayBytesIgnored) {
    EXPECT_EQ(Core->Receive("\x41\x00\xFF"s, 1000), "");
    EXPECT_EQ(Core->Receive(Ack + Nak, 1000), "");
    EXPECT_TRUE(Logged("<- 41 ignored"));
    EXPECT_FALSE(Core->HoldsAnswer());
}

TEST_F(RegisterCore, NewFrameReplacesHeldAnswer) {
    Core->Receive(StatusCmd, 1000);
    Core->Advance(2000);
    ASSERT_TRUE(Core->HoldsAnswer());
    const std::string Out = Core->Receive(BuildFrame(regproto::GetExchangeTimeoutCommand()), 2100);
    EXPECT_EQ(AnswerData(Out), "\x15\x00\x96\x00\x00\x00"s);
    EXPECT_TRUE(Logged("dropped"));
    EXPECT_EQ(Core->Receive(Enq, 3000), Out);
}

TEST_F(RegisterCore, SetTimeoutIsCapped) {
    Make({.InitialTimeout = 150, .MaxTimeout = 500});
    const std::string Out =
        Core->Receive(BuildFrame(regproto::SetExchangeTimeoutCommand(100000)), 1000);
    EXPECT_EQ(AnswerData(Out), "\x14\x00"s);
    EXPECT_EQ(Core->RequestedTimeout(), 100000u);
    EXPECT_EQ(Core->ExchangeTimeout(), 500u);
    EXPECT_TRUE(Logged("exchange timeout set to 500 ms (requested 100000, cap 500)"));
    // The answer to the command already waits with the new timeout.
    EXPECT_EQ(Core->NextDeadline(), 1500u);
    Core->Receive(Ack, 1400);
    EXPECT_FALSE(Core->HoldsAnswer());

    // Read back: the value asked for, not the capped one.
    EXPECT_EQ(AnswerData(Core->Receive(BuildFrame(regproto::GetExchangeTimeoutCommand()), 2000)),
              "\x15\x00\xA0\x86\x01\x00"s);
}

TEST_F(RegisterCore, InitialTimeoutIsCapped) {
    Make({.InitialTimeout = 800, .MaxTimeout = 300});
    EXPECT_EQ(Core->ExchangeTimeout(), 300u);
    EXPECT_EQ(Core->RequestedTimeout(), 800u);
}

TEST_F(RegisterCore, ControlBytesInsideFrameAreData) {
    // T = 0x02150605: every byte of it would mean something outside a frame.
    const std::string Out =
        Core->Receive(BuildFrame(regproto::SetExchangeTimeoutCommand(0x02150605)), 1000);
    EXPECT_EQ(AnswerData(Out), "\x14\x00"s);
    EXPECT_EQ(Core->RequestedTimeout(), 0x02150605u);
}

TEST_F(RegisterCore, ChunkedInput) {
    // ENQ and a frame in one read: NAK for the ENQ, then the frame's answer.
    const std::string Out = Core->Receive(Enq + StatusCmd, 1000);
    ASSERT_EQ(Out.substr(0, 1), Nak);
    EXPECT_EQ(AnswerData(Out.substr(1)).substr(0, 2), "\x11\x00"s);

    // A frame a byte at a time, then its ACK together with an ENQ.
    const std::string Get = BuildFrame(regproto::GetExchangeTimeoutCommand());
    uint64_t Now = 2000;
    for (std::size_t I = 0; I + 1 < Get.size(); ++I)
        EXPECT_EQ(Core->Receive(Get.substr(I, 1), Now += 10), "");
    const std::string Answer = Core->Receive(Get.substr(Get.size() - 1), Now += 10);
    EXPECT_EQ(AnswerData(Answer).substr(0, 1), "\x15");
    EXPECT_EQ(Core->Receive(Ack + Enq, Now + 5), Nak);
    EXPECT_EQ(Core->LastAckDelay(), 5u);
}

TEST_F(RegisterCore, BrokenOffFrameIsDiscarded) {
    Make({.InitialTimeout = 20}); // the limit is 50 ms all the same
    EXPECT_EQ(Core->FrameGapLimit(), 50u);
    EXPECT_EQ(Core->Receive(StatusCmd.substr(0, 3), 1000), "");
    EXPECT_EQ(Core->NextDeadline(), 1051u);
    // The rest comes too late: it is stray bytes, not a frame.
    EXPECT_EQ(Core->Receive(StatusCmd.substr(3), 1051), "");
    EXPECT_TRUE(Logged("02 05 11 discarded: frame broken off"));
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_FALSE(Core->NextDeadline());

    // A pause of exactly the limit keeps the frame together.
    EXPECT_EQ(Core->Receive(StatusCmd.substr(0, 3), 2000), "");
    EXPECT_EQ(AnswerData(Core->Receive(StatusCmd.substr(3), 2050)).substr(0, 2), "\x11\x00"s);
}

TEST_F(RegisterCore, FrameGapFollowsLongTimeout) {
    Make({.InitialTimeout = 1000});
    Core->Receive(StatusCmd.substr(0, 2), 1000);
    Core->Advance(1900);
    EXPECT_TRUE(AnswerData(Core->Receive(StatusCmd.substr(2), 1900)).starts_with("\x11\x00"s));
}

TEST_F(RegisterCore, FaultSilence) {
    Make({.Fault = TFault::Silence});
    EXPECT_EQ(Core->Receive(Enq, 1000), "");
    EXPECT_EQ(Core->Receive(StatusCmd, 1100), "");
    EXPECT_EQ(Core->Receive(Enq, 1200), "");
    EXPECT_FALSE(Core->HoldsAnswer());
    EXPECT_TRUE(Logged("silent"));
}

TEST_F(RegisterCore, FaultWrongEnq) {
    Make({.Fault = TFault::WrongEnq, .WrongEnqReply = 0x1B});
    EXPECT_EQ(Core->Receive(Enq, 1000), "\x1B");
    // Frames are still served; only ENQ goes wrong, answer held or not.
    EXPECT_EQ(AnswerData(Core->Receive(StatusCmd, 1100)).substr(0, 2), "\x11\x00"s);
    Core->Advance(2000);
    EXPECT_EQ(Core->Receive(Enq, 2000), "\x1B");
    EXPECT_TRUE(Core->HoldsAnswer());
}

TEST_F(RegisterCore, FaultBadChecksum) {
    Make({.Fault = TFault::BadChecksum});
    const std::string Out = Core->Receive(StatusCmd, 1000);
    ASSERT_EQ(Out.substr(0, 1), Ack);
    const TFrame F = ParseFrame(Out.substr(1));
    EXPECT_FALSE(F.ChecksumOk);
    EXPECT_EQ(F.Data.substr(0, 2), "\x11\x00"s);
    // The host's NAK brings the same bad frame again.
    EXPECT_EQ(Core->Receive(Nak, 1010), Out.substr(1));
}

TEST_F(RegisterCore, FaultNoStx) {
    Make({.Fault = TFault::NoStx});
    const std::string Out = Core->Receive(StatusCmd, 1000);
    ASSERT_GE(Out.size(), 3u);
    EXPECT_EQ(Out[0], Ack[0]);
    EXPECT_EQ(Out[1], '\0');
    std::string Fixed = Out.substr(1);
    Fixed[0] = STX;
    EXPECT_TRUE(ParseFrame(Fixed).ChecksumOk);
}

TEST_F(RegisterCore, FaultSlowBytesStartsWaitAfterLastByte) {
    Make({.InitialTimeout = 150, .Fault = TFault::SlowBytes, .ByteGapMs = 20});
    EXPECT_EQ(Core->ByteGap(), 20u);
    const std::string Out = Core->Receive(StatusCmd, 1000);
    EXPECT_EQ(Core->OutputStart(), 1000u);
    const uint64_t LastByte = 1000 + 20 * (Out.size() - 1);
    EXPECT_EQ(Core->NextDeadline(), LastByte + 150);
    EXPECT_TRUE(Logged("last byte in " + std::to_string(LastByte - 1000) + " ms"));

    // An ENQ while those bytes are still going out is answered after them.
    const std::string Again = Core->Receive(Enq, 1010);
    EXPECT_EQ(Core->OutputStart(), 1000 + 20 * Out.size());
    const uint64_t LastAgain = Core->OutputStart() + 20 * (Again.size() - 1);
    EXPECT_EQ(Core->NextDeadline(), LastAgain + 150);
    Core->Receive(Ack, LastAgain + 149);
    EXPECT_EQ(Core->LastAckDelay(), 149u);
    EXPECT_FALSE(Core->HoldsAnswer());

    // Once the line is idle, output starts at once again.
    Core->Receive(Enq, 5000);
    EXPECT_EQ(Core->OutputStart(), 5000u);
}

TEST(RegisterProtocol, CommandBytes) {
    EXPECT_EQ(regproto::ShortStatusCommand(), "\x11\x3B\x00\x00\x00"s);
    EXPECT_EQ(regproto::SetExchangeTimeoutCommand(0x01020304),
              "\x14\x3B\x00\x00\x00\x04\x03\x02\x01"s);
    EXPECT_EQ(regproto::GetExchangeTimeoutCommand(), "\x15\x3B\x00\x00\x00"s);
    EXPECT_EQ(regproto::GetUInt32("\xFF\xFE\x00\x80"s, 0), 0x8000FEFFu);
}
