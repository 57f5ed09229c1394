// One probe against the emulated register, in virtual time.
#include "VirtualRegister.h"
#include "untTimeoutRun.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

const std::string Enq = "\x05", Ack = "\x06";
const std::string Command = std::string("\x02\x05\x11\x3B\x00\x00\x00\x2F", 8);

// Text of the probe's failure, or "OK".
std::string Probe(TVirtualRig& Rig, uint32_t Delay) {
    TTimeoutRun Test = Rig.Run();
    try {
        Test.TestTimeout(Delay);
        return "OK";
    } catch (const std::exception& E) {
        return E.what();
    }
}

TEST(Probe, LineParametersComeFromTheDriverForEveryBaudrateIndexAndNoOther) {
    const uint32_t Rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int32_t Index = -1; Index <= 7; ++Index) {
        SCOPED_TRACE(Index);
        TVirtualRig Rig({.InitialTimeout = 500});
        const bool Known = Index >= 0 && Index <= 6;
        if (Known)
            Rig.Store->Settings = {12, Index, 777};
        else
            Rig.Driver->Forced["Baudrate"] = {Index}; // what the stand-in itself refuses
        const std::string Result = Probe(Rig, 0);
        if (!Known) {
            EXPECT_EQ(Result, runlog::BadBaudRateIndex(Index));
            EXPECT_EQ(Rig.Line.Opens, 0);
            continue;
        }
        EXPECT_EQ(Result, "OK");
        EXPECT_EQ(Rig.Line.BaudRate, Rates[Index]);
        EXPECT_EQ(Rig.Line.ComNumber, 12u);
        EXPECT_EQ(Rig.Line.Timeout, 777u);
        EXPECT_EQ(Rig.Driver->Calls,
                  (std::vector<std::string>{"Disconnect", "Baudrate", "ComNumber", "Timeout"}));
    }
}

TEST(Probe, AReplyOutsideTheProtocolFailsWithItsByteAndSilenceWithNoLink) {
    const struct {
        const char* Name;
        emu::TRegisterOptions Register;
        std::function<void(TVirtualRig&)> Before;
        std::string Result;
        uint64_t WithinMs = 100000;
        std::string Written = ""; // when it matters: nothing after the wrong byte
    } Cases[] = {
        // clang-format off
        {"a wrong byte for the ENQ", {.InitialTimeout = 500},
         [](TVirtualRig& R) { R.Register.Replies[Enq] = "\x1B"; },
         runlog::WrongReply(0x1B), 100000, Enq},
        {"the command refused", {.InitialTimeout = 500},
         [](TVirtualRig& R) { R.Register.Replies[Command] = "\x15"; }, runlog::WrongReply(0x15)},
        {"a wrong byte for the late ENQ", {.InitialTimeout = 500},
         [](TVirtualRig& R) { R.View.OnMessages = [&R] { R.Register.Replies[Enq] = {'\0'}; }; },
         runlog::WrongReply(0x00)},
        // Only a received byte can pass.
        {"quiet while the ACK is held back", {.InitialTimeout = 500},
         [](TVirtualRig& R) { R.View.OnMessages = [&R] { R.Register.Replies[Enq] = ""; }; },
         "Нет связи"},
        // Power lost after a frame's length byte: no link after one timeout
        // without a byte, not after one for each missing byte.
        {"cut in a frame", {.InitialTimeout = 500, .Fault = emu::TFault::CutFrame},
         [](TVirtualRig& R) { R.Store->Settings = {1, 2, 1000}; }, "Нет связи", 1100},
        // The system's failure, not the silence that follows.
        {"gone when the window's step sends the ACK", {.InitialTimeout = 500}, [](TVirtualRig& R) {
             R.View.OnMessages = [&R] {
                 R.Register.Advance(200);
                 R.Register.Unplugged = true;
                 R.View.Step();
             };
         }, "Системная ошибка. Код: 5. Ошибка ввода-вывода"},
        // clang-format on
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TVirtualRig Rig(C.Register);
        C.Before(Rig);
        EXPECT_EQ(Probe(Rig, 100), C.Result);
        EXPECT_LT(Rig.Register.Now, C.WithinMs);
        if (!C.Written.empty()) {
            EXPECT_EQ(Rig.Line.Written, C.Written);
        }
    }
}

// The register, which holds 3000 ms, lets go of its answer after a late ACK
// of 1000 ms, and offers it still after one of 4000 ms: the probe takes it,
// acknowledges it and fails. Whatever an exchange that broke off left on the
// line is taken off it first, an answer it left is not acknowledged (the
// command replaces it), and what came during the hold is no reply.
// A refusal after a hold that the system stretched past the tolerance is no
// verdict: the window away in a modal loop while the answer came (the log's
// scroll bar held), the process frozen in the wait for it or in the hold (a
// paused virtual machine, a sleep that sent no notice). The delay is held
// again; taken as it was, the refusal would have failed 1000 ms. A system
// that stretches every hold ends the probe without a verdict.
TEST(Probe, ARefusalAfterAStretchedHoldIsHeldAgain) {
    const std::string Attempt = Enq + Command + Ack + Enq;
    const auto SlowAnswer = [](TVirtualRig& Rig, uint32_t AwayMs, uint64_t FrozenMs = 0) {
        Rig.Register.Replies[Command] = "";
        Rig.View.OnMessages = [&Rig, AwayMs, FrozenMs, Away = true]() mutable {
            if (!std::exchange(Away, false))
                return;
            Rig.Register.Replies.clear();
            Rig.Register.HostWrites(Command); // the answer comes now,
            Rig.Register.Advance(AwayMs);     // while the window is away
            Rig.Register.Frozen = FrozenMs;   // or the wait after it is frozen
        };
    };
    // 5 s at the hold's third step, or at every third.
    const auto FrozenInHold = [](TVirtualRig& Rig, bool Every) {
        Rig.View.OnMessages = [&Rig, Every, Steps = 0]() mutable {
            if (++Steps == 3 || (Every && Steps % 3 == 0))
                Rig.Register.Advance(5000);
        };
    };
    const struct {
        const char* Name;
        std::function<void(TVirtualRig&)> Strike;
        std::string Result, Written;
        uint32_t Delay = 1000;
    } Cases[] = {
        {"a byte left behind", [](TVirtualRig& R) { R.Register.Input = "\x1B"; }, "OK", Attempt},
        {"an answer left behind", [](TVirtualRig& R) { R.Register.HostWrites(Command); }, "OK",
         Attempt},
        {"a byte that came during the hold",
         [](TVirtualRig& R) {
             R.View.OnMessages = [&R] { R.Register.Input = std::string(1, '\0'); };
         },
         "OK", Attempt},
        {"a slow answer seen on time", [&](TVirtualRig& Rig) { SlowAnswer(Rig, 0); },
         runlog::NotPassed, Attempt + Ack, 4000},
        {"away while the answer came", [&](TVirtualRig& Rig) { SlowAnswer(Rig, 2500); }, "OK",
         Attempt + Ack + Attempt},
        {"frozen in the wait while the answer came",
         [&](TVirtualRig& Rig) { SlowAnswer(Rig, 0, 2500); }, "OK", Attempt + Ack + Attempt},
        {"frozen in the hold", [&](TVirtualRig& Rig) { FrozenInHold(Rig, false); }, "OK",
         Attempt + Ack + Attempt},
        {"frozen in every hold", [&](TVirtualRig& Rig) { FrozenInHold(Rig, true); },
         runlog::Stretched(4060), Attempt + Ack + Attempt + Ack + Attempt + Ack},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TVirtualRig Rig({.InitialTimeout = 3000});
        C.Strike(Rig);
        EXPECT_EQ(Probe(Rig, C.Delay), C.Result);
        EXPECT_EQ(Rig.Line.Written, C.Written);
        EXPECT_EQ(Rig.Register.LastAck()->Sentence, emu::TSentence::AckInTime); // delivered
        EXPECT_EQ(Rig.Register.Input, ""); // the refused answer read before its ACK
    }
}

TEST(Probe, HoldBackEndsAtTheFirstStepPastTheDelay) {
    // Delay -> time from the answer to the late ACK, as the register saw it,
    // also when the system's own modal loop (a scroll bar held) keeps the
    // window's message handling from returning for BlockedMs while the
    // window's step timer still runs.
    const struct {
        uint32_t Delay, Expected, BlockedMs = 0;
    } Cases[] = {{0, 20}, {19, 20}, {20, 40}, {100, 120}, {101, 120}, {1000, 1020, 2500}};
    for (auto [Delay, Expected, BlockedMs] : Cases) {
        for (uint32_t TickOffset : {1000u, 0xFFFFFFFFu - 50}) { // the second wraps mid-wait
            TVirtualRig Rig({.InitialTimeout = 100000}, TickOffset);
            Rig.View.OnMessages = [&Rig, Left = BlockedMs]() mutable {
                for (; Left > 0; Left -= WaitStepMs) {
                    Rig.Register.Advance(WaitStepMs);
                    if (Rig.View.Step)
                        Rig.View.Step();
                }
            };
            ASSERT_EQ(Probe(Rig, Delay), "OK");
            EXPECT_EQ(Rig.Register.LastAck()->Number(0), Expected)
                << "delay " << Delay << ", ticks from " << TickOffset;
        }
    }
}

} // namespace
