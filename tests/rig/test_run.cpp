// Whole test runs against the emulated register and the stand-in driver, in
// virtual time, checked line by line.
#include "RunLog.h"
#include "VirtualRegister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>

namespace {

// Every sentence of the run's log as it reads, and as the scripts' printf
// formats of it (bench/program-log.sh) write it.
TEST(RunLog, EachSentenceAsTheRunAndTheScriptsWriteIt) {
    std::ifstream In(ORMANT_SOURCE_DIR "/bench/program-log.sh");
    const std::string Script{std::istreambuf_iterator<char>(In), {}};
    const struct {
        std::string Line, Text, ShellName = "", Value = "", Outcome = "";
    } Cases[] = {
        {runlog::Probe(1000, runlog::Passed), "1000   мс : OK", "ProgramProbe", "1000", "OK"},
        {runlog::Probe(100000), "100000 мс : ", "ProgramProbe", "100000"},
        {runlog::Maximum(2978), "Максимальный таймаут: 2978 мс.", "ProgramMaximum", "2978"},
        {runlog::SettingTimeout(150), "Установка таймаута ФР 150 мс.", "ProgramSetTimeout", "150"},
        {runlog::Separator, "----------------------------", "ProgramSeparator"},
        {runlog::Connecting, "Подключение к ФР"},
        {runlog::Disconnecting, "Отключение от ФР", "ProgramDisconnecting"},
        {runlog::FixedSeries, "Тест фиксированных таймаутов"},
        {runlog::AllPassed, "Тест пройден!", "ProgramAllPassed"},
        {runlog::Searching, "Определение максимального таймаута", "ProgramSearching"},
        {runlog::Passed, "OK", "ProgramPassed"},
        {runlog::NotPassed, "Тест не пройден!", "ProgramNotPassed"},
        {runlog::Stopped, "Тест прерван", "ProgramStopped"},
        {runlog::Stretched(720),
         "Задержка растянулась на 720 мс сверх заданной: результат не засчитан"},
        {runlog::WrongReply(0x0A), "Принят неверный код ответа: 0x0Ah"},
        {runlog::BadBaudRateIndex(7),
         "Неверный номер скорости обмена в настройках драйвера: 7 (допустимы 0-6)"},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(C.Line, C.Text);
        if (C.ShellName.empty())
            continue;
        std::smatch Format;
        ASSERT_TRUE(
            std::regex_search(Script, Format, std::regex("\n" + C.ShellName + "='([^']*)'")))
            << C.ShellName;
        char Line[256];
        std::snprintf(Line, sizeof Line, Format[1].str().c_str(), C.Value.c_str(),
                      C.Outcome.c_str());
        EXPECT_EQ(Line, C.Text) << C.ShellName;
    }
}

// As the Start button runs it: a clean log, a failure's text as its last
// line.
const TLines& Started(TVirtualRig& Rig, TTimeoutRun& Test, const TTimeoutRun::TProbe& Probe = {}) {
    Rig.View.Lines.Clear();
    try {
        if (Probe)
            Test.RunTest(Probe);
        else
            Test.RunTest();
    } catch (const std::exception& E) {
        Rig.View.Lines.Add(E.what());
    }
    return Rig.View.Lines.Lines;
}

const TLines& Started(TVirtualRig& Rig) {
    TTimeoutRun Test = Rig.Run();
    return Started(Rig, Test);
}

uint32_t RestoredTimeout(TVirtualRig& Rig) {
    return Rig.Register.Core.RequestedTimeout();
}

// A hold's share on the taskbar at every step.
TLines Hold(uint32_t Delay) {
    TLines Steps;
    for (uint32_t Held = WaitStepMs; Held <= Delay; Held += WaitStepMs)
        Steps.push_back("hold " + std::to_string(Held) + "/" + std::to_string(Delay));
    return Steps;
}

// The taskbar follows the run: no end known through every wait but the holds,
// nothing once it has ended, an earlier run's failure gone at the start.
TEST(RunTest, FixedSeriesEndsAtTheFirstFailureOrWithTheVerdict) {
    const TLines AllOk = {Ok(100), Ok(1000), Ok(10000), Ok(100000), runlog::AllPassed};
    const struct {
        emu::TRegisterOptions Register;
        bool Detect;
        TLines Probes;
        bool StopLeft = false; // by the run before: every run starts unstopped
    } Cases[] = {
        // A register told 100000 ms takes the probe's overshoot.
        {{.GraceMs = 100}, false, AllOk},
        {{.GraceMs = 100}, true, AllOk},
        {{.MaxTimeout = 500}, false, {Ok(100), NotOk(1000)}, true},
        // A failed 100 ms leaves the search nothing to try.
        {{.MaxTimeout = 50}, true, {NotOk(100), Separator, runlog::Searching}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Probes.back() + (C.Detect ? ", search" : ""));
        TVirtualRig Rig(C.Register);
        if (C.Detect)
            Rig.View.Ticked.insert(ciDetectTimeout);
        Rig.StopFlag = C.StopLeft;
        Rig.View.Progress = {"failed"};
        EXPECT_EQ(Started(Rig), Join({Head, C.Probes, Restore}));
        if (C.StopLeft) {
            EXPECT_EQ(Rig.View.Progress,
                      Join({{"failed", "wait"}, Hold(100), {"wait"}, Hold(1000), {"wait", "none"}}));
        }
        EXPECT_EQ(RestoredTimeout(Rig), 150u);
        EXPECT_EQ(Rig.Creations, 1); // one driver object all through
    }
}

// Only the register's own answer moves a bound: anything else ends the
// search without a result, and a fixed delay that failed so is no bound to
// search below.
TEST(RunTest, SearchBisectsFromZeroToTheLargestPassingDelay) {
    const struct {
        const char* Name;
        std::function<bool(uint32_t)> Passes;
        std::vector<uint32_t> Probes;
        TLines End;
    } Cases[] = {
        {"up to 6000",
         [](uint32_t D) { return D <= 6000; },
         {100, 1000, 10000, 5000, 7500, 6250, 5625, 5937, 6093, 6015, 5976, 5995, 6005, 6000},
         {Ok(6000), Separator, runlog::Maximum(6000)}},
        {"nothing the search tries",
         [](uint32_t D) { return D == 100 || D == 1000; },
         {100, 1000, 10000, 5000, 2500, 1250, 625, 312, 156, 78, 39, 19, 9},
         {NotOk(9), Separator, runlog::Maximum(0)}},
        {"a fixed delay failed without a verdict",
         [](uint32_t D) {
             if (D == 10000)
                 throw std::runtime_error("Нет связи");
             return true;
         },
         {100, 1000, 10000},
         {runlog::Probe(10000, "Нет связи")}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TVirtualRig Rig;
        Rig.View.Ticked.insert(ciDetectTimeout);
        TTimeoutRun Test = Rig.Run();
        std::vector<uint32_t> Probes; // decided by their delay
        const TLines& L = Started(Rig, Test, [&](uint32_t Delay) {
            Probes.push_back(Delay);
            if (!C.Passes(Delay))
                throw ENotPassed();
        });
        EXPECT_EQ(Probes, C.Probes);
        const TLines End = Join({C.End, Restore});
        ASSERT_GE(L.size(), End.size());
        EXPECT_EQ(TLines(L.end() - static_cast<std::ptrdiff_t>(End.size()), L.end()), End);
    }
}

// Each strikes while the search's third probe waits: no verdict, no further
// probe, no result; always the restore. A line lost here would fail every
// later probe and close the bounds onto 0. The end of the session or a sleep
// has the register restored before the call returns, once, and a failure of
// that restore is the run's.
TEST(RunTest, AStopOrALostLineEndsTheSearchWithoutResult) {
    const std::string Gone = "Системная ошибка. Код: 5. Ошибка ввода-вывода";
    const auto RestoreNow = [](TVirtualRig& R, TTimeoutRun& T) {
        T.StopAndRestore();
        const TLines& L = R.View.Lines.Lines;
        EXPECT_EQ(std::count(L.begin(), L.end(), runlog::SettingTimeout(150)), 1);
    };
    const struct {
        std::function<void(TVirtualRig&, TTimeoutRun&)> Strike;
        std::string Probe;
        TLines After;
        uint32_t Restored;
        std::deque<int32_t> SetExchangeParam = {};
    } Cases[] = {
        {[](TVirtualRig& R, TTimeoutRun&) { R.Register.Unplugged = true; },
         Gone,
         {Separator, runlog::SettingTimeout(150), "Ошибка драйвера: (-7) " + Gone},
         100000},
        {[](TVirtualRig& R, TTimeoutRun&) { R.StopFlag = true; }, runlog::Stopped, Restore, 150},
        {RestoreNow, runlog::Stopped, Restore, 150},
        {RestoreNow,
         runlog::Stopped,
         {Separator, runlog::SettingTimeout(150), "Ошибка драйвера: (-6) Сбой SetExchangeParam"},
         100000,
         {0, -6}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.After.back());
        TVirtualRig Rig({.MaxTimeout = 3000});
        Rig.View.Ticked.insert(ciDetectTimeout);
        Rig.Driver->Forced["SetExchangeParam"] = C.SetExchangeParam;
        TTimeoutRun Test = Rig.Run();
        Rig.View.OnMessages = [&] {
            if (Rig.View.Lines.Lines.back() == runlog::Probe(3750))
                C.Strike(Rig, Test);
        };
        EXPECT_EQ(Started(Rig, Test),
                  Join({Head,
                        {Ok(100), Ok(1000), NotOk(10000), Separator, runlog::Searching, NotOk(5000),
                         Ok(2500), runlog::Probe(3750) + C.Probe},
                        C.After}));
        EXPECT_EQ(RestoredTimeout(Rig), C.Restored);
    }
}

// A register that falls silent at the probe's command (power lost, a cable
// pulled), at the run's 100000 ms: the window handles its messages at least
// once a step all through the wait, which ends after the timeout (a stop
// ends it within a step: FormDriver). The restore follows once the register
// answers again.
TEST(RunTest, TheWindowAnswersThroughASilentRegister) {
    TVirtualRig Rig(
        {.Fault = emu::TFault::Mute, .FaultAfterTimeoutCommand = true, .MuteMs = 100000});
    std::optional<uint64_t> Start, Last;
    uint64_t LongestGap = 0;
    Rig.View.OnMessages = [&] {
        const uint64_t Now = Rig.Register.Now;
        if (!Start)
            Start = Now; // before the probe, which then meets the silence
        if (Last)
            LongestGap = std::max(LongestGap, Now - *Last);
        Last = Now;
    };
    EXPECT_EQ(Started(Rig), Join({Head, {runlog::Probe(100, "Нет связи")}, Restore}));
    EXPECT_EQ(LongestGap, WaitStepMs);
    ASSERT_TRUE(Start && Last);
    EXPECT_LE(*Last - *Start, 100000u);
    EXPECT_GE(*Last - *Start, 100000u - WaitStepMs);
    EXPECT_EQ(RestoredTimeout(Rig), 150u);
}

// Every result code of the connect and of the raise is checked; the restore
// runs after a failed raise, and its own failure is the one shown.
TEST(RunTest, FailedRaiseStillRestoresAndTheRestoreFailureWins) {
    const TLines Raise = {runlog::Connecting, runlog::SettingTimeout(100000)};
    const struct {
        std::string Call;
        std::deque<int32_t> Codes;
        TLines Log;
    } Cases[] = {
        {"Connect", {-5}, {runlog::Connecting, "Ошибка драйвера: (-5) Сбой Connect"}},
        {"SetExchangeParam",
         {-5},
         Join({Raise, Restore, {"Ошибка драйвера: (-5) Сбой SetExchangeParam"}})},
        {"Disconnect",
         {-5},
         Join({Raise, {"Отключение от ФР"}, Restore, {"Ошибка драйвера: (-5) Сбой Disconnect"}})},
        {"SetExchangeParam",
         {-5, -6},
         Join({Raise,
               {Separator, runlog::SettingTimeout(150),
                "Ошибка драйвера: (-6) Сбой SetExchangeParam"}})},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Log.back());
        TVirtualRig Rig;
        Rig.Driver->Forced[C.Call] = C.Codes;
        EXPECT_EQ(Started(Rig), C.Log);
        EXPECT_EQ(Rig.View.Progress.back(), "failed"); // on the taskbar, and told once
        EXPECT_EQ(Rig.View.Alerts, 1);
    }
}

} // namespace
