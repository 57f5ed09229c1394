#include "untTimeoutRun.h"
#include "untDriver.h"

#include "untClock.h"
#include "untComPort.h"
#include "untFrames.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace {

const std::string Separator = "----------------------------";

[[noreturn]] void RaiseWrongReply(uint8_t Byte) {
    char Text[64];
    std::snprintf(Text, sizeof Text, "Принят неверный код ответа: 0x%.2Xh", Byte);
    throw std::runtime_error(Text);
}

} // namespace

std::string ProbeCommand() {
    return ShortStatusCommand();
}

void TTimeoutRun::Log(const std::string& Line) {
    FHost.Log().Add(Line);
}

void TTimeoutRun::AddToLastLine(const std::string& S) {
    TLog& L = FHost.Log();
    // The operator may have cleared the log in the middle of the run.
    if (L.Count() == 0)
        return;
    const int Last = L.Count() - 1;
    L.SetLine(Last, L.Line(Last) + S);
}

void TTimeoutRun::SetDeviceTimeout(int32_t T) {
    FHost.ComPort().Close();
    Log("Установка таймаута ФР " + std::to_string(T) + " мс.");
    FHost.GetDriver().Put(dmTimeout, T);
    FHost.CheckResult(FHost.GetDriver().Get(dmSetExchangeParam).AsInt32());
    Log("Отключение от ФР");
    FHost.CheckResult(FHost.GetDriver().Get(dmDisconnect).AsInt32());
}

void TTimeoutRun::BetweenSlices() {
    TClock& Clock = FHost.Clock();
    const uint32_t Before = Clock.GetTickCount();
    FHost.ProcessMessages();
    if (FHost.Stopped())
        throw EStopped();
    FAnswerSlack = std::max(FAnswerSlack, Clock.GetTickCount() - Before);
}

void TTimeoutRun::TestTimeout(uint32_t Delay) {
    // Stopped before it began ("Драйвер..." or Stop between two probes):
    // nothing more goes to the line.
    if (FHost.Stopped())
        throw EStopped();
    TSerialLine& Port = FHost.ComPort();

    // Take the line over from the driver.
    FHost.CheckResult(FHost.GetDriver().Get(dmDisconnect).AsInt32());
    const int32_t Index = FHost.GetDriver().Get(dmBaudrate).AsInt32();
    if (Index < 0 || Index >= BaudRateCount)
        throw std::runtime_error("Неверный номер скорости обмена в настройках драйвера: " +
                                 std::to_string(Index) + " (допустимы 0-6)");
    Port.BaudRate = BaudRates[Index];
    Port.ComNumber = static_cast<uint32_t>(FHost.GetDriver().Get(dmComNumber).AsInt32());
    Port.Timeout = static_cast<uint32_t>(FHost.GetDriver().Get(dmTimeout).AsInt32());

    // The window answers while the register is waited for, which takes up to
    // the raised 100 s when it has gone silent.
    struct THookScope {
        TSerialLine& Port;
        ~THookScope() { Port.SetWaitHook(0, nullptr); }
    } Scope{Port};
    Port.SetWaitHook(WaitStepMs, [this] { BetweenSlices(); });

    Port.Open();
    for (uint32_t Attempt = 1;; ++Attempt) {
        TakeAnswer(Port);
        // How much longer than Delay the register may have held its answer.
        const uint64_t Over = uint64_t{HoldBack(Port, Delay)} + FAnswerSlack;
        if (Port.ReadByte() != ACK)
            return;
        ReadAnswer(Port);
        Port.Write(ControlByte(ACK));
        if (Over <= HoldToleranceMs)
            throw ENotPassed();
        // A refusal after a longer hold says nothing about Delay (a pass
        // does: the register held longer still), so Delay is held again.
        if (Attempt == HoldAttempts)
            throw std::runtime_error("Задержка растянулась на " + std::to_string(Over) +
                                     " мс сверх заданной: результат не засчитан");
    }
}

// Has the register answer the probe's command. The register starts waiting
// for the ACK when the answer's last byte has left, and the hold starts when
// it has come. Should the window have been away meanwhile (the operator
// dragged it, or held the log's scroll bar), the answer may have come at any
// time then: FAnswerSlack keeps how long.
void TTimeoutRun::TakeAnswer(TSerialLine& Port) {
    // Clear a pending answer: dropped unacknowledged, the command below
    // replaces it.
    const uint8_t Held = AskForHeldAnswer(Port).Reply;
    if (Held != ACK && Held != NAK)
        RaiseWrongReply(Held);

    FAnswerSlack = 0;
    Port.Write(BuildFrame(ProbeCommand()));
    const uint8_t Reply = Port.ReadByte();
    if (Reply != ACK)
        RaiseWrongReply(Reply);
    ReadAnswer(Port);
}

// Holds back the acknowledgement while the window stays responsive, then
// sends it and the ENQ that asks. They leave at the first wait step past
// Delay, whoever takes that step: this loop after each sleep, or the window's
// step timer while the system runs a modal loop of its own (a scroll bar
// held, the caption dragged, the system menu open), from which
// ProcessMessages returns only when the operator lets go. Only the two writes
// are made from there; the reply waits in the port's input until the loop has
// control again. One step decides for both, so they cannot disagree.
// Returns how long after Delay that step came: a step at most, unless the
// process was frozen (the system asleep without telling, a virtual machine
// paused).
uint32_t TTimeoutRun::HoldBack(TSerialLine& Port, uint32_t Delay) {
    TClock& Clock = FHost.Clock();
    const uint32_t Start = Clock.GetTickCount();
    bool Sent = false;
    uint32_t Late = 0;
    std::exception_ptr Failure; // from the window's step, which must not raise
    const auto Step = [&] {
        // The unsigned 32-bit difference: the tick count's wrap does no harm.
        const uint32_t Held = Clock.GetTickCount() - Start;
        // Stopped: the line may be the driver's now.
        if (Sent || FHost.Stopped() || Held <= Delay)
            return;
        Sent = true;
        Late = Held - Delay;
        try {
            Port.Write(ControlByte(ACK));
            Port.Write(ControlByte(ENQ));
        } catch (...) {
            Failure = std::current_exception();
        }
    };
    struct TStepScope {
        TTestHost& Host;
        ~TStepScope() { Host.SetWaitStep(nullptr); }
    } Scope{FHost};
    FHost.SetWaitStep(Step);
    for (;;) {
        Clock.Sleep(WaitStepMs);
        FHost.ProcessMessages();
        // Also when the window's step sent the ACK just before: "Драйвер..."
        // may have taken the line since.
        if (FHost.Stopped())
            throw EStopped();
        Step();
        if (Failure)
            std::rethrow_exception(Failure);
        if (Sent)
            return Late;
    }
}

TProbeOutcome TTimeoutRun::TestValue(uint32_t Delay) {
    char Line[32];
    std::snprintf(Line, sizeof Line, "%-6u мс : ", Delay);
    Log(Line);
    FHost.Log().Repaint();
    FHost.ProcessMessages();
    try {
        TestTimeout(Delay);
    } catch (const ENotPassed&) {
        AddToLastLine(FHost.TakeFailure());
        return poNotPassed;
    } catch (...) {
        AddToLastLine(FHost.TakeFailure());
        return poNoVerdict;
    }
    AddToLastLine("OK");
    return poPassed;
}

void TTimeoutRun::RunFixedSeriesAndSearch() {
    SetDeviceTimeout(RaisedTimeout);
    Log(Separator);
    Log("Тест фиксированных таймаутов");
    uint32_t Hi = 0; // the first fixed delay that failed
    TProbeOutcome Outcome = poPassed;
    for (const uint32_t Delay : FixedDelays) {
        Outcome = TestValue(Delay);
        if (Outcome != poPassed) {
            Hi = Delay;
            break;
        }
    }
    if (FHost.Stopped())
        return;
    if (Outcome == poPassed) {
        Log("Тест пройден!");
        return;
    }
    // A delay that failed without the register's verdict is no bound: the
    // search would close onto a figure below what the register may hold.
    if (Outcome == poNoVerdict)
        return;
    // Read now, so a change made while the series ran counts.
    if (!FHost.DetectTimeout())
        return;
    Log(Separator);
    Log("Определение максимального таймаута");
    // Below the shortest delay there is nothing the search could tell.
    if (Hi == FixedDelays[0])
        return;
    uint32_t Lo = 0;
    do {
        const uint32_t Mid = Lo + (Hi - Lo) / 2;
        const TProbeOutcome Outcome = TestValue(Mid);
        // Only the register's own answer moves a bound. A stop, a lost or
        // busy line, a wrong reply byte, a system or driver failure says
        // nothing about Mid: taken as a failure, they would close the bounds
        // onto a figure nobody measured (after a register cut mid-search, 0).
        // The search then ends without a result; the restore still runs.
        if (Outcome == poNoVerdict || FHost.Stopped())
            return;
        if (Outcome == poPassed)
            Lo = Mid;
        else
            Hi = Mid;
    } while (Hi - Lo >= SearchResolutionMs);
    Log(Separator);
    Log("Максимальный таймаут: " + std::to_string(Lo) + " мс.");
}

void TTimeoutRun::RunTest() {
    FHost.ComPort().Close();
    FHost.SetStopped(false);
    const int32_t Saved = FHost.GetDriver().Get(dmTimeout).AsInt32();
    Log("Подключение к ФР");
    FHost.CheckResult(FHost.GetDriver().Get(dmConnect).AsInt32());

    // The restore runs however the guarded part ends, but not from a
    // destructor: its own failure must replace the earlier one, not end the
    // program.
    std::exception_ptr Failure;
    try {
        RunFixedSeriesAndSearch();
    } catch (...) {
        Failure = std::current_exception();
    }
    Log(Separator);
    SetDeviceTimeout(Saved);
    if (Failure)
        std::rethrow_exception(Failure);
}
