#pragma once
// What the timeout test needs of the window that runs it: the line, the
// driver, the stop flag, the log, the check box and message processing.
#include "untAutomation.h"

#include <cstdint>
#include <functional>
#include <string>

class TSerialLine;
class TClock;

// The log: one entry a line.
class TLog {
public:
    virtual ~TLog() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& Line) = 0;
    virtual int Count() const = 0;
    virtual std::string Line(int Index) const = 0;
    virtual void SetLine(int Index, const std::string& Line) = 0;
    virtual void Repaint() = 0;
};

class TTestHost {
public:
    virtual ~TTestHost() = default;
    virtual TSerialLine& ComPort() = 0;
    virtual TAutoObject GetDriver() = 0;
    virtual void CheckResult(int32_t Code) = 0;
    virtual bool Stopped() const = 0;
    virtual void SetStopped(bool Value) = 0;
    virtual TLog& Log() = 0;
    // Lets the window handle what is pending (Stop, Clear, Driver..., close).
    virtual void ProcessMessages() = 0;
    // While a probe holds back its acknowledgement: the window calls Step
    // about every wait step while it handles messages, also from the system's
    // own modal loops (a scroll bar held, the caption dragged, the system
    // menu open, the driver's dialog), in which ProcessMessages does not
    // return. nullptr ends it. Step never raises.
    virtual void SetWaitStep(std::function<void()> Step) = 0;
    // Whether "Определять максимальный таймаут" is ticked now.
    virtual bool DetectTimeout() const = 0;
    virtual TClock& Clock() = 0;
    // The text of the failure being handled, for the log, inside a catch
    // block; the window may tell the rest of it elsewhere.
    virtual std::string TakeFailure() = 0;
};
