// The Win32 serial port against the register emulator on a pseudo-terminal
// that Wine shows as COM ports (run-wine-tests.sh links them).
#include "../support/Failure.h"
#include "untComPort.h"
#include "untComPort_win_seam.h"
#include "untError.h"
#include "untFrames.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>

namespace {

// COM numbers run-wine-tests.sh prepared, by variable name.
uint32_t Com(const char* Variable) {
    const char* Value = std::getenv(Variable);
    EXPECT_TRUE(Value) << Variable << " is not set: run the tests through run-wine-tests.sh";
    return Value ? static_cast<uint32_t>(std::strtoul(Value, nullptr, 10)) : 0;
}

// Call must fail with "no link" after Min ms and before Max.
template <class TCall> void ExpectNoLinkAfter(long long Min, long long Max, TCall Call) {
    using namespace std::chrono;
    const auto Start = steady_clock::now();
    const auto E = FailureOf<EDriverError>(Call);
    EXPECT_TRUE(E.Code == peNoLink && E.what() == std::string(TEXT_NO_LINK)) << E.what();
    const auto Ms = duration_cast<milliseconds>(steady_clock::now() - Start).count();
    EXPECT_TRUE(Ms >= Min && Ms < Max) << Ms << " ms";
}

std::string OpenedName;
DWORD OpenedShare = ~0u;
HANDLE Opened = INVALID_HANDLE_VALUE;

HANDLE WINAPI RecordingCreateFile(LPCSTR Name, DWORD Access, DWORD Share,
                                  LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                  HANDLE Template) {
    OpenedName = Name;
    OpenedShare = Share;
    return Opened = CreateFileA(Name, Access, Share, Security, Disposition, Flags, Template);
}

HANDLE WINAPI DeniedCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// Wine shows DTR and RTS enabled on a pseudo-terminal whatever was set, so
// what the port gives SetCommState is caught in this program's import slot.
using TSetCommState = BOOL(WINAPI*)(HANDLE, LPDCB);
#ifdef _WIN64
extern "C" TSetCommState ImportedSetCommState __asm__("__imp_SetCommState");
#else
extern "C" TSetCommState ImportedSetCommState __asm__("__imp__SetCommState@8");
#endif
const TSetCommState SystemSetCommState = ImportedSetCommState;
DCB Given{};

BOOL WINAPI RecordingSetCommState(HANDLE Handle, LPDCB Dcb) {
    Given = *Dcb;
    return SystemSetCommState(Handle, Dcb);
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ComPortCreateFile = RecordingCreateFile; // harmless to leave in place
        DWORD Was = 0;                           // the slot may be read-only
        VirtualProtect(&ImportedSetCommState, sizeof(TSetCommState), PAGE_READWRITE, &Was);
        ImportedSetCommState = RecordingSetCommState;
        Port.ComNumber = Com("ORMANT_TEST_COM"); // above 9: needs the \\.\ name
        Port.BaudRate = 115200;
        Port.Timeout = 150;
    }
    TComPort Port;
};

} // namespace

TEST_F(ComPortTest, OpensOnFirstWriteWithTheLineSettingsAndExchanges) {
    Port.Write("\x05");
    ASSERT_TRUE(Port.IsOpen());
    EXPECT_EQ(OpenedName, "\\\\.\\COM" + std::to_string(Port.ComNumber));
    EXPECT_EQ(OpenedShare, 0u) << "not for other programs";
    EXPECT_EQ(Port.ReadByte(), NAK);
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    ASSERT_TRUE(GetCommState(Opened, &Dcb));
    EXPECT_TRUE(Dcb.BaudRate == 115200 && Dcb.ByteSize == 8 && Dcb.Parity == NOPARITY &&
                Dcb.StopBits == ONESTOPBIT);
    EXPECT_FALSE(Dcb.fOutxCtsFlow || Dcb.fOutxDsrFlow || Dcb.fOutX || Dcb.fInX);
    // The register drives no handshake lines: DTR and RTS are not raised.
    EXPECT_EQ(Given.fDtrControl, DWORD(DTR_CONTROL_DISABLE));
    EXPECT_EQ(Given.fRtsControl, DWORD(RTS_CONTROL_DISABLE));
    EXPECT_EQ(Given.BaudRate, 115200u);
    COMMTIMEOUTS T{};
    ASSERT_TRUE(GetCommTimeouts(Opened, &T));
    EXPECT_EQ((std::array<DWORD, 5>{T.ReadIntervalTimeout, T.ReadTotalTimeoutMultiplier,
                                    T.ReadTotalTimeoutConstant, T.WriteTotalTimeoutMultiplier,
                                    T.WriteTotalTimeoutConstant}),
              (std::array<DWORD, 5>{150, 150, 1, 150, 0}));

    // A probe's exchange: had the answer been read short or long, what
    // follows would not be the register's reply to ENQ.
    Port.Write(std::string("\x02\x05\x11\x3B\x00\x00\x00\x2F", 8));
    EXPECT_EQ(Port.ReadByte(), ACK);
    ReadAnswer(Port);
    Port.Write("\x06\x05");
    EXPECT_EQ(Port.ReadByte(), NAK);
}

TEST_F(ComPortTest, ReadsEndAfterTheirTimeoutsAndPurgeDropsInput) {
    Port.Timeout = 400;
    Port.Write({});
    std::string Data = "stale";
    // T + 1 ms, with room for a loaded machine.
    ExpectNoLinkAfter(350, 1200, [&] { Port.Read(1, Data); });
    EXPECT_TRUE(Data.empty());
    // The NAK comes at once, a second byte never: the gap after the first
    // byte ends the read, not its total time (2 * 400 + 1 ms).
    Port.Write("\x05");
    ExpectNoLinkAfter(300, 700, [&] { Port.Read(2, Data); });
    Port.Write("\x05");
    Sleep(300);
    Port.PurgeInput();
    ExpectNoLinkAfter(0, 1200, [&] { Port.Read(1, Data); });
}

TEST_F(ComPortTest, FailedOpensLeaveThePortClosed) {
    Port.ComNumber = Com("ORMANT_TEST_COM_MISSING");
    auto E = FailureOf<EDriverError>([&] { Port.Write("\x05"); });
    EXPECT_TRUE(E.Code == pePortNotAvailable && E.what() == std::string(TEXT_PORT_NOT_AVAILABLE));
    EXPECT_NE(E.Detail.find(ComDeviceName(Port.ComNumber) + ": "), std::string::npos) << E.Detail;
    EXPECT_FALSE(Port.IsOpen());
    // Wine lets a second program open a COM port, so a busy one is made up.
    ComPortCreateFile = DeniedCreateFile;
    E = FailureOf<EDriverError>([&] { Port.Open(); });
    EXPECT_TRUE(E.Code == pePortBusy && E.what() == std::string(TEXT_PORT_BUSY)) << E.what();
    ComPortCreateFile = RecordingCreateFile;
    // A COM name that leads to something other than a serial device: it
    // opens, but takes no line settings, and is closed again.
    Port.ComNumber = Com("ORMANT_TEST_COM_NOT_SERIAL");
    EXPECT_THROW(Port.Write("\x05"), EOSError);
    ASSERT_NE(Opened, INVALID_HANDLE_VALUE) << "the device itself must open";
    EXPECT_FALSE(Port.IsOpen());
    DWORD Flags = 0;
    EXPECT_FALSE(GetHandleInformation(Opened, &Flags)) << "device left open";
}
