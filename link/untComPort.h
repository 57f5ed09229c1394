#pragma once
// The system's own access to the register's serial line.
#include <cstdint>
#include <functional>
#include <string>

// What the probe needs of a serial line. TComPort is the real one; tests put a
// line to an emulated register in its place.
class TSerialLine {
public:
    virtual ~TSerialLine() = default;

    // Plain values with no side effect; they take effect at the next open of a
    // closed line.
    uint32_t BaudRate = 0;  // bits per second
    uint32_t ComNumber = 0; // n of COMn
    uint32_t Timeout = 0;   // ms, see TComPort::SetTimeouts

    virtual bool IsOpen() const = 0;
    virtual void Open() = 0;
    virtual void Close() noexcept = 0;
    // Opens the line (always, even for empty data), then writes all of Data
    // or fails with "Нет связи".
    virtual void Write(const std::string& Data) = 0;
    // Reads exactly Count bytes or fails with "Нет связи", dropping what came.
    // Does not open the line; Count 0 touches nothing.
    virtual void Read(uint32_t Count, std::string& Data) = 0;
    // Discards whatever waits in the input queue of an open line.
    virtual void PurgeInput() = 0;

    uint8_t ReadByte();

    // While a hook is set, every wait for the line lasts at most SliceMs at a
    // time, and Hook hears of the end of each: AskedMs is the longest that
    // wait was to last, so the owner, measuring how long it really took, sees
    // a process frozen in it (a paused virtual machine, Ctrl+Z); Idle says
    // that nothing came and time is left, which is the owner's turn: a read
    // may wait Timeout ms (100 s during a run), and the owner's window must
    // keep answering meanwhile. When a read gives up stays as without slices;
    // bytes that came while Hook ran are taken even after that. Hook may
    // raise to end the wait; the read or write then fails with that. An
    // empty Hook ends the slicing.
    using TWaitHook = std::function<void(uint32_t AskedMs, bool Idle)>;
    void SetWaitHook(uint32_t SliceMs, TWaitHook Hook);

protected:
    // The longest single wait while a hook is set; 0 without one.
    uint32_t WaitSliceMs() const { return FWaitHook ? FSliceMs : 0; }
    // Tells the hook that a wait ended. After an idle one, a line that the
    // hook closed (the driver took it) is not touched again: that wait ends
    // in "Нет связи".
    void AfterWait(uint64_t AskedMs, bool Idle);

private:
    uint32_t FSliceMs = 0;
    TWaitHook FWaitHook;
};

// Name of the device behind COMn. On Windows "\\.\COMn". Elsewhere the link
// "comN" in the port folder (ORMANT_PORT_DIR, default ~/.ormant/dosdevices),
// whether or not that link exists; /dev/ttyS<n-1> only where there is no port
// folder at all.
std::string ComDeviceName(uint32_t ComNumber);

// Raises the system's error Code (errno, GetLastError) as EOSError, except the
// one that means "this device cannot do that" (ERROR_INVALID_FUNCTION on
// Windows, ENOTTY elsewhere), which is passed over so the caller carries on.
// The caller takes the code right after the call that failed.
void CheckOSError(uint32_t Code);

class TComPort final : public TSerialLine {
public:
    TComPort();
    ~TComPort() override;
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    bool IsOpen() const override { return FHandle != InvalidHandle; }
    void Open() override;
    void Close() noexcept override;
    void Write(const std::string& Data) override;
    void Read(uint32_t Count, std::string& Data) override;
    void PurgeInput() override;

    // The handle value of a closed port: INVALID_HANDLE_VALUE on Windows,
    // -1 as a file descriptor elsewhere.
    static constexpr intptr_t InvalidHandle = -1;

private:
    void OpenDevice(uint32_t Number);
    void SetQueueSizes();
    void SetBaudRate(uint32_t Rate);
    void SetTimeouts();
    // Closes the device and rethrows: a port whose settings did not all apply
    // must not count as open, so the next Write retries the whole Open.
    [[noreturn]] void AbandonOpen();

    intptr_t FHandle = InvalidHandle;
    // The timeout and the rate in force on the open device, for the read
    // timer and the write limit.
    uint32_t FLineTimeout = 0;
    uint32_t FLineRate = 0;
};
