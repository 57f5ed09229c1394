#pragma once
// The timeout test: one probe of one delay, and the whole run with the fixed
// delays, the search for the largest tolerated delay and the restore of the
// register's timeout.
#include "untProtocol.h"
#include "untTestHost.h"

#include <cstdint>
#include <string>

// The register's timeout for the whole run.
inline constexpr int32_t RaisedTimeout = 100000;
// The probe's wait step.
inline constexpr uint32_t WaitStepMs = 20;

// Data of the command the probe has the register answer.
std::string ProbeCommand();

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
    // Logs and runs one probe; true when it passed. Never raises for a failed
    // probe: its text ends the delay's line.
    bool TestValue(uint32_t Delay);
    void AddToLastLine(const std::string& S);

private:
    void RunFixedSeriesAndSearch();
    void Log(const std::string& Line);

    TTestHost& FHost;
};
