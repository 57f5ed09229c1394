#pragma once
// Serving the emulated register on a line, on any system: what the command
// line asks for, and what each system's runner (untRegisterLine_posix.cpp,
// untRegisterLine_win.cpp) shares.
#include "untReadTimer.h" // SteadyMs, the clock the runners feed the core with
#include "untRegisterCore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace emu {

struct TLineRequest {
    std::string Link;                  // a symlink to the line (Linux only)
    std::optional<std::string> Device; // a serial device instead of a new pseudo-terminal
    uint32_t Baud = 9600;              // of the device
};

// The line could not be made ready: no such port, one that is not serial or
// is held by another program, a rate it cannot take. The command line's
// fault, as a bad option is.
class ELineSetup : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Gets each log line complete with its time of day ("12:03:04.567 <- 05 ENQ").
using TLogSink = std::function<void(const std::string& Line)>;

// First thing in main, before any thread starts: from then on only
// ServeUntilStopped takes the stop request (SIGINT and SIGTERM on Linux;
// Ctrl+C, Ctrl+Break and closing the console on Windows).
void PrepareStopRequest();

// Opens the line, calls Ready with its name ("PTY /dev/pts/3", "DEVICE COM7")
// and serves the register on it until a stop request. Raises ELineSetup
// before Ready, anything else when the line fails while it is served.
void ServeUntilStopped(const TRegisterOptions& Options, const TLineRequest& Request,
                       const TLogSink& Log, const std::function<void(const std::string&)>& Ready);

// Stamps the core's log lines with the time of day.
class TLineLog {
public:
    explicit TLineLog(TLogSink Sink);
    void operator()(uint64_t NowMs, const std::string& Line) const;

private:
    TLogSink FSink;
    int64_t FWallOffsetMs; // system clock minus the monotonic clock, ms
};

// The first line of the log: the line and how the register is set up.
std::string StartLine(const std::string& Line, const TRegisterCore& Core);

// The core's output on its way to the line: with a gap between bytes, one
// byte at each due time. The schedule follows the core's, not the moment a
// write happened, so both agree on when the last byte left.
class TOutputSchedule {
public:
    explicit TOutputSchedule(uint32_t GapMs) : FGap(GapMs) {}
    // Out from a Receive whose first byte is due at Start.
    void Add(const std::string& Out, uint64_t Start);
    // What may be written at NowMs (empty: nothing yet).
    std::string_view Due(uint64_t NowMs) const;
    // Count bytes of Due went out.
    void Sent(std::size_t Count);
    // When the next byte is due, if one waits.
    std::optional<uint64_t> NextDue() const;

private:
    uint32_t FGap;
    std::string FPending;
    uint64_t FNextDue = 0;
};

} // namespace emu
