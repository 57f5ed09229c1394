#pragma once
// Runs a TRegisterCore on a line: the master side of a new pseudo-terminal,
// or an existing serial device. The line is served by a background thread.
#include "untRegisterCore.h"

#include <atomic>
#include <csignal>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace emu {

class TPtyRegister {
public:
    // Gets each log line complete with its time of day ("12:03:04.567 <- 05 ENQ").
    using TLogSink = std::function<void(const std::string& Line)>;

    struct TDevice {
        std::string Path;
        uint32_t Baud = 9600;
    };

    // A new pseudo-terminal. A non-empty LinkPath becomes a symlink to its
    // slave (an existing symlink there is replaced) for the life of the object.
    explicit TPtyRegister(TRegisterOptions Options, std::string LinkPath = {}, TLogSink Log = {});
    // An existing serial device, raw 8N1 without flow control.
    TPtyRegister(TRegisterOptions Options, TDevice Device, std::string LinkPath = {},
                 TLogSink Log = {});
    ~TPtyRegister();
    TPtyRegister(const TPtyRegister&) = delete;
    TPtyRegister& operator=(const TPtyRegister&) = delete;

    // The slave of the pseudo-terminal, or the device path.
    std::string SlavePath() const { return FSlavePath; }
    bool IsPty() const { return FIsPty; }

    // Ends the thread, closes the line and removes the link. A host that has
    // the slave open then sees the device gone (hang-up, EIO). Rethrows a
    // failure that ended the thread earlier. Idempotent.
    void Stop();

    // Serves the line until SIGINT or SIGTERM, then stops. Returns the signal.
    // Blocks those signals in the calling thread; block them before the
    // object is made (BlockStopSignals) to leave no window in which they kill
    // the program.
    int RunUntilSignal();

private:
    void OpenPty();
    void OpenDevice(const TDevice& Device);
    void MakeLink();
    void RemoveLink() noexcept;
    void Start();
    void Run();
    void Serve();
    void WriteLog(uint64_t NowMs, const std::string& Line) const;
    void CloseAll() noexcept;

    TRegisterCore FCore; // the line thread's alone once it runs
    TLogSink FLog;
    mutable std::mutex FLogMutex; // the sink hears one line at a time
    int64_t FWallOffsetMs = 0;    // system clock minus the monotonic clock, ms

    bool FIsPty = true;
    std::string FSlavePath;
    std::string FLinkPath;
    bool FLinkMade = false;
    int FLineFd = -1;
    int FSlaveFd = -1; // kept open by the pty runner, see OpenPty
    int FWakeFd = -1;  // eventfd that tells the thread to stop

    std::thread FThread;
    std::atomic<bool> FFailed{false};
    std::exception_ptr FFailure;
    bool FStopped = false;
};

// Monotonic milliseconds, the clock the runner feeds the core with.
uint64_t MonotonicMs();

// Blocks SIGINT and SIGTERM, the signals that stop the emulator, in the
// calling thread and returns their set.
sigset_t BlockStopSignals();

} // namespace emu
