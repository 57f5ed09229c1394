#pragma once
// Serving the emulated register on a line, on any system: what the command
// line asks for, and the serving loop that each system's line
// (untRegisterLine_linux.cpp, untRegisterLine_win.cpp) runs under.
#include "untReadTimer.h" // SteadyMs, the clock the runners feed the core with
#include "untRegisterCore.h"
#include "untRegisterLog.h"

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

// First thing in main: from then on only ServeUntilStopped takes the stop
// request (SIGINT and SIGTERM on Linux; Ctrl+C, Ctrl+Break and closing the
// console on Windows).
void PrepareStopRequest();

// Opens the line, calls Ready with its name ("PTY /dev/pts/3", "DEVICE COM7")
// and serves the register on it until a stop request. Raises ELineSetup
// before Ready, anything else when the line fails while it is served.
void ServeUntilStopped(const TRegisterOptions& Options, const TLineRequest& Request,
                       const TLogSink& Log, const std::function<void(const std::string&)>& Ready);

// A system's line as the serving loop uses it.
class TLinePort {
public:
    virtual ~TLinePort() = default;
    // Waits WaitMs at most (none: as long as it takes) for bytes from the
    // host, or for room to write after a short Write. Returns what came, or
    // nothing once a stop is requested.
    virtual std::optional<std::string> Read(std::optional<uint64_t> WaitMs) = 0;
    // Writes what the line takes now; returns how many bytes that was.
    virtual std::size_t Write(std::string_view Bytes) = 0;
};

// Feeds the core what comes from Port and writes its output, until a stop
// is requested.
void Serve(TRegisterCore& Core, TLinePort& Port);

} // namespace emu
