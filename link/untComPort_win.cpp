// The serial port through the Win32 communications API.
#include "untComPort.h"
#include "untDcb_win.h"
#include "untError.h"
#include "untReadTimer.h"
#include "untWinText.h"

#include <algorithm>

namespace {

HANDLE AsHandle(intptr_t Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

// The system's description, or a stand-in that still names the code.
std::string ErrorText(DWORD Code) {
    std::string Text = SystemErrorText(Code);
    return Text.empty() ? "Нет описания ошибки " + std::to_string(Code) : Text;
}

void SetLineTimeouts(intptr_t Handle, uint64_t Wait) {
    COMMTIMEOUTS Timeouts = LineTimeouts(Wait);
    if (SetCommTimeouts(AsHandle(Handle), &Timeouts))
        return;
    const DWORD Code = GetLastError();
    CheckOSError(Code);
    // A driver that has no timeouts to set keeps its own. Unknown ones, or
    // ones under which a read or a write may wait for ever, would hold the
    // window and Stop with it for as long as the register stays silent.
    COMMTIMEOUTS T{};
    if (!GetCommTimeouts(AsHandle(Handle), &T) ||
        WaitsWithoutBound({T.ReadIntervalTimeout, T.ReadTotalTimeoutMultiplier,
                           T.ReadTotalTimeoutConstant, T.WriteTotalTimeoutMultiplier,
                           T.WriteTotalTimeoutConstant}))
        throw EOSError(Code, "Драйвер порта не принимает таймауты обмена",
                       "SetCommTimeouts: " + ErrorText(Code));
}

} // namespace

std::string ComDeviceName(uint32_t ComNumber) {
    // The "\\.\" form is the only one that reaches COM10 and above.
    return "\\\\.\\COM" + std::to_string(ComNumber);
}

void CheckOSError(uint32_t Code) {
    if (Code != ERROR_INVALID_FUNCTION)
        throw EOSError(Code, ErrorText(Code));
}

void TComPort::OpenDevice(uint32_t Number) {
    const std::string Name = ComDeviceName(Number);
    // Share mode 0: no other program may hold the line meanwhile.
    const HANDLE Handle = CreateFileA(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    FHandle = reinterpret_cast<intptr_t>(Handle);
    if (Handle != INVALID_HANDLE_VALUE)
        return;
    const DWORD Code = GetLastError();
    const std::string Detail = Name + ": " + ErrorText(Code) + " (" + std::to_string(Code) + ")";
    if (OpenFailureCode(Code) == pePortBusy)
        RaiseDriverError(pePortBusy, LoadResString(rsPortBusy), Detail);
    RaiseDriverError(pePortNotAvailable, LoadResString(rsPortNotAvailable), Detail);
}

void TComPort::SetQueueSizes() {
    // Room for a few of the longest frames (258 bytes) each way, so that an
    // answer never waits on the queue; a recommendation the driver may round.
    if (!SetupComm(AsHandle(FHandle), 1024, 1024))
        CheckOSError(GetLastError());
}

void TComPort::SetBaudRate(uint32_t Rate) {
    // The register drives neither the handshake lines nor XON/XOFF; DTR and
    // RTS stay low, as everything not set here.
    DCB Dcb{};
    MakeRawLine(Dcb, Rate);
    if (!SetCommState(AsHandle(FHandle), &Dcb))
        CheckOSError(GetLastError());
}

void TComPort::SetTimeouts() {
    FLineTimeout = Timeout;
    FLineRate = BaudRate;
    SetLineTimeouts(FHandle, Timeout);
}

void TComPort::Close() noexcept {
    if (!IsOpen())
        return;
    CloseHandle(AsHandle(FHandle));
    FHandle = InvalidHandle;
}

void TComPort::Write(const std::string& Data) {
    Open();
    if (Data.empty())
        return;
    // Within the write limit in all, and in slices while a hook is set: a
    // WriteFile that reaches its timeout returns with what the line took,
    // and the rest goes in the next.
    const uint64_t Deadline = SteadyMs() + WriteLimitMs(Data.size(), FLineRate);
    const auto Left = [Deadline] { return Deadline - std::min(Deadline, SteadyMs()); };
    TSlicedWait Wait(WaitSliceMs());
    DWORD Done = 0;
    while (Done < Data.size()) {
        const auto Asked = Wait.Next(Left());
        if (!Asked)
            break;
        SetLineTimeouts(FHandle, *Asked);
        DWORD Written = 0;
        const BOOL Ok = WriteFile(AsHandle(FHandle), Data.data() + Done,
                                  static_cast<DWORD>(Data.size() - Done), &Written, nullptr);
        Done += Written;
        if (!Ok) {
            CheckOSError(GetLastError());
            break; // passed over: the count decides
        }
        AfterWait(*Asked, Wait.Ended(Written > 0, Left()));
    }
    if (Done != Data.size())
        RaiseNoLink();
}

void TComPort::Read(uint32_t Count, std::string& Data) {
    Data.clear();
    if (Count == 0)
        return;
    // Read never opens the port; a closed one's handle value is also the
    // current process's pseudo-handle, which no call may get for a port.
    if (!IsOpen())
        CheckOSError(ERROR_INVALID_HANDLE);
    std::string Buffer(Count, '\0');
    TReadTimer Timer(FLineTimeout, Count, SteadyMs());
    TSlicedWait Wait(WaitSliceMs());
    DWORD Done = 0;
    while (Done < Count) {
        const auto Asked = Wait.Next(Timer.WaitLeft(SteadyMs()));
        if (!Asked)
            break;
        SetLineTimeouts(FHandle, *Asked);
        DWORD Got = 0;
        if (!ReadFile(AsHandle(FHandle), Buffer.data() + Done, Count - Done, &Got, nullptr)) {
            CheckOSError(GetLastError());
            break; // passed over: nothing more will come
        }
        if (Got > 0) {
            Done += Got;
            Timer.Received(SteadyMs());
        }
        AfterWait(*Asked, Wait.Ended(Got > 0, Timer.WaitLeft(SteadyMs())));
    }
    if (Done != Count)
        RaiseNoLink();
    Data = std::move(Buffer);
}

void TComPort::PurgeInput() {
    if (!IsOpen())
        return;
    if (!PurgeComm(AsHandle(FHandle), PURGE_RXCLEAR))
        CheckOSError(GetLastError());
}
