// The Win32 serial port against the register emulator on a pseudo-terminal
// that Wine shows as COM ports (run-wine-tests.sh links them).
#include "untComPort.h"
#include "untComPort_win_seam.h"
#include "untError.h"
#include "untFrames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

using TClock = std::chrono::steady_clock;

// COM numbers the driver script prepared, by variable name.
uint32_t ComFromEnvironment(const char* Variable) {
    const char* Value = std::getenv(Variable);
    if (!Value || !*Value)
        ADD_FAILURE() << Variable << " is not set: run the tests through run-wine-tests.sh";
    return Value ? static_cast<uint32_t>(std::strtoul(Value, nullptr, 10)) : 0;
}

long long MillisecondsSince(TClock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - Start).count();
}

// Runs Call, which must fail with the given driver error, and returns it.
EDriverError ExpectDriverError(int32_t Code, const std::function<void()>& Call) {
    try {
        Call();
    } catch (const EDriverError& E) {
        EXPECT_EQ(E.Code, Code) << E.what() << " / " << E.Detail;
        return E;
    }
    ADD_FAILURE() << "no EDriverError " << Code;
    return EDriverError(0, {});
}

// Puts a stand-in for CreateFileA in place for the lifetime of the object.
class TCreateFileHook {
public:
    explicit TCreateFileHook(TCreateFileA Hook) : FSaved(ComPortCreateFile) {
        ComPortCreateFile = Hook;
    }
    ~TCreateFileHook() { ComPortCreateFile = FSaved; }

private:
    TCreateFileA FSaved;
};

struct TOpenCall {
    std::string Name;
    DWORD Access = 0;
    DWORD Share = ~0u;
    DWORD Disposition = 0;
    HANDLE Result = INVALID_HANDLE_VALUE;
};
TOpenCall LastOpen;

HANDLE WINAPI RecordingCreateFile(LPCSTR Name, DWORD Access, DWORD Share,
                                  LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                  HANDLE Template) {
    LastOpen = {Name, Access, Share, Disposition, INVALID_HANDLE_VALUE};
    LastOpen.Result = CreateFileA(Name, Access, Share, Security, Disposition, Flags, Template);
    return LastOpen.Result;
}

HANDLE WINAPI DeniedCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        Port.ComNumber = ComFromEnvironment("ORMANT_TEST_COM");
        Port.BaudRate = 115200;
        Port.Timeout = 200;
    }

    TComPort Port;
};

} // namespace

TEST(ComPortName, ReachesPortsAboveNine) {
    EXPECT_EQ(ComDeviceName(1), "\\\\.\\COM1");
    EXPECT_EQ(ComDeviceName(12), "\\\\.\\COM12");
    EXPECT_EQ(ComDeviceName(256), "\\\\.\\COM256");
}

TEST_F(ComPortTest, OpensOnFirstWriteExclusivelyWithTheLineSettings) {
    TCreateFileHook Hook(RecordingCreateFile);
    Port.Timeout = 150;
    EXPECT_FALSE(Port.IsOpen());
    Port.Write(std::string(1, char(ENQ)));
    ASSERT_TRUE(Port.IsOpen());
    EXPECT_EQ(LastOpen.Name, ComDeviceName(Port.ComNumber));
    EXPECT_EQ(LastOpen.Access, DWORD(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(LastOpen.Share, 0u);
    EXPECT_EQ(LastOpen.Disposition, DWORD(OPEN_EXISTING));
    EXPECT_EQ(Port.ReadByte(), NAK);

    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    ASSERT_TRUE(GetCommState(LastOpen.Result, &Dcb));
    EXPECT_EQ(Dcb.BaudRate, 115200u);
    EXPECT_EQ(Dcb.ByteSize, 8);
    EXPECT_EQ(Dcb.Parity, NOPARITY);
    EXPECT_EQ(Dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(Dcb.fOutxCtsFlow || Dcb.fOutxDsrFlow || Dcb.fOutX || Dcb.fInX);
    // No DTR/RTS check: Wine reports the state of the lines there, and a
    // pseudo-terminal has them up.

    COMMTIMEOUTS Timeouts{};
    ASSERT_TRUE(GetCommTimeouts(LastOpen.Result, &Timeouts));
    EXPECT_EQ(Timeouts.ReadIntervalTimeout, 150u);
    EXPECT_EQ(Timeouts.ReadTotalTimeoutMultiplier, 150u);
    EXPECT_EQ(Timeouts.ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(Timeouts.WriteTotalTimeoutMultiplier, 150u);
    EXPECT_EQ(Timeouts.WriteTotalTimeoutConstant, 0u);

    // Open again is nothing; the settings wait for the next open.
    Port.Timeout = 300;
    Port.Write({});
    ASSERT_TRUE(GetCommTimeouts(LastOpen.Result, &Timeouts));
    EXPECT_EQ(Timeouts.ReadIntervalTimeout, 150u);

    Port.Close();
    EXPECT_FALSE(Port.IsOpen());
    Port.Close();
}

TEST_F(ComPortTest, AnswersAlsoOnAPortBelowTen) {
    Port.ComNumber = ComFromEnvironment("ORMANT_TEST_COM_LOW");
    ASSERT_LT(Port.ComNumber, 10u);
    Port.Write(std::string(1, char(ENQ)));
    EXPECT_EQ(Port.ReadByte(), NAK);
}

TEST_F(ComPortTest, ReadOfNothingFailsWithNoLinkAfterTheTimeout) {
    Port.Write({});
    std::string Data = "stale";
    const auto Start = TClock::now();
    const auto E = ExpectDriverError(E_NO_LINK, [&] { Port.Read(1, Data); });
    const auto Elapsed = MillisecondsSince(Start);
    EXPECT_STREQ(E.what(), TEXT_NO_LINK);
    EXPECT_TRUE(Data.empty());
    // T + 1 ms, with room for a loaded machine.
    EXPECT_GE(Elapsed, 150);
    EXPECT_LT(Elapsed, 1200);
    EXPECT_TRUE(Port.IsOpen());
}

TEST_F(ComPortTest, ByteGapEndsAReadBeforeItsTotalTime) {
    Port.Timeout = 400;
    Port.Write(std::string(1, char(ENQ)));
    std::string Data;
    const auto Start = TClock::now();
    // The NAK comes at once, a second byte never: the gap after the first byte
    // (400 ms) ends the read, not its total time (2 * 400 + 1 ms).
    ExpectDriverError(E_NO_LINK, [&] { Port.Read(2, Data); });
    const auto Elapsed = MillisecondsSince(Start);
    EXPECT_TRUE(Data.empty());
    EXPECT_GE(Elapsed, 300);
    EXPECT_LT(Elapsed, 700);
}

TEST_F(ComPortTest, ZeroCountOrAClosedPortLeavesTheDeviceAlone) {
    std::string Data = "x";
    Port.Read(0, Data);
    EXPECT_TRUE(Data.empty());
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_THROW(Port.Read(1, Data), EOSError);
    EXPECT_FALSE(Port.IsOpen());
    Port.PurgeInput();
    EXPECT_FALSE(Port.IsOpen());
}

TEST_F(ComPortTest, PurgeInputDropsWhatWaits) {
    Port.Write(std::string(1, char(ENQ)));
    Sleep(300);
    Port.PurgeInput();
    std::string Data;
    ExpectDriverError(E_NO_LINK, [&] { Port.Read(1, Data); });
}

TEST_F(ComPortTest, ProbeExchangeKeepsTheLineInStep) {
    Port.Timeout = 500;
    Port.Write(std::string(1, char(ENQ)));
    EXPECT_EQ(Port.ReadByte(), NAK);
    Port.Write(std::string("\x02\x05\x11\x3B\x00\x00\x00\x2F", 8));
    EXPECT_EQ(Port.ReadByte(), ACK);
    ReadAnswer(Port);
    // Had the answer been read short or long, what follows would not be the
    // register's reply to ENQ.
    Port.Write(std::string(1, char(ACK)));
    Port.Write(std::string(1, char(ENQ)));
    EXPECT_EQ(Port.ReadByte(), NAK);
}

TEST_F(ComPortTest, MissingPortIsNotAvailableAndIsRetried) {
    Port.ComNumber = ComFromEnvironment("ORMANT_TEST_COM_MISSING");
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        const auto E = ExpectDriverError(E_PORT_NOT_AVAILABLE, [&] { Port.Write("\x05"); });
        EXPECT_STREQ(E.what(), TEXT_PORT_NOT_AVAILABLE);
        EXPECT_EQ(std::string(E.what()).rfind("\xD0\xA1", 0), 0u) << "Cyrillic С first";
        EXPECT_NE(E.Detail.find(ComDeviceName(Port.ComNumber)), std::string::npos) << E.Detail;
        EXPECT_NE(E.Detail.find("(2)"), std::string::npos) << E.Detail;
        EXPECT_FALSE(Port.IsOpen());
    }
}

TEST_F(ComPortTest, PortHeldElsewhereIsBusy) {
    TCreateFileHook Hook(DeniedCreateFile);
    const auto E = ExpectDriverError(E_PORT_BUSY, [&] { Port.Open(); });
    EXPECT_STREQ(E.what(), TEXT_PORT_BUSY);
    EXPECT_NE(E.Detail.find(ComDeviceName(Port.ComNumber)), std::string::npos) << E.Detail;
    EXPECT_FALSE(Port.IsOpen());
}

TEST_F(ComPortTest, FailedSettingLeavesThePortClosedForTheNextTry) {
    // A COM name that leads to something other than a serial device: it
    // opens, but takes no line settings.
    Port.ComNumber = ComFromEnvironment("ORMANT_TEST_COM_NOT_SERIAL");
    TCreateFileHook Hook(RecordingCreateFile);
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        LastOpen = {};
        try {
            Port.Write("\x05");
            ADD_FAILURE() << "settings accepted";
        } catch (const EOSError& E) {
            EXPECT_NE(E.ErrorCode, DWORD(ERROR_INVALID_FUNCTION));
            EXPECT_NE(std::string(E.what()).find(std::to_string(E.ErrorCode)), std::string::npos);
        }
        ASSERT_NE(LastOpen.Result, INVALID_HANDLE_VALUE) << "the device itself must open";
        EXPECT_FALSE(Port.IsOpen());
        DWORD Flags = 0;
        EXPECT_FALSE(GetHandleInformation(LastOpen.Result, &Flags)) << "device left open";
    }
}
