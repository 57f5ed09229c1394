// Whole test runs against the emulated register and the stand-in driver, in
// virtual time, checked line by line.
#include "RunLog.h"
#include "VirtualRegister.h"
#include "untTimeoutRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

class RunTest : public ::testing::Test {
protected:
    // As the Start button runs it: a clean log, a failure's text as its last
    // line.
    void Run(TTimeoutRun& Test) {
        Rig->Lines.Clear();
        try {
            Test.RunTest();
        } catch (const std::exception& E) {
            Rig->Lines.Add(E.what());
        }
    }
    void Run() {
        TTimeoutRun Test(*Rig);
        Run(Test);
    }
    // One rig at a time: each registers its driver under the one identifier.
    void Make(emu::TRegisterOptions Options = {}) {
        Rig.reset();
        Rig = std::make_unique<TVirtualRig>(Options);
    }
    void ExpectRestored() { EXPECT_EQ(Rig->Register.Core.RequestedTimeout(), 150u); }
    std::unique_ptr<TVirtualRig> Rig;
};

// Decides each probe by its delay, so the search can be followed exactly.
class TDelayDecided final : public TTimeoutRun {
public:
    TDelayDecided(TTestHost& Host, std::function<bool(uint32_t)> APasses)
        : TTimeoutRun(Host), Passes(std::move(APasses)) {}
    void TestTimeout(uint32_t Delay) override {
        Probes.push_back(Delay);
        if (!Passes(Delay))
            throw ENotPassed();
    }
    std::function<bool(uint32_t)> Passes;
    std::vector<uint32_t> Probes;
};

TEST_F(RunTest, FixedSeriesEndsAtTheFirstFailureOrWithTheVerdict) {
    const TLines AllOk = {"100    мс : OK", "1000   мс : OK", "10000  мс : OK", "100000 мс : OK",
                          "Тест пройден!"};
    const struct {
        emu::TRegisterOptions Register;
        bool Detect;
        TLines Probes;
    } Cases[] = {
        // A register told 100000 ms takes the probe's overshoot.
        {{.GraceMs = 100}, false, AllOk},
        {{.GraceMs = 100}, true, AllOk},
        {{.MaxTimeout = 500}, false, {"100    мс : OK", "1000   мс : Тест не пройден!"}},
        // A failed 100 ms leaves the search nothing to try.
        {{.MaxTimeout = 50},
         true,
         {"100    мс : Тест не пройден!", Sep, "Определение максимального таймаута"}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Probes.back() + (C.Detect ? ", search" : ""));
        Make(C.Register);
        Rig->Detect = C.Detect;
        Run();
        EXPECT_EQ(Rig->Lines.Lines, Join({Head, C.Probes, Restore}));
        ExpectRestored();
        EXPECT_EQ(Rig->Creations, 1); // one driver object all through
    }
}

TEST_F(RunTest, SearchBisectsFromZeroToTheLargestPassingDelay) {
    Make();
    Rig->Detect = true;
    TDelayDecided Test(*Rig, [](uint32_t D) { return D <= 6000; });
    Run(Test);
    EXPECT_EQ(Test.Probes, (std::vector<uint32_t>{100, 1000, 10000, 5000, 7500, 6250, 5625, 5937,
                                                  6093, 6015, 5976, 5995, 6005, 6000}));
    const TLines& L = Rig->Lines.Lines;
    ASSERT_GE(L.size(), 6u);
    EXPECT_EQ(TLines(L.end() - 6, L.end() - 3),
              (TLines{"6000   мс : OK", Sep, "Максимальный таймаут: 6000 мс."}));

    Make();
    Rig->Detect = true;
    // Passes the fixed 100 and 1000 but nothing the search tries.
    TDelayDecided Failing(*Rig, [](uint32_t D) { return D == 100 || D == 1000; });
    Run(Failing);
    EXPECT_EQ(Failing.Probes, (std::vector<uint32_t>{100, 1000, 10000, 5000, 2500, 1250, 625, 312,
                                                     156, 78, 39, 19, 9}));
    EXPECT_EQ(Rig->Lines.Lines.at(Rig->Lines.Lines.size() - 4), "Максимальный таймаут: 0 мс.");
}

TEST_F(RunTest, AStopOrALostLineEndsTheSearchWithoutResult) {
    // Each strikes while the search's third probe waits (head, the fixed
    // three, separator, heading and three search probes in the log): no
    // verdict, no further probe, no result; always the restore. Only the
    // register's own answer moves a bound: a line lost here would fail every
    // later probe and close the bounds onto 0.
    const std::string Gone = "Системная ошибка. Код: 5. Ошибка ввода-вывода";
    const struct {
        std::function<void(TVirtualRig&)> Strike;
        std::string Probe;
        TLines After;
    } Cases[] = {
        {[](TVirtualRig& R) { R.Register.Unplugged = true; },
         Gone,
         {Sep, "Установка таймаута ФР 150 мс.", "Ошибка драйвера: (-7) " + Gone}},
        {[](TVirtualRig& R) { R.StopFlag = true; }, "Тест прерван", Restore},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Probe);
        Make({.MaxTimeout = 3000});
        Rig->Detect = true;
        Rig->OnMessages = [&] {
            if (Rig->Lines.Count() >= 13)
                C.Strike(*Rig);
        };
        Run();
        const TLines& L = Rig->Lines.Lines;
        ASSERT_GE(L.size(), 13u);
        EXPECT_EQ(L.at(12), "3750   мс : " + C.Probe);
        EXPECT_EQ(TLines(L.begin() + 13, L.end()), C.After);
    }
    ExpectRestored();
    // The next run starts afresh.
    Rig->OnMessages = nullptr;
    Run();
    EXPECT_EQ(Rig->Lines.Lines.at(5), "100    мс : OK");

    // Nor is a fixed delay that failed so a bound to search below.
    Make();
    Rig->Detect = true;
    TDelayDecided Test(*Rig, [](uint32_t D) {
        if (D == 10000)
            throw std::runtime_error("Нет связи");
        return true;
    });
    Run(Test);
    EXPECT_EQ(Test.Probes, (std::vector<uint32_t>{100, 1000, 10000}));
    EXPECT_EQ(Rig->Lines.Lines.at(7), "10000  мс : Нет связи");
    EXPECT_EQ(TLines(Rig->Lines.Lines.begin() + 8, Rig->Lines.Lines.end()), Restore);
}

// A register that falls silent at the probe's command (power lost, a cable
// pulled), at the run's 100000 ms: the window handles its messages at least
// once a step all through the wait for it. Unstopped, the wait ends after the
// timeout; a stop ends it within a step. The restore follows either way, once
// the register answers again.
TEST_F(RunTest, TheWindowAnswersThroughASilentRegisterAndAStopEndsTheWait) {
    const struct {
        uint32_t MuteMs;
        std::optional<uint64_t> StopAfter;
        std::string Probe;
        uint64_t Waited;
    } Cases[] = {
        {100000, std::nullopt, "Нет связи", 100000},
        {1000, 1000, "Тест прерван", 1000},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Probe);
        Make({.Fault = emu::TFault::Mute, .FaultAfterTimeoutCommand = true, .MuteMs = C.MuteMs});
        std::optional<uint64_t> Start, Last;
        uint64_t LongestGap = 0;
        Rig->OnMessages = [&] {
            const uint64_t Now = Rig->Register.Now;
            if (!Start)
                Start = Now; // before the probe, which then meets the silence
            if (Last)
                LongestGap = std::max(LongestGap, Now - *Last);
            Last = Now;
            if (C.StopAfter && Now - *Start >= *C.StopAfter)
                Rig->StopFlag = true;
        };
        Run();
        EXPECT_EQ(Rig->Lines.Lines, Join({Head, {"100    мс : " + C.Probe}, Restore}));
        EXPECT_EQ(LongestGap, WaitStepMs);
        // The last call is the one that saw the stop, or the last slice.
        ASSERT_TRUE(Start && Last);
        EXPECT_LE(*Last - *Start, C.Waited);
        EXPECT_GE(*Last - *Start, C.Waited - WaitStepMs);
        ExpectRestored();
    }
}

TEST_F(RunTest, FailedRaiseStillRestoresAndTheRestoreFailureWins) {
    // Every result code of the raise is checked.
    for (const std::string Call : {"SetExchangeParam", "Disconnect"}) {
        Make();
        Rig->Driver->Forced[Call] = {-5};
        Run();
        TLines Raise = {"Подключение к ФР", "Установка таймаута ФР 100000 мс."};
        if (Call == "Disconnect")
            Raise.push_back("Отключение от ФР");
        EXPECT_EQ(Rig->Lines.Lines, Join({Raise, Restore, {"Ошибка драйвера: (-5) Сбой " + Call}}));
        ExpectRestored();
    }

    Make();
    Rig->Driver->Forced["SetExchangeParam"] = {-5, -6};
    Run();
    EXPECT_EQ(Rig->Lines.Lines.back(), "Ошибка драйвера: (-6) Сбой SetExchangeParam");
    EXPECT_EQ(Rig->Lines.Lines.size(), 5u);
}

} // namespace
