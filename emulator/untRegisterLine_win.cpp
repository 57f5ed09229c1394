#include "untDcb_win.h"
#include "untRegisterLine.h"
#include "untWinText.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace emu {

namespace {

// Set by the console's Ctrl+C, Ctrl+Break or close; looked at between reads.
HANDLE StopEvent = nullptr;
constexpr DWORD LongestReadMs = 50;

BOOL WINAPI OnConsoleEvent(DWORD Event) {
    if (Event != CTRL_C_EVENT && Event != CTRL_BREAK_EVENT && Event != CTRL_CLOSE_EVENT)
        return FALSE;
    SetEvent(StopEvent);
    // On close the process ends when this returns: a moment for the loop to
    // log its end and close the port.
    if (Event == CTRL_CLOSE_EVENT)
        Sleep(1000);
    return TRUE;
}

std::string Reason(DWORD Code) {
    const std::string Text = SystemErrorText(Code);
    return (Text.empty() ? "error" : Text) + " (" + std::to_string(Code) + ")";
}

// "COM7", "com7" or "\\.\COM7" as \\.\COM7, the only form that reaches COM10.
std::string PortPath(const std::string& Name) {
    std::string Bare = Name.starts_with("\\\\.\\") ? Name.substr(4) : Name;
    for (char& C : Bare)
        C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
    if (Bare.size() < 4 || Bare.size() > 6 || !Bare.starts_with("COM") || Bare[3] == '0' ||
        Bare.find_first_not_of("0123456789", 3) != std::string::npos)
        throw ELineSetup(Name + " is not a COM port (COM1, COM7, \\\\.\\COM12, ...)");
    return "\\\\.\\" + Bare;
}

class TPort final : public TLinePort {
public:
    TPort(const std::string& Name, uint32_t Baud) : FName(Name) {
        this->Name = "DEVICE " + Name;
        constexpr uint32_t Rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 57600, 115200, 128000, 256000};
        if (std::ranges::find(Rates, Baud) == std::end(Rates))
            throw ELineSetup("unsupported baud rate " + std::to_string(Baud));
        FHandle = CreateFileA(PortPath(Name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        if (FHandle == INVALID_HANDLE_VALUE) {
            const DWORD Code = GetLastError();
            if (Code == ERROR_FILE_NOT_FOUND || Code == ERROR_PATH_NOT_FOUND)
                throw ELineSetup(Name + ": no such port");
            if (Code == ERROR_ACCESS_DENIED || Code == ERROR_SHARING_VIOLATION)
                throw ELineSetup(Name + " is held by another program");
            throw ELineSetup("cannot open " + Name + ": " + Reason(Code));
        }
        // Raw 8N1 as the program's port has it. DTR and RTS up: a host that
        // watches DSR or CTS through a null-modem cable sees a register there.
        DCB Dcb{};
        Dcb.DCBlength = sizeof Dcb;
        if (!GetCommState(FHandle, &Dcb))
            Fail(Name + " is not a serial port: ", true);
        MakeRawLine(Dcb, Baud);
        Dcb.fDtrControl = DTR_CONTROL_ENABLE;
        Dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!SetCommState(FHandle, &Dcb))
            Fail("cannot set " + Name + " to " + std::to_string(Baud) + " baud, 8N1: ", true);
        PurgeComm(FHandle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~TPort() override { CloseHandle(FHandle); }
    TPort(const TPort&) = delete;
    TPort& operator=(const TPort&) = delete;

    // One byte first, so the read ends when it comes: with fewer bytes than
    // asked some systems (Wine) wait out the whole constant, up to 50 ms late
    // on each time logged. Then what else the input holds.
    std::optional<std::string> Read(std::optional<uint64_t> WaitMs) override {
        if (WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0)
            return std::nullopt;
        SetReadWait(static_cast<DWORD>(
            std::clamp<uint64_t>(WaitMs.value_or(LongestReadMs), 1, LongestReadMs)));
        char Buffer[256];
        DWORD Got = 0;
        if (!ReadFile(FHandle, Buffer, 1, &Got, nullptr))
            Fail("cannot read from " + FName + ": ");
        if (Got == 0)
            return std::string();
        SetReadWait(0);
        DWORD More = 0;
        if (!ReadFile(FHandle, Buffer + 1, sizeof Buffer - 1, &More, nullptr))
            Fail("cannot read from " + FName + ": ");
        return std::string(Buffer, 1 + More);
    }

    std::size_t Write(std::string_view Bytes) override {
        DWORD Written = 0;
        if (!WriteFile(FHandle, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr))
            Fail("cannot write to " + FName + ": ");
        return Written;
    }

private:
    // WaitMs 0: a read returns at once with what the input holds. Otherwise
    // it returns with the first byte that comes, or after WaitMs with none.
    void SetReadWait(DWORD WaitMs) {
        if (WaitMs == FReadWait)
            return;
        COMMTIMEOUTS Timeouts{};
        Timeouts.ReadIntervalTimeout = MAXDWORD;
        Timeouts.ReadTotalTimeoutMultiplier = WaitMs ? MAXDWORD : 0;
        Timeouts.ReadTotalTimeoutConstant = WaitMs;
        Timeouts.WriteTotalTimeoutConstant = 5000; // no flow control: never this long
        if (!SetCommTimeouts(FHandle, &Timeouts))
            Fail("cannot set the timeouts of " + FName + ": ");
        FReadWait = WaitMs;
    }

    // Setup: before the line is ready, when no destructor will close it.
    [[noreturn]] void Fail(const std::string& What, bool Setup = false) {
        const std::string Text = What + Reason(GetLastError());
        if (!Setup)
            throw std::runtime_error(Text);
        CloseHandle(FHandle);
        throw ELineSetup(Text);
    }

    std::string FName;
    HANDLE FHandle = INVALID_HANDLE_VALUE;
    DWORD FReadWait = ~DWORD{0}; // none set yet
};

} // namespace

void PrepareStopRequest() {
    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!StopEvent || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
        throw std::runtime_error("cannot take Ctrl+C: " + Reason(GetLastError()));
}

std::unique_ptr<TLinePort> OpenLine(const TLineRequest& Request, const TLineLog&) {
    if (!Request.Link.empty())
        throw ELineSetup("--link is for Linux; on Windows the port is the COM port itself");
    if (!Request.Device)
        throw ELineSetup("Windows has no pseudo-terminals: give the COM port with --device");
    return std::make_unique<TPort>(*Request.Device, Request.Baud);
}

} // namespace emu
