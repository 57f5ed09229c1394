// The serial port through the Win32 communications API.
#include "untComPort.h"
#include "untComPort_win_seam.h"
#include "untError.h"

TCreateFileA ComPortCreateFile = ::CreateFileA;

namespace {

HANDLE AsHandle(intptr_t Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

std::string WideToUtf8(const wchar_t* Text, int Length) {
    if (Length <= 0)
        return {};
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
    std::string Result(Size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text, Length, Result.data(), Size, nullptr, nullptr);
    return Result;
}

// The system's description of an error code, without the line break it ends
// with; some systems (Wine among them) have none for many codes.
std::string SystemErrorText(DWORD Code) {
    wchar_t* Buffer = nullptr;
    const DWORD Length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    std::string Text = WideToUtf8(Buffer, static_cast<int>(Length));
    LocalFree(Buffer);
    const auto End = Text.find_last_not_of(" \t\r\n");
    Text.erase(End == std::string::npos ? 0 : End + 1);
    if (Text.empty())
        Text = "Нет описания ошибки " + std::to_string(Code);
    return Text;
}

} // namespace

std::string ComDeviceName(uint32_t ComNumber) {
    // The "\\.\" form is the only one that reaches COM10 and above.
    return "\\\\.\\COM" + std::to_string(ComNumber);
}

void CheckLastError() {
    const DWORD Code = GetLastError();
    if (Code == ERROR_INVALID_FUNCTION)
        return;
    throw EOSError(Code, SystemErrorText(Code));
}

void TComPort::OpenDevice(uint32_t Number) {
    const std::string Name = ComDeviceName(Number);
    const HANDLE Handle = ComPortCreateFile(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
    FHandle = reinterpret_cast<intptr_t>(Handle);
    if (Handle != INVALID_HANDLE_VALUE)
        return;
    const DWORD Code = GetLastError();
    const std::string Detail =
        Name + ": " + SystemErrorText(Code) + " (" + std::to_string(Code) + ")";
    if (Code == ERROR_ACCESS_DENIED)
        RaiseDriverError(E_PORT_BUSY, LoadResString(SPortBusy), Detail);
    RaiseDriverError(E_PORT_NOT_AVAILABLE, LoadResString(SPortNotAvailable), Detail);
}

void TComPort::SetQueueSizes() {
    if (!SetupComm(AsHandle(FHandle), 1024, 1024))
        CheckLastError();
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
        CheckLastError();
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
        CheckLastError();
}

void TComPort::Close() noexcept {
    if (!IsOpen())
        return;
    CloseHandle(AsHandle(FHandle));
    FHandle = kInvalidHandle;
}

void TComPort::Write(const std::string& Data) {
    Open();
    if (Data.empty())
        return;
    DWORD Written = 0;
    if (!WriteFile(AsHandle(FHandle), Data.data(), static_cast<DWORD>(Data.size()), &Written,
                   nullptr))
        CheckLastError();
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
        CheckLastError();
    if (Got != Count)
        RaiseNoLink();
    Data = std::move(Buffer);
}

void TComPort::PurgeInput() {
    if (!IsOpen())
        return;
    if (!PurgeComm(AsHandle(FHandle), PURGE_RXCLEAR))
        CheckLastError();
}
