#pragma once
// The timeout test: one probe of one delay, and the whole run with the fixed
// delays, the search for the largest tolerated delay and the restore of the
// register's timeout.
#include "untDriver.h"
#include "untMainView.h"
#include "untProtocol.h"
#include "untRunLog.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

// The delays every run probes, in this order, each ten times the one before:
// from well inside any register's exchange timeout to longer than a
// technician waits. The first that fails is the upper bound of the search.
inline constexpr uint32_t FixedDelays[] = {100, 1000, 10000, 100000};
// The register's exchange timeout for the whole run, put back at its end. It
// covers the longest fixed delay, so that a failed probe shows the register's
// own limit, never the timeout the run set.
inline constexpr int32_t RaisedTimeout = 100000;
static_assert(RaisedTimeout > 0 &&
                  static_cast<uint32_t>(RaisedTimeout) >= std::end(FixedDelays)[-1],
              "the raised timeout must cover the longest fixed delay");
// The probe's wait step: the window answers and a stop is seen within it,
// through the hold and through every wait for the register's bytes, and the
// held-back ACK leaves within it past its delay, while a probe of 100 s still
// costs next to no processor time.
inline constexpr uint32_t WaitStepMs = 20;
// How much longer than its delay a hold may have been and its refusal still
// count as that delay's: the step's own 20 ms and as much again for the
// system's scheduling. Beyond it (the window kept away in a modal loop of the
// system while the answer came, the process frozen at any moment from the
// command to the ACK) the refusal may be the stretch's, and the delay is held
// again.
inline constexpr uint32_t HoldToleranceMs = 2 * WaitStepMs;
// How often a delay is held in all before a system that stretches every hold
// (a timer that keeps no 20 ms, a starved process) ends the probe without a
// verdict, rather than hold the run for ever.
inline constexpr uint32_t HoldAttempts = 3;
// The search ends when its bounds are closer than this. The ACK leaves at the
// first wait step past its delay, so delays closer than half a step apart
// would be told apart by chance.
inline constexpr uint32_t SearchResolutionMs = 10;

// Data of the command the probe has the register answer.
std::string ProbeCommand();

// The register still held its answer after the late ACK: the probe's verdict
// on its delay. Every other failure of a probe says nothing about the delay.
class ENotPassed : public std::runtime_error {
public:
    ENotPassed() : std::runtime_error(runlog::NotPassed) {}
};

// The operator ended the probe (Stop, closing the window, the end of the
// session, a suspend, the driver's dialog): no verdict on its delay.
class EStopped : public std::runtime_error {
public:
    EStopped() : std::runtime_error(runlog::Stopped) {}
};

// How a probe ended, as TestValue tells it.
enum TProbeOutcome {
    poPassed,    // the register let go of its answer
    poNotPassed, // the register kept it (ENotPassed)
    poNoVerdict, // anything else: a stop, the line, the driver, a wrong reply
};

class TSerialLine;
class TClock;

// The probe and the run, working on what the window owns and outlives them
// with: its view, port, driver and stop flag.
class TTimeoutRun {
public:
    TTimeoutRun(TMainView& View, TSerialLine& ComPort, TDriverHolder& Driver, bool& Stopped,
                TClock& Clock)
        : FView(View), FComPort(ComPort), FDriver(Driver), FStopped(Stopped), FClock(Clock) {}

    // Connects the driver, raises the register's timeout, probes the fixed
    // delays, searches on request, and restores the timeout however the part
    // after connecting ends.
    void RunTest();
    // The same with each delay tried by Probe, which returns when the
    // register let go of its answer and raises as TestTimeout does if not.
    using TProbe = std::function<void(uint32_t Delay)>;
    void RunTest(const TProbe& Probe);
    // Stops the run under way and restores the register's timeout before it
    // returns, rather than once the run has unwound: the session ends or the
    // system goes to sleep, and may end or freeze the program as soon as
    // the window has handled that. The log is as a stop would leave it, and
    // the run does not restore again; a failure of the restore is the run's
    // to raise.
    void StopAndRestore() noexcept;
    // One probe: returns when the register let go of its answer after Delay
    // ms without acknowledgement; raises with the text the log shows if not.
    void TestTimeout(uint32_t Delay);

private:
    void SetDeviceTimeout(int32_t T);
    // The closing part: the separator and the saved timeout, once a run.
    void Restore();
    // Logs and runs one probe. Never raises for a failed probe: its text ends
    // the delay's line.
    TProbeOutcome TestValue(uint32_t Delay, const TProbe& Probe);
    // Ends the probe's line with S, unless a restore has ended it already.
    void EndProbeLine(const std::string& S);
    void AddToLastLine(const std::string& S);
    // Returns when the answer was seen.
    uint32_t TakeAnswer();
    uint32_t HoldBack(uint32_t Delay, uint32_t Start);
    // The line's hook: every wait measured, the window's turn between slices.
    void AfterWait(uint32_t AskedMs, bool Idle);
    void Look(uint32_t AskedMs);
    void RunFixedSeriesAndSearch(const TProbe& Probe);
    void Log(std::string_view Line);

    TMainView& FView;
    TSerialLine& FComPort;
    TDriverHolder& FDriver;
    bool& FStopped;
    TClock& FClock;
    // From the probe's command to its answer: the longest time in which the
    // line was not looked at (the window's turn, a process frozen in a wait
    // or between two), and when it last was. The answer's bytes that came
    // meanwhile came at an unknown time.
    uint32_t FUnseen = 0;
    uint32_t FLastLook = 0;
    // The timeout to restore, from the raise until the restore has run.
    std::optional<int32_t> FSaved;
    std::exception_ptr FRestoreFailure;
    bool FProbeLineOpen = false;
};
