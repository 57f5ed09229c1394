// The serial port through the Win32 communications API.
#include "untComPort.h"
#include "untComPort_win_seam.h"
#include "untError.h"
#include "untWinText.h"

TCreateFileA ComPortCreateFile = ::CreateFileA;

namespace {

HANDLE AsHandle(intptr_t Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

// The system's description, or a stand-in that still names the code.
std::string ErrorText(DWORD Code) {
    std::string Text = SystemErrorText(Code);
    return Text.empty() ? "Нет описания ошибки " + std::to_string(Code) : Text;
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
    const HANDLE Handle = ComPortCreateFile(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
    FHandle = reinterpret_cast<intptr_t>(Handle);
    if (Handle != INVALID_HANDLE_VALUE)
        return;
    const DWORD Code = GetLastError();
    const std::string Detail = Name + ": " + ErrorText(Code) + " (" + std::to_string(Code) + ")";
    if (Code == ERROR_ACCESS_DENIED)
        RaiseDriverError(pePortBusy, LoadResString(rsPortBusy), Detail);
    RaiseDriverError(pePortNotAvailable, LoadResString(rsPortNotAvailable), Detail);
}

void TComPort::SetQueueSizes() {
    if (!SetupComm(AsHandle(FHandle), 1024, 1024))
        CheckOSError(GetLastError());
}

void TComPort::SetBaudRate(uint32_t Rate) {
    // Raw eight-bit bytes, no parity, one stop bit and no flow control of any
    // kind: the register drives neither the handshake lines nor XON/XOFF.
    DCB Dcb{};
    Dcb.DCBlength = sizeof(DCB);
    Dcb.BaudRate = Rate;
    Dcb.fBinary = TRUE;
    Dcb.ByteSize = 8;
    Dcb.Parity = NOPARITY;
    Dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(AsHandle(FHandle), &Dcb))
        CheckOSError(GetLastError());
}

void TComPort::SetTimeouts() {
    // Timeout bounds the gap between bytes and, per byte, the whole read; the
    // constant 1 ms keeps a read of nothing from returning at once.
    COMMTIMEOUTS Timeouts{};
    Timeouts.ReadIntervalTimeout = Timeout;
    Timeouts.ReadTotalTimeoutMultiplier = Timeout;
    Timeouts.ReadTotalTimeoutConstant = 1;
    Timeouts.WriteTotalTimeoutMultiplier = Timeout;
    Timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(AsHandle(FHandle), &Timeouts))
        CheckOSError(GetLastError());
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
    DWORD Written = 0;
    if (!WriteFile(AsHandle(FHandle), Data.data(), static_cast<DWORD>(Data.size()), &Written,
                   nullptr))
        CheckOSError(GetLastError());
    if (Written != Data.size())
        RaiseNoLink();
}

void TComPort::Read(uint32_t Count, std::string& Data) {
    Data.clear();
    if (Count == 0)
        return;
    std::string Buffer(Count, '\0');
    DWORD Got = 0;
    if (!ReadFile(AsHandle(FHandle), Buffer.data(), Count, &Got, nullptr))
        CheckOSError(GetLastError());
    if (Got != Count)
        RaiseNoLink();
    Data = std::move(Buffer);
}

void TComPort::PurgeInput() {
    if (!IsOpen())
        return;
    if (!PurgeComm(AsHandle(FHandle), PURGE_RXCLEAR))
        CheckOSError(GetLastError());
}
