// The serial port over pseudo-terminals: exclusive use, device names, the
// line settings, the timeouts in real time (generous bounds), and what a
// vanished device does.
#include "untComPort.h"
#include "untComPort_posix_seam.h"
#include "untError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <pty.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// The line settings the port last asked the terminal for.
termios AskedFor{};

// A pseudo-terminal whose slave is reachable as COM12 through the port folder.
class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(Ports);
        ::setenv("ORMANT_PORT_DIR", Ports.c_str(), 1);
        char Name[64];
        ASSERT_EQ(::openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
        fs::create_symlink(Name, Com(12));
        Port.ComNumber = 12;
        Port.BaudRate = 9600;
        Port.Timeout = 120;
        ComPortTcSetAttr = [](int Fd, int When, const termios* Tio) {
            AskedFor = *Tio;
            return ::tcsetattr(Fd, When, Tio);
        };
    }
    void TearDown() override {
        ComPortTcSetAttr = ::tcsetattr;
        Port.Close();
        ::close(Master);
        ::close(Slave);
        fs::remove_all(Ports);
        ::unsetenv("ORMANT_PORT_DIR");
    }
    void ToMaster(std::string S) { ASSERT_EQ(::write(Master, &S[0], S.size()), long(S.size())); }
    int Exclusive() {
        int Flag = -1;
        return ::ioctl(Slave, TIOCGEXCL, &Flag) == 0 ? Flag : -1;
    }
    // "code text" of the port's failure, or the system error's text alone;
    // Detail gets the system's words, as the program's edges trace them.
    template <class TCall> std::string Failure(TCall Call) {
        try {
            Call();
        } catch (const EDriverError& E) {
            Detail = SystemDetail(E);
            return std::to_string(E.Code) + " " + E.what();
        } catch (const EOSError& E) {
            Detail = SystemDetail(E);
            return E.what();
        }
        return "no failure";
    }
    // A read of Count bytes fails with "Нет связи" within [MinMs, MaxMs) ms:
    // a silent register is never a system failure (the wait's timeout is not
    // its error, whatever errno an earlier call left).
    void ExpectNoLink(uint32_t Count, long long MinMs, long long MaxMs) {
        const auto Start = TClock::now();
        std::string Data;
        EXPECT_EQ(Failure([&] { Port.Read(Count, Data); }), "-1 Нет связи") << Count;
        EXPECT_EQ(Data, ""); // what came is dropped
        const std::chrono::duration<double, std::milli> Ms = TClock::now() - Start;
        EXPECT_TRUE(Ms.count() >= MinMs && Ms.count() < MaxMs) << Count << ": " << Ms.count();
    }

    // A port folder of the test's own, where COMn links are made.
    const fs::path Ports =
        fs::temp_directory_path() / ("ormant-ports-" + std::to_string(::getpid()));
    fs::path Com(int N) const { return Ports / ("com" + std::to_string(N)); }
    int Master = -1, Slave = -1;
    TComPort Port;
    std::string Detail;
};

// Nothing but a serial line is ever written to: what is not a terminal, or
// not there, is refused before a byte goes out, with the system's reason.
// A terminal held by another port or program is busy.
TEST_F(PtyPort, TakesOnlyATerminalAndOnlyWhileNobodyHoldsIt) {
    const fs::path File = Ports / "register.bin";
    std::ofstream{File};
    fs::create_symlink(File, Com(13));
    fs::create_symlink("/dev/null", Com(14));
    fs::create_symlink(Ports / "nowhere", Com(15));
    // A regular file, /dev/null, a dangling link, no link (never /dev/ttyS15).
    const std::pair<uint32_t, const char*> Cases[] = {
        {13, "Inappropriate"}, {14, "Inappropriate"}, {15, "No such file"}, {16, "No such file"}};
    for (const auto& [Number, Reason] : Cases) {
        Port.ComNumber = Number;
        EXPECT_EQ(Failure([&] { Port.Write("\x05"); }), "-2 СOM порт не доступен") << Number;
        EXPECT_NE(Detail.find(Com(Number).string() + "): " + Reason), Detail.npos) << Detail;
    }
    EXPECT_EQ(fs::file_size(File), 0u);
    // Only where there is no port folder at all is COMn the system's ttyS.
    ::setenv("ORMANT_PORT_DIR", (Ports / "absent").c_str(), 1);
    EXPECT_EQ(ComDeviceName(3), "/dev/ttyS2");
    ::setenv("ORMANT_PORT_DIR", Ports.c_str(), 1);

    // The test keeps the slave open, as the emulator or a service would: the
    // exclusive flag then outlives a close unless the port clears it.
    Port.ComNumber = 12;
    {
        TComPort Holder;
        Holder.ComNumber = 12;
        Holder.BaudRate = 9600;
        Holder.Write("");
        EXPECT_EQ(Exclusive(), 1);
        EXPECT_NE(::flock(Slave, LOCK_SH | LOCK_NB), 0);
        EXPECT_EQ(Failure([&] { Port.Write(""); }), "-3 СOM порт занят другим приложением");
    }
    EXPECT_EQ(Exclusive(), 0); // given back by the destructor
    Port.Write("");
    Port.Close();
    EXPECT_EQ(Exclusive(), 0); // and by Close
    // Another program's TIOCEXCL alone (no lock) is busy as well, for root
    // too, whom the kernel lets through; and its flag is left alone.
    ASSERT_EQ(::ioctl(Slave, TIOCEXCL), 0);
    EXPECT_EQ(Failure([&] { Port.Write(""); }), "-3 СOM порт занят другим приложением");
    EXPECT_EQ(Exclusive(), 1);
    // So is another program's lock alone.
    ASSERT_EQ(::ioctl(Slave, TIOCNXCL), 0);
    ASSERT_EQ(::flock(Slave, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Failure([&] { Port.Write(""); }), "-3 СOM порт занят другим приложением");
}

// The settings are checked as asked, not as read back: a pseudo-terminal
// keeps CREAD whatever it is told, and a real port without it receives
// nothing.
TEST_F(PtyPort, FailedSettingIsRetriedInFullOnARawEightBitLine) {
    Port.BaudRate = 12345;
    EXPECT_EQ(Failure([&] { Port.Write(""); }), "Системная ошибка. Код: 22. Недопустимый параметр");
    // Read does not open: on the closed port it fails at once, not after T.
    std::string Data;
    EXPECT_EQ(Failure([&] { Port.Read(1, Data); }), "Системная ошибка. Код: 9. Порт не открыт");
    // The failures a technician meets read in Russian; the rest keep the
    // system's words.
    for (const auto& [Code, Text] : std::map<int, std::string>{{ENOENT, "Устройство не найдено"},
                                                               {EIO, "Ошибка ввода-вывода"},
                                                               {EPIPE, "Broken pipe"}})
        EXPECT_EQ(Failure([&] { CheckOSError(Code); }),
                  "Системная ошибка. Код: " + std::to_string(Code) + ". " + Text);
    EXPECT_NO_THROW(Port.PurgeInput()); // closed: nothing to purge
    // Whatever an earlier program left on the line goes: flow control both
    // ways, parity checks.
    termios Left{};
    ASSERT_EQ(::tcgetattr(Slave, &Left), 0);
    Left.c_iflag |= IXON | IXOFF | IXANY | INPCK;
    ASSERT_EQ(::tcsetattr(Slave, TCSANOW, &Left), 0);
    Port.BaudRate = 4800;
    const std::string Control("\x11\x13\x0D\x0A\x00\x03", 6);
    Port.Write(Control);
    EXPECT_EQ(AskedFor.c_cflag & (CSIZE | CLOCAL | CREAD | PARENB | CSTOPB | CRTSCTS),
              tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(AskedFor.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP | IGNPAR),
              tcflag_t(IGNPAR));
    EXPECT_EQ(AskedFor.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(::cfgetospeed(&AskedFor), speed_t(B4800));
    // Control characters pass untouched both ways.
    char Out[16];
    EXPECT_EQ(std::string(Out, std::max<ssize_t>(0, ::read(Master, Out, sizeof Out))), Control);
    // One write reaches the line at once: the ESC after them is there to be
    // purged.
    ToMaster(Control + "\x1B");
    Port.Read(6, Data);
    EXPECT_EQ(Data, Control);
    errno = EIO; // left by an earlier call: not the purge's failure
    Port.PurgeInput();
    ToMaster("\x15");
    EXPECT_EQ(Port.ReadByte(), 0x15);
}

TEST_F(PtyPort, ReadsGiveUpAfterTheTimeoutsAndDropWhatCame) {
    Port.Timeout = 0; // leaves only the total's 1 ms
    Port.Write("");
    ExpectNoLink(1, 0, 100);
    Port.Close();
    Port.Timeout = 120;
    Port.Write("");
    ExpectNoLink(1, 120, 400); // T + 1 ms
    // A register silent from the start: T as well, not 8T + 1.
    ExpectNoLink(8, 120, 400);
    // More than T of silence after two bytes ends the read long before 5T + 1.
    ToMaster("ab");
    ExpectNoLink(5, 120, 400);
    // Bytes that keep coming within T each are all waited for.
    std::jthread Sender([&] {
        for (char C : std::string("xyz")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(70));
            ToMaster(std::string(1, C));
        }
    });
    std::string Data;
    Port.Read(3, Data);
    EXPECT_EQ(Data, "xyz");
    // What comes beyond the count stays on the line for the next read.
    std::jthread More([&] {
        ToMaster("a");
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
        ToMaster("bcdef");
    });
    Port.Read(3, Data);
    EXPECT_EQ(Data, "abc");
    More.join();
    Port.Read(3, Data);
    EXPECT_EQ(Data, "def");
    // A vanished device fails at once on read and write: no wait until T gives
    // up and calls it "Нет связи".
    ::close(Master);
    Master = -1;
    const std::string Gone = "Системная ошибка. Код: 5. Устройство отключено";
    EXPECT_EQ(Failure([&] { Port.ReadByte(); }), Gone);
    EXPECT_EQ(Detail, "Input/output error (errno 5), the line hung up");
    EXPECT_EQ(Failure([&] { Port.Write("\x05"); }), Gone);
}

// What the window's hook does to a read, beside what the window test shows
// (slices, a stop raised from the hook): a line it closed is not touched
// again, and bytes that came while it ran are taken even after the read's
// time is up.
TEST_F(PtyPort, AReadAfterItsWaitHook) {
    Port.Timeout = 200;
    Port.Write("");
    Port.SetWaitHook(20, [&] { Port.Close(); });
    EXPECT_EQ(Failure([&] { Port.ReadByte(); }), "-1 Нет связи");
    EXPECT_FALSE(Port.IsOpen());

    Port.Write("");
    Port.SetWaitHook(20, [&] {
        ToMaster("\x15");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    EXPECT_EQ(Port.ReadByte(), 0x15);
}

} // namespace
