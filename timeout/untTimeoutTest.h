#pragma once
// The timeout test: one probe of one delay, and the whole run with the fixed
// delays, the search for the largest tolerated delay and the restore of the
// register's timeout.
#include "untProtocol.h"
#include "untTestHost.h"

#include <cstdint>
#include <stdexcept>
#include <string>

// The register's timeout for the whole run.
inline constexpr int32_t RaisedTimeout = 100000;
// The probe's wait step.
inline constexpr uint32_t WaitStepMs = 20;

// Data of the command the probe has the register answer.
std::string ProbeCommand();

// The register still held its answer after the late ACK: the probe's verdict
// on its delay. Every other failure of a probe says nothing about the delay.
class ENotPassed : public std::runtime_error {
public:
    ENotPassed() : std::runtime_error("Тест не пройден!") {}
};

// How a probe ended, as TestValue tells it.
enum TProbeOutcome {
    poPassed,    // the register let go of its answer
    poNotPassed, // the register kept it (ENotPassed)
    poNoVerdict, // anything else: a stop, the line, the driver, a wrong reply
};

class TTimeoutTest {
public:
    explicit TTimeoutTest(TTestHost& Host) : FHost(Host) {}
    virtual ~TTimeoutTest() = default;

    // Connects the driver, raises the register's timeout, probes the fixed
    // delays, searches on request, and restores the timeout however the part
    // after connecting ends.
    void RunTest();
    // One probe: returns when the register let go of its answer after Delay
    // ms without acknowledgement; raises with the text the log shows if not.
    virtual void TestTimeout(uint32_t Delay);
    void SetDeviceTimeout(int32_t T);
    // Logs and runs one probe. Never raises for a failed probe: its text ends
    // the delay's line.
    TProbeOutcome TestValue(uint32_t Delay);
    void AddToLastLine(const std::string& S);

private:
    void HoldBack(TSerialLine& Port, uint32_t Delay);
    void RunFixedSeriesAndSearch();
    void Log(const std::string& Line);

    TTestHost& FHost;
};
