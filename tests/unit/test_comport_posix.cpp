// The serial port over pseudo-terminals: exclusive use, device names, the
// line settings, the timeouts in real time (generous bounds), and what a
// vanished device does.
#include "Failure.h"
#include "TempPortFolder.h"
#include "untComPort.h"
#include "untComPort_posix_seam.h"
#include "untError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

long long MsSince(TClock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - Start).count();
}

// The line settings the port last asked the terminal for.
termios AskedFor{};
int RecordingSetAttr(int Fd, int When, const termios* Tio) {
    AskedFor = *Tio;
    return ::tcsetattr(Fd, When, Tio);
}

// A pseudo-terminal whose slave is reachable as COMn through the port folder.
class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        char Name[64];
        ASSERT_EQ(::openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
        fs::create_symlink(Name, Ports.Com(12));
        Port.ComNumber = 12;
        Port.BaudRate = 9600;
        Port.Timeout = 100;
        ComPortTcSetAttr = RecordingSetAttr;
    }
    void TearDown() override {
        ComPortTcSetAttr = ::tcsetattr;
        Port.Close();
        if (Master >= 0)
            ::close(Master);
        ::close(Slave);
    }
    std::string FromMaster() {
        char Buf[64];
        ssize_t N = ::read(Master, Buf, sizeof Buf);
        return N > 0 ? std::string(Buf, N) : std::string();
    }
    void ToMaster(const std::string& S) {
        ASSERT_EQ(::write(Master, S.data(), S.size()), ssize_t(S.size()));
    }

    TTempPortFolder Ports{"ormant-ports-"};
    int Master = -1, Slave = -1;
    TComPort Port;
};

int ExclusiveFlag(int Fd) {
    int Exclusive = -1;
    EXPECT_EQ(::ioctl(Fd, TIOCGEXCL, &Exclusive), 0);
    return Exclusive;
}

void ExpectBusy(TComPort& Port) {
    const auto E = FailureOf<EDriverError>([&] { Port.Write(""); });
    EXPECT_EQ(E.Code, -3);
    EXPECT_STREQ(E.what(), "СOM порт занят другим приложением");
    EXPECT_FALSE(Port.IsOpen());
}

// The test keeps the slave open, as the emulator or a service would: the
// exclusive flag then outlives a close unless the port clears it.
TEST_F(PtyPort, HeldPortIsBusyAndGivenBackByCloseOrDestruction) {
    {
        TComPort Holder;
        Holder.ComNumber = 12;
        Holder.BaudRate = 9600;
        Holder.Write("");
        EXPECT_EQ(ExclusiveFlag(Slave), 1);
        ExpectBusy(Port);
    } // the destructor closes
    EXPECT_EQ(ExclusiveFlag(Slave), 0);
    for (int Round = 0; Round < 2; ++Round) {
        Port.Write("\x05");
        EXPECT_EQ(FromMaster(), "\x05");
        Port.Close();
        EXPECT_EQ(ExclusiveFlag(Slave), 0);
    }
    // Held by another program with TIOCEXCL alone (no lock): busy as well,
    // for root too, whom the kernel would let through.
    ASSERT_EQ(::ioctl(Slave, TIOCEXCL), 0);
    ExpectBusy(Port);
    EXPECT_EQ(ExclusiveFlag(Slave), 1); // somebody else's flag is left alone
    ASSERT_EQ(::ioctl(Slave, TIOCNXCL), 0);
    Port.Write("");
    EXPECT_TRUE(Port.IsOpen());
}

// Nothing but a serial line is ever written to: what is not a terminal, or
// not there, is refused before a byte goes out, with the system's reason in
// the failure.
TEST_F(PtyPort, OnlyATerminalInThePortFolderIsTakenForThePort) {
    const fs::path File = Ports.Path / "register.bin";
    const std::string Content("\x00\x11\x22", 3);
    std::ofstream(File, std::ios::binary) << Content; // closed at the end of the line
    fs::create_symlink(File, Ports.Com(13));
    fs::create_symlink("/dev/null", Ports.Com(14));
    fs::create_symlink(Ports.Path / "nowhere", Ports.Com(15));
    const std::pair<uint32_t, const char*> Cases[] = {
        {13, "Inappropriate ioctl"}, // a regular file
        {14, "Inappropriate ioctl"}, // /dev/null
        {15, "No such file"},        // a dangling link
        {16, "No such file"},        // no link: never /dev/ttyS15
    };
    for (const auto& [Number, Reason] : Cases) {
        SCOPED_TRACE(Number);
        Port.ComNumber = Number;
        const auto E = FailureOf<EDriverError>([&] { Port.Write("\x05"); });
        EXPECT_EQ(E.Code, -2);
        EXPECT_STREQ(E.what(), "СOM порт не доступен");
        EXPECT_NE(E.Detail.find(Reason), std::string::npos) << E.Detail;
        EXPECT_NE(E.Detail.find(Ports.Com(Number).string()), std::string::npos) << E.Detail;
        EXPECT_FALSE(Port.IsOpen());
    }
    std::ifstream In(File, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(In), {}), Content);

    // Only where there is no port folder at all is COMn the system's ttyS.
    ::setenv("ORMANT_PORT_DIR", (Ports.Path / "absent").c_str(), 1);
    EXPECT_EQ(ComDeviceName(3), "/dev/ttyS2");
    ::setenv("ORMANT_PORT_DIR", Ports.Path.c_str(), 1);
}

TEST_F(PtyPort, FailedSettingLeavesThePortClosedForAFullRetry) {
    Port.BaudRate = 12345;
    const auto E = FailureOf<EOSError>([&] { Port.Write("\x05"); });
    EXPECT_STREQ(E.what(), "Системная ошибка. Код: 22. Недопустимый параметр");
    EXPECT_FALSE(Port.IsOpen());
    // Read does not open: on the closed port it fails at once, not after T.
    std::string Data;
    EXPECT_STREQ(FailureOf<EOSError>([&] { Port.Read(1, Data); }).what(),
                 "Системная ошибка. Код: 9. Порт не открыт");
    Port.BaudRate = 4800;
    Port.Write("\x05");
    EXPECT_TRUE(Port.IsOpen());
}

// As asked, not as read back: a pseudo-terminal keeps CREAD whatever it is
// told, and a real port without it receives nothing.
TEST_F(PtyPort, LineIsRawEightBitsWithoutFlowControlAndPurged) {
    Port.Write("");
    const termios& Tio = AskedFor;
    EXPECT_EQ(Tio.c_cflag & (CSIZE | CLOCAL | CREAD | PARENB | CSTOPB | CRTSCTS),
              tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(Tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(Tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(::cfgetospeed(&Tio), speed_t(B9600));
    // Control characters pass untouched both ways.
    ToMaster(std::string("\x11\x13\x0D\x00\x03", 5));
    std::string Data;
    Port.Read(5, Data);
    EXPECT_EQ(Data, std::string("\x11\x13\x0D\x00\x03", 5));
    // What came before a purge is gone.
    ToMaster("\x1B\x06");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Port.PurgeInput();
    ToMaster("\x15");
    EXPECT_EQ(Port.ReadByte(), 0x15);
}

// A silent register is "Нет связи", never a system failure: the wait's
// timeout is not its error, whatever errno an earlier call left.
TEST_F(PtyPort, ReadGivesUpAfterTheTimeoutsAndDropsWhatCame) {
    Port.Timeout = 200;
    Port.Write("");
    auto Start = TClock::now();
    const auto E = FailureOf<EDriverError>([&] { Port.ReadByte(); });
    EXPECT_EQ(E.Code, -1);
    EXPECT_STREQ(E.what(), "Нет связи");
    EXPECT_GE(MsSince(Start), 200); // T + 1 ms for one byte
    EXPECT_LT(MsSince(Start), 700);

    // Between bytes: more than T ms of silence ends the read long before the
    // total of 5*T + 1 ms; the two bytes that came are dropped.
    ToMaster("ab");
    Start = TClock::now();
    std::string Data;
    EXPECT_THROW(Port.Read(5, Data), EDriverError);
    EXPECT_TRUE(Data.empty());
    EXPECT_GE(MsSince(Start), 200);
    EXPECT_LT(MsSince(Start), 700);

    // Bytes that keep coming within T each are all waited for.
    std::thread Sender([&] {
        for (char C : std::string("xyz")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            ToMaster(std::string(1, C));
        }
    });
    Port.Read(3, Data);
    Sender.join();
    EXPECT_EQ(Data, "xyz");

    // T = 0 leaves only the total's 1 ms.
    Port.Close();
    Port.Timeout = 0;
    Port.Write("");
    Start = TClock::now();
    EXPECT_THROW(Port.ReadByte(), EDriverError);
    EXPECT_LT(MsSince(Start), 200);
}

TEST_F(PtyPort, VanishedDeviceIsASystemFailureNotAHang) {
    Port.Timeout = 5000;
    Port.Write("");
    ::close(Master);
    Master = -1;
    const auto Start = TClock::now();
    for (const auto& Call : {std::function<void()>([&] { Port.ReadByte(); }),
                             std::function<void()>([&] { Port.Write("\x05"); })}) {
        const auto E = FailureOf<EOSError>(Call);
        EXPECT_STREQ(E.what(), "Системная ошибка. Код: 5. Устройство отключено");
    }
    EXPECT_LT(MsSince(Start), 1000);
}

} // namespace
