// The Win32 serial port against the register emulator on a pseudo-terminal
// that Wine shows as a COM port (run-wine-tests.sh links them). A probe's
// exchanges over it are the end-to-end scenarios'.
#include "../support/Failure.h"
#include "untComPort.h"
#include "untDcb_win.h"
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

// The line set-up as the strictest serial drivers judge it, which Wine does
// not: it shows DTR and RTS enabled on a pseudo-terminal whatever was set,
// and takes what they refuse.
TEST(ComPortRules, ARawEightBitLineThatStrictDriversTake) {
    DCB Dcb{};
    Dcb.fOutxCtsFlow = Dcb.fOutxDsrFlow = Dcb.fOutX = Dcb.fInX = Dcb.fParity = TRUE;
    Dcb.Parity = EVENPARITY;
    Dcb.StopBits = TWOSTOPBITS;
    MakeRawLine(Dcb, 115200);
    EXPECT_TRUE(Dcb.DCBlength == sizeof(DCB) && Dcb.BaudRate == 115200 && Dcb.ByteSize == 8 &&
                Dcb.Parity == NOPARITY && Dcb.StopBits == ONESTOPBIT && Dcb.fBinary &&
                Dcb.XonChar != Dcb.XoffChar);
    EXPECT_FALSE(Dcb.fOutxCtsFlow || Dcb.fOutxDsrFlow || Dcb.fOutX || Dcb.fInX || Dcb.fParity);
    // Neither a read nor a write waits for ever, 0 included (no limit).
    const COMMTIMEOUTS T = LineTimeouts(0);
    EXPECT_FALSE(WaitsWithoutBound({T.ReadIntervalTimeout, T.ReadTotalTimeoutMultiplier,
                                    T.ReadTotalTimeoutConstant, T.WriteTotalTimeoutMultiplier,
                                    T.WriteTotalTimeoutConstant}));
    // Held by another program (which Wine never reports for a COM port).
    EXPECT_EQ(OpenFailureCode(ERROR_ACCESS_DENIED), pePortBusy);
    EXPECT_EQ(OpenFailureCode(ERROR_FILE_NOT_FOUND), pePortNotAvailable);
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Above 9: only the \\.\ name reaches it.
        Port.ComNumber = Com("ORMANT_TEST_COM");
        Port.BaudRate = 115200;
        Port.Timeout = 400;
        // The emulator as no case before left it: an answer it holds (cut
        // short, once a timeout command came) is asked for and acknowledged.
        Port.Write("\x05");
        Sleep(50); // within its 150 ms wait for the ACK
        Port.PurgeInput();
        Port.Write("\x06");
        Port.Close();
    }
    TComPort Port;
};

TEST_F(ComPortTest, OpensOnFirstWriteWithTheLineSettingsAndReadsEndAfterTheGap) {
    ASSERT_NO_THROW(Port.Write("\x05"));
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
    Port.Write(""); // opens
    Port.SetWaitHook(20, [&](uint32_t, bool Idle) {
        if (!Idle)
            return;
        Port.Write("\x05");
        Sleep(600);
    });
    EXPECT_EQ(Port.ReadByte(), NAK); // the emulator holds no answer
}

TEST_F(ComPortTest, FailedOpensLeaveThePortClosed) {
    Port.ComNumber = Com("ORMANT_TEST_COM_MISSING");
    auto E = FailureOf<EDriverError>([&] { Port.Write("\x05"); });
    EXPECT_TRUE(E.Code == pePortNotAvailable && E.what() == std::string(TEXT_PORT_NOT_AVAILABLE));
    EXPECT_NE(E.Detail.find(ComDeviceName(Port.ComNumber) + ": "), std::string::npos) << E.Detail;
    EXPECT_FALSE(Port.IsOpen());
    // A COM name that leads to a file: it opens, but takes no line settings,
    // is closed again (a file opened for no sharing can be opened anew), and
    // nothing is written to it.
    Port.ComNumber = Com("ORMANT_TEST_COM_NOT_SERIAL");
    EXPECT_THROW(Port.Write("\x05"), EOSError);
    EXPECT_FALSE(Port.IsOpen());
    const HANDLE File = CreateFileA(ComDeviceName(Port.ComNumber).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(File, INVALID_HANDLE_VALUE) << "left open: " << GetLastError();
    EXPECT_EQ(GetFileSize(File, nullptr), 0u);
    CloseHandle(File);
}

} // namespace
