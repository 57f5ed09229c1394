// The Win32 serial port against the register emulator on a pseudo-terminal
// that Wine shows as a COM port (run-wine-tests.sh links them). A probe's
// exchanges over it are the end-to-end scenarios'.
#include "../support/Failure.h"
#include "untComPort.h"
#include "untComPort_win_seam.h"
#include "untError.h"
#include "untFrames.h"
#include "untProtocol.h"
#include "untReadTimer.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// COM numbers run-wine-tests.sh prepared, by variable name.
uint32_t Com(const char* Variable) {
    const char* Value = std::getenv(Variable);
    EXPECT_TRUE(Value) << Variable << " is not set: run the tests through run-wine-tests.sh";
    return Value ? static_cast<uint32_t>(std::strtoul(Value, nullptr, 10)) : 0;
}

DWORD OpenedShare = ~0u;
HANDLE Opened = INVALID_HANDLE_VALUE;

HANDLE WINAPI RecordingCreateFile(LPCSTR Name, DWORD Access, DWORD Share,
                                  LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                  HANDLE Template) {
    OpenedShare = Share;
    return Opened = CreateFileA(Name, Access, Share, Security, Disposition, Flags, Template);
}

// Wine lets a second program open a COM port, so a busy one is made up.
HANDLE WINAPI DeniedCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// Wine shows DTR and RTS enabled on a pseudo-terminal whatever was set, and
// takes settings that stricter serial drivers refuse, so what the port gives
// SetCommState is caught in this program's import slot and judged as they
// judge it.
using TSetCommState = BOOL(WINAPI*)(HANDLE, LPDCB);
#ifdef _WIN64
extern "C" TSetCommState ImportedSetCommState __asm__("__imp_SetCommState");
#else
extern "C" TSetCommState ImportedSetCommState __asm__("__imp__SetCommState@8");
#endif
const TSetCommState SystemSetCommState = ImportedSetCommState;
DCB Given{};

BOOL WINAPI StrictSetCommState(HANDLE Handle, LPDCB Dcb) {
    Given = *Dcb;
    if (Dcb->DCBlength != sizeof(DCB) || Dcb->XonChar == Dcb->XoffChar || Dcb->ByteSize < 5 ||
        Dcb->ByteSize > 8 || Dcb->Parity > SPACEPARITY || Dcb->StopBits > TWOSTOPBITS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return SystemSetCommState(Handle, Dcb);
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ComPortCreateFile = RecordingCreateFile; // harmless to leave in place
        DWORD Was = 0;                           // the slot may be read-only
        VirtualProtect(&ImportedSetCommState, sizeof(TSetCommState), PAGE_READWRITE, &Was);
        ImportedSetCommState = StrictSetCommState;
        // Above 9: only the \\.\ name reaches it.
        Port.ComNumber = Com("ORMANT_TEST_COM");
        Port.BaudRate = 115200;
        Port.Timeout = 400;
    }
    TComPort Port;
};

TEST_F(ComPortTest, OpensOnFirstWriteWithTheLineSettingsAndReadsEndAfterTheGap) {
    ASSERT_NO_THROW(Port.Write("\x05"));
    EXPECT_EQ(OpenedShare, 0u) << "not for other programs";
    // Raw bytes, no flow control (its characters the usual DC1 and DC3); the
    // register drives no handshake lines, so DTR and RTS are not raised.
    EXPECT_TRUE(Given.BaudRate == 115200 && Given.ByteSize == 8 && Given.Parity == NOPARITY &&
                Given.StopBits == ONESTOPBIT && Given.fBinary && Given.XonChar == 0x11 &&
                Given.XoffChar == 0x13);
    EXPECT_FALSE(Given.fOutxCtsFlow || Given.fOutxDsrFlow || Given.fOutX || Given.fInX ||
                 Given.fDtrControl != DTR_CONTROL_DISABLE ||
                 Given.fRtsControl != RTS_CONTROL_DISABLE);
    // A read returns with the first byte that comes, or with nothing after
    // the constant; the port waits again as long as the timeout allows. A
    // write ends within its time on the line and a margin, not Timeout a byte.
    COMMTIMEOUTS T{};
    ASSERT_TRUE(GetCommTimeouts(Opened, &T));
    EXPECT_TRUE(T.ReadIntervalTimeout == MAXDWORD && T.ReadTotalTimeoutMultiplier == MAXDWORD &&
                T.WriteTotalTimeoutMultiplier == 0 && T.WriteTotalTimeoutConstant > 0 &&
                T.WriteTotalTimeoutConstant <= WriteLimitMs(1, 115200));
    EXPECT_EQ(Port.ReadByte(), NAK);

    // The NAK to the next ENQ is dropped, that to the third comes at once and
    // a second byte never: the read fails and keeps nothing; the NAK left in
    // the input would have completed it. (How long the system waits is the
    // timeouts' business, checked above.)
    Port.Write("\x05");
    Sleep(300);
    Port.PurgeInput();
    Port.Write("\x05");
    std::string Data = "stale";
    const auto E = FailureOf<EDriverError>([&] { Port.Read(2, Data); });
    EXPECT_TRUE(E.Code == peNoLink && E.what() == std::string(TEXT_NO_LINK)) << E.what();
    EXPECT_TRUE(Data.empty());

    // The emulator's frames stop after their length byte from the timeout
    // command on: the rest of the frame is given up after one timeout without
    // a byte, not after one for each byte missing.
    Port.Write(BuildFrame(SetExchangeTimeoutCommand(150)));
    ASSERT_EQ(Port.ReadByte(), ACK);
    Port.Read(2, Data);
    ASSERT_EQ(Data, std::string("\x02\x02", 2));
    const DWORD Start = GetTickCount();
    EXPECT_EQ(FailureOf<EDriverError>([&] { Port.Read(3, Data); }).Code, peNoLink);
    const DWORD Waited = GetTickCount() - Start;
    EXPECT_TRUE(Waited >= 350 && Waited < 800) << Waited << " ms, not 3 x 400 + 1";
}

// Bytes that came while the window's hook ran are taken, even after the
// read's time is up (the end-to-end scenario "mute" shows the slices).
TEST_F(ComPortTest, AByteThatCameWhileTheHookRanIsTaken) {
    Port.Write("");
    Port.PurgeInput();
    Port.SetWaitHook(20, [&](uint32_t, bool Idle) {
        if (!Idle)
            return;
        Port.Write("\x05");
        Sleep(600);
    });
    // The emulator holds the cut answer of the test before: ACK, else NAK.
    const uint8_t Reply = Port.ReadByte();
    EXPECT_TRUE(Reply == ACK || Reply == NAK) << int(Reply);
}

TEST_F(ComPortTest, FailedOpensLeaveThePortClosed) {
    Port.ComNumber = Com("ORMANT_TEST_COM_MISSING");
    auto E = FailureOf<EDriverError>([&] { Port.Write("\x05"); });
    EXPECT_TRUE(E.Code == pePortNotAvailable && E.what() == std::string(TEXT_PORT_NOT_AVAILABLE));
    EXPECT_NE(E.Detail.find(ComDeviceName(Port.ComNumber) + ": "), std::string::npos) << E.Detail;
    EXPECT_FALSE(Port.IsOpen());
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

} // namespace
