#include "untTimeoutRun.h"
#include "untDriver.h"
#include "untRunLog.h"

#include "untClock.h"
#include "untComPort.h"
#include "untError.h"
#include "untFrames.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace {

[[noreturn]] void RaiseWrongReply(uint8_t Byte) {
    throw std::runtime_error(runlog::WrongReply(Byte));
}

} // namespace

std::string ProbeCommand() {
    return ShortStatusCommand();
}

void TTimeoutRun::Log(std::string_view Line) {
    FView.Log().Add(std::string(Line));
}

void TTimeoutRun::AddToLastLine(const std::string& S) {
    TLog& L = FView.Log();
    // The operator may have cleared the log in the middle of the run.
    if (L.Count() == 0)
        return;
    const int Last = L.Count() - 1;
    L.SetLine(Last, L.Line(Last) + S);
}

void TTimeoutRun::SetDeviceTimeout(int32_t T) {
    FComPort.Close();
    Log(runlog::SettingTimeout(T));
    FDriver.GetDriver().Put(dmTimeout, T);
    FDriver.CheckResult(FDriver.GetDriver().Get(dmSetExchangeParam).AsInt32());
    Log(runlog::Disconnecting);
    FDriver.CheckResult(FDriver.GetDriver().Get(dmDisconnect).AsInt32());
}

void TTimeoutRun::Look(uint32_t AskedMs) {
    // The unsigned 32-bit difference: the tick count's wrap does no harm.
    const uint32_t Now = FClock.GetTickCount(), Since = Now - FLastLook;
    FUnseen = std::max(FUnseen, Since - std::min(Since, AskedMs));
    FLastLook = Now;
}

void TTimeoutRun::AfterWait(uint32_t AskedMs, bool Idle) {
    Look(AskedMs);
    if (!Idle)
        return;
    FView.ProcessMessages();
    Look(0);
    if (FStopped)
        throw EStopped();
}

void TTimeoutRun::TestTimeout(uint32_t Delay) {
    // Stopped before it began ("Прервать" between two probes): nothing more
    // goes to the line.
    if (FStopped)
        throw EStopped();
    FView.ShowProgress(TRunProgress::Waiting);

    // Take the line over from the driver.
    FDriver.CheckResult(FDriver.GetDriver().Get(dmDisconnect).AsInt32());
    const int32_t Index = FDriver.GetDriver().Get(dmBaudrate).AsInt32();
    if (Index < 0 || Index >= BaudRateCount)
        throw std::runtime_error(runlog::BadBaudRateIndex(Index));
    FComPort.BaudRate = BaudRates[Index];
    FComPort.ComNumber = static_cast<uint32_t>(FDriver.GetDriver().Get(dmComNumber).AsInt32());
    FComPort.Timeout = static_cast<uint32_t>(FDriver.GetDriver().Get(dmTimeout).AsInt32());

    // The window answers while the register is waited for, which takes up to
    // the raised 100 s when it has gone silent.
    struct THookScope {
        TSerialLine& Port;
        ~THookScope() { Port.SetWaitHook(0, nullptr); }
    } Scope{FComPort};
    FComPort.SetWaitHook(WaitStepMs,
                         [this](uint32_t AskedMs, bool Idle) { AfterWait(AskedMs, Idle); });

    FComPort.Open();
    for (uint32_t Attempt = 1;; ++Attempt) {
        const uint32_t SeenAt = TakeAnswer();
        // Taken before the hold, whose writes wait on the line as well.
        const uint32_t Unseen = FUnseen;
        // How much longer than Delay the register may have held its answer.
        const uint64_t Over = uint64_t{HoldBack(Delay, SeenAt)} + Unseen;
        FView.ShowProgress(TRunProgress::Waiting);
        // The link has two replies to ENQ; any other byte is a glitch of the
        // line or a fault of the register, and no verdict.
        const uint8_t Reply = FComPort.ReadByte();
        if (Reply == NAK)
            return;
        if (Reply != ACK)
            RaiseWrongReply(Reply);
        ReadAnswer(FComPort);
        FComPort.Write(ControlByte(ACK));
        if (Over <= HoldToleranceMs)
            throw ENotPassed();
        // A refusal after a longer hold says nothing about Delay (a pass
        // does: the register held longer still), so Delay is held again.
        if (Attempt == HoldAttempts)
            throw std::runtime_error(runlog::Stretched(Over));
    }
}

// Has the register answer the probe's command. The register starts waiting
// for the ACK when the answer's last byte has left, and the hold starts when
// it has been read. Should the line have gone unwatched meanwhile (the
// operator dragged the window or held the log's scroll bar, the process was
// frozen), the answer may have come at any time then: FUnseen keeps how long.
uint32_t TTimeoutRun::TakeAnswer() {
    // Clear a pending answer: dropped unacknowledged, the command below
    // replaces it.
    const uint8_t Held = AskForHeldAnswer(FComPort).Reply;
    if (Held != ACK && Held != NAK)
        RaiseWrongReply(Held);

    FUnseen = 0;
    FLastLook = FClock.GetTickCount();
    FComPort.Write(BuildFrame(ProbeCommand()));
    const uint8_t Reply = FComPort.ReadByte();
    if (Reply != ACK)
        RaiseWrongReply(Reply);
    ReadAnswer(FComPort);
    Look(0);
    return FLastLook;
}

// Holds back the acknowledgement while the window stays responsive, then
// sends it and the ENQ that asks. They leave at the first wait step past
// Delay since Start, whoever takes that step: this loop after each sleep, or
// the window's step timer while ProcessMessages cannot return. Only the
// writes are made from there; the reply waits in the port's input until the
// loop has control again. One step decides for both, so they cannot disagree.
// Returns how long after Delay the ACK left: a step at most, unless the
// process was frozen (the system asleep without telling, a virtual machine
// paused).
uint32_t TTimeoutRun::HoldBack(uint32_t Delay, uint32_t Start) {
    bool Sent = false;
    uint32_t Late = 0;
    std::exception_ptr Failure; // from the window's step, which must not raise
    const auto Step = [&] {
        // Stopped: the line may be the driver's now.
        if (Sent || FStopped)
            return;
        if (const uint32_t Held = FClock.GetTickCount() - Start; Held <= Delay) {
            // Only once the step has decided not to send: the display never
            // holds up the ACK.
            FView.ShowProgress(TRunProgress::Holding, Held, Delay);
            return;
        }
        Sent = true;
        try {
            // What came during the hold is no reply to the ENQ.
            FComPort.PurgeInput();
            FComPort.Write(ControlByte(ACK));
            // Once it has gone: a freeze before the write held it longer.
            Late = FClock.GetTickCount() - Start - Delay;
            FComPort.Write(ControlByte(ENQ));
        } catch (...) {
            Failure = std::current_exception();
        }
    };
    struct TStepScope {
        TMainView& View;
        ~TStepScope() { View.SetStepTimer(nullptr); }
    } Scope{FView};
    FView.SetStepTimer(Step);
    for (;;) {
        FClock.Sleep(WaitStepMs);
        FView.ProcessMessages();
        // Also when the window's step sent the ACK just before: the restore
        // for a session's end or a sleep may have taken the line since.
        if (FStopped)
            throw EStopped();
        Step();
        if (Failure)
            std::rethrow_exception(Failure);
        if (Sent)
            return Late;
    }
}

TProbeOutcome TTimeoutRun::TestValue(uint32_t Delay, const TProbe& Probe) {
    Log(runlog::Probe(Delay));
    FProbeLineOpen = true;
    FView.Log().Repaint();
    FView.ProcessMessages();
    try {
        Probe(Delay);
    } catch (const ENotPassed&) {
        EndProbeLine(CurrentFailureText());
        return poNotPassed;
    } catch (...) {
        EndProbeLine(CurrentFailureText());
        return poNoVerdict;
    }
    EndProbeLine(runlog::Passed);
    return poPassed;
}

void TTimeoutRun::EndProbeLine(const std::string& S) {
    if (std::exchange(FProbeLineOpen, false))
        AddToLastLine(S);
}

void TTimeoutRun::RunFixedSeriesAndSearch(const TProbe& Probe) {
    SetDeviceTimeout(RaisedTimeout);
    Log(runlog::Separator);
    Log(runlog::FixedSeries);
    uint32_t Hi = 0; // the first fixed delay that failed
    TProbeOutcome Outcome = poPassed;
    for (const uint32_t Delay : FixedDelays) {
        Outcome = TestValue(Delay, Probe);
        if (Outcome != poPassed) {
            Hi = Delay;
            break;
        }
    }
    if (FStopped)
        return;
    if (Outcome == poPassed) {
        Log(runlog::AllPassed);
        return;
    }
    // A delay that failed without the register's verdict is no bound: the
    // search would close onto a figure below what the register may hold.
    if (Outcome == poNoVerdict)
        return;
    // Read now, so a change made while the series ran counts.
    if (!FView.Checked(ciDetectTimeout))
        return;
    Log(runlog::Separator);
    Log(runlog::Searching);
    // Below the shortest delay there is nothing the search could tell.
    if (Hi == FixedDelays[0])
        return;
    uint32_t Lo = 0;
    do {
        const uint32_t Mid = Lo + (Hi - Lo) / 2;
        const TProbeOutcome Outcome = TestValue(Mid, Probe);
        // Only the register's own answer moves a bound. A stop, a lost or
        // busy line, a wrong reply byte, a system or driver failure says
        // nothing about Mid: taken as a failure, they would close the bounds
        // onto a figure nobody measured (after a register cut mid-search, 0).
        // The search then ends without a result; the restore still runs.
        if (Outcome == poNoVerdict || FStopped)
            return;
        if (Outcome == poPassed)
            Lo = Mid;
        else
            Hi = Mid;
    } while (Hi - Lo >= SearchResolutionMs);
    Log(runlog::Separator);
    Log(runlog::Maximum(Lo));
}

void TTimeoutRun::Restore() {
    const int32_t Saved = *FSaved;
    FSaved.reset(); // once, whatever comes of it
    FView.ShowProgress(TRunProgress::Waiting);
    Log(runlog::Separator);
    SetDeviceTimeout(Saved);
}

void TTimeoutRun::StopAndRestore() noexcept {
    FStopped = true;
    if (!FSaved)
        return; // nothing raised, or restored already
    // The probe under way ends as the stop will end it, before the restore's
    // lines.
    EndProbeLine(runlog::Stopped);
    try {
        Restore();
    } catch (...) {
        FRestoreFailure = std::current_exception();
    }
}

void TTimeoutRun::RunTest() {
    RunTest([this](uint32_t Delay) { TestTimeout(Delay); });
}

void TTimeoutRun::RunTest(const TProbe& Probe) {
    // The button shows how the run ended and the operator is told, however
    // it ends. A failure shown since the last run stays until this one: the
    // operator may come back to the window long after it.
    struct TEndScope {
        TMainView& View;
        int Failing = std::uncaught_exceptions();
        ~TEndScope() {
            View.ShowProgress(std::uncaught_exceptions() > Failing ? TRunProgress::Failed
                                                                   : TRunProgress::None);
            View.Alert();
        }
    } End{FView};
    FView.ShowProgress(TRunProgress::Waiting);
    FComPort.Close();
    FStopped = false;
    FRestoreFailure = nullptr;
    const int32_t Saved = FDriver.GetDriver().Get(dmTimeout).AsInt32();
    Log(runlog::Connecting);
    FDriver.CheckResult(FDriver.GetDriver().Get(dmConnect).AsInt32());

    // The restore runs however the guarded part ends, but not from a
    // destructor: its own failure must replace the earlier one, not end the
    // program.
    FSaved = Saved;
    std::exception_ptr Failure;
    try {
        RunFixedSeriesAndSearch(Probe);
    } catch (...) {
        Failure = std::current_exception();
    }
    if (FSaved)
        Restore();
    else if (FRestoreFailure)
        std::rethrow_exception(std::exchange(FRestoreFailure, nullptr));
    if (Failure)
        std::rethrow_exception(Failure);
}
