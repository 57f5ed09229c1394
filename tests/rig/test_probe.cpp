// One probe against the emulated register, in virtual time, and the frames it
// sends.
#include "VirtualRegister.h"
#include "untFrames.h"
#include "untTimeoutRun.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

const std::string Enq = "\x05", Ack = "\x06";
const std::string Command = std::string("\x02\x05\x11\x3B\x00\x00\x00\x2F", 8);

// Text of the probe's failure, or "OK".
std::string Probe(TVirtualRig& Rig, uint32_t Delay) {
    TTimeoutRun Test(Rig);
    try {
        Test.TestTimeout(Delay);
        return "OK";
    } catch (const std::exception& E) {
        return E.what();
    }
}

// A length byte of 0 for 256 bytes would put garbage on the line.
TEST(Frames, CarryAtMost255Bytes) {
    EXPECT_EQ(BuildFrame(std::string(255, 'x')).size(), 258u);
    EXPECT_THROW(BuildFrame(std::string(256, 'x')), std::length_error);
}

TEST(Probe, LateAckAcceptedPassesAndRejectedFails) {
    TVirtualRig Rig({.InitialTimeout = 500});
    // A byte an exchange left behind when it broke off is not the reply.
    Rig.Register.Input = "\x1B";
    EXPECT_EQ(Probe(Rig, 400), "OK");
    EXPECT_EQ(Rig.Line.Written, Enq + Command + Ack + Enq);
    EXPECT_FALSE(Rig.Register.Core.HoldsAnswer());

    // The register still offers its answer: the probe takes it, acknowledges
    // it, and fails.
    Rig.Line.Written.clear();
    EXPECT_EQ(Probe(Rig, 500), "Тест не пройден!");
    EXPECT_EQ(Rig.Line.Written, Enq + Command + Ack + Enq + Ack);
    EXPECT_FALSE(Rig.Register.Core.HoldsAnswer());

    // An answer held from an exchange that broke off is taken off the line
    // and left unacknowledged: the probe's command replaces it.
    Rig.Register.HostWrites(Command);
    Rig.Line.Written.clear();
    EXPECT_EQ(Probe(Rig, 400), "OK");
    EXPECT_EQ(Rig.Line.Written, Enq + Command + Ack + Enq);
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
            EXPECT_EQ(Result, "Неверный номер скорости обмена в настройках драйвера: " +
                                  std::to_string(Index) + " (допустимы 0-6)");
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
    TVirtualRig Rig({.InitialTimeout = 500});
    Rig.Register.Replies[Enq] = "\x1B";
    EXPECT_EQ(Probe(Rig, 100), "Принят неверный код ответа: 0x1Bh");
    // The register refuses the command.
    Rig.Register.Replies = {{Command, "\x15"}};
    EXPECT_EQ(Probe(Rig, 100), "Принят неверный код ответа: 0x15h");
    // Only a received byte can pass: the register goes quiet while the
    // acknowledgement is held back.
    Rig.Register.Replies.clear();
    Rig.OnMessages = [&] { Rig.Register.Replies[Enq] = ""; };
    EXPECT_EQ(Probe(Rig, 100), "Нет связи");

    // A register that lost power after a frame's length byte: no link after
    // one timeout without a byte, not after one for each missing byte.
    TVirtualRig Cut({.InitialTimeout = 500, .Fault = emu::TFault::CutFrame});
    Cut.Store->Settings = {1, 2, 1000};
    EXPECT_EQ(Probe(Cut, 100), "Нет связи");
    EXPECT_LT(Cut.Register.Now, 1100u);

    // The device gone when the window's step sends the ACK: the system's
    // failure, not the silence that follows.
    TVirtualRig Gone({.InitialTimeout = 500});
    Gone.OnMessages = [&Gone] {
        Gone.Register.Advance(200);
        Gone.Register.Unplugged = true;
        Gone.WaitStep();
    };
    EXPECT_EQ(Probe(Gone, 100), "Системная ошибка. Код: 5. Ошибка ввода-вывода");
}

// A refusal after a hold that the system stretched past the tolerance is no
// verdict: the window away in a modal loop while the answer came (the log's
// scroll bar held), or the process frozen in the hold (a sleep that sent no
// notice). The delay is held again, and the register, which holds 3000 ms,
// passes 1000 ms; taken as it was, the refusal would have failed it. A
// system that stretches every hold ends the probe without a verdict. A slow
// answer that the window saw on time stretches nothing: its refusal stands.
TEST(Probe, ARefusalAfterAStretchedHoldIsHeldAgain) {
    const std::string Attempt = Enq + Command + Ack + Enq;
    const auto SlowAnswer = [](TVirtualRig& Rig, uint32_t AwayMs) {
        Rig.Register.Replies[Command] = "";
        Rig.OnMessages = [&Rig, AwayMs, Away = true]() mutable {
            if (!std::exchange(Away, false))
                return;
            Rig.Register.Replies.clear();
            Rig.Register.HostWrites(Command); // the answer comes now,
            Rig.Register.Advance(AwayMs);     // while the window is away
        };
    };
    const struct {
        const char* Name;
        std::function<void(TVirtualRig&)> Strike;
        std::string Result, Written;
        uint32_t Delay = 1000;
    } Cases[] = {
        {"a slow answer seen on time", [&](TVirtualRig& Rig) { SlowAnswer(Rig, 0); },
         "Тест не пройден!", Attempt + Ack, 4000},
        {"away while the answer came", [&](TVirtualRig& Rig) { SlowAnswer(Rig, 2500); }, "OK",
         Attempt + Ack + Attempt},
        {"frozen in the hold",
         [](TVirtualRig& Rig) {
             Rig.OnMessages = [&Rig, Steps = 0]() mutable {
                 if (++Steps == 3)
                     Rig.Register.Advance(5000);
             };
         },
         "OK", Attempt + Ack + Attempt},
        {"frozen in every hold",
         [](TVirtualRig& Rig) {
             Rig.OnMessages = [&Rig, Steps = 0]() mutable {
                 if (++Steps % 3 == 0)
                     Rig.Register.Advance(5000);
             };
         },
         "Задержка растянулась на 4060 мс сверх заданной: результат не засчитан",
         Attempt + Ack + Attempt + Ack + Attempt + Ack},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TVirtualRig Rig({.InitialTimeout = 3000});
        C.Strike(Rig);
        EXPECT_EQ(Probe(Rig, C.Delay), C.Result);
        EXPECT_EQ(Rig.Line.Written, C.Written);
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
            Rig.OnMessages = [&Rig, Left = BlockedMs]() mutable {
                for (; Left > 0; Left -= WaitStepMs) {
                    Rig.Register.Advance(WaitStepMs);
                    if (Rig.WaitStep)
                        Rig.WaitStep();
                }
            };
            ASSERT_EQ(Probe(Rig, Delay), "OK");
            EXPECT_EQ(Rig.Register.Core.LastAckDelay(), Expected)
                << "delay " << Delay << ", ticks from " << TickOffset;
        }
    }
}

} // namespace
