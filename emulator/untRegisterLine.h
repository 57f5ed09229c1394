#pragma once
// Serving the emulated register on a line: what the command line asks of a
// system, and the serving loop both systems' lines run under.
#include "untReadTimer.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace emu {

struct TLineRequest {
    std::string Link;                  // a symlink to the line (Linux only)
    std::optional<std::string> Device; // instead of a new pseudo-terminal
    uint32_t Baud = 9600;              // of the device
};

// A line that cannot be made ready: the command line's fault, as a bad option is.
class ELineSetup : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// First thing in main: from then on only ServeUntilStopped takes the stop
// request (SIGINT, SIGTERM; on Windows Ctrl+C, Ctrl+Break, closing the console).
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

    std::string Name; // "PTY /dev/pts/3", "DEVICE COM7"
};

// The system's line as Request asks; raises ELineSetup if it cannot be made ready.
std::unique_ptr<TLinePort> OpenLine(const TLineRequest& Request, const TLineLog& Log);

} // namespace emu
