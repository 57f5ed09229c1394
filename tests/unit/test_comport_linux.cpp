// The serial port over pseudo-terminals: exclusive use, device names, the
// line settings, the timeouts in real time (generous bounds), and what a
// vanished device does.
#include "ScopedEnv.h"
#include "untComPort.h"
#include "untError.h"
#include "untTermios.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A pseudo-terminal whose slave is reachable as COM12 through a port folder
// of its own, and a port set up for it.
struct TPty {
    TPty() {
        static int Made = 0;
        Ports = fs::temp_directory_path() /
                ("ormant-ports-" + std::to_string(::getpid()) + "-" + std::to_string(++Made));
        fs::create_directories(Ports);
        PortDir.emplace("ORMANT_PORT_DIR", Ports.string());
        char Name[64];
        if (::openpty(&Master, &Slave, Name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        fs::create_symlink(Name, Com(12));
        Port.ComNumber = 12;
        Port.BaudRate = 9600;
        Port.Timeout = 120;
    }
    ~TPty() {
        Port.Close();
        if (Master >= 0)
            ::close(Master);
        ::close(Slave);
        fs::remove_all(Ports);
    }
    void ToMaster(const std::string& S) {
        if (::write(Master, S.data(), S.size()) != static_cast<ssize_t>(S.size()))
            throw std::runtime_error("write to the master failed");
    }
    int Exclusive() const {
        int Flag = -1;
        return ::ioctl(Slave, TIOCGEXCL, &Flag) == 0 ? Flag : -1;
    }
    fs::path Com(int N) const { return Ports / ("com" + std::to_string(N)); }
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

    fs::path Ports;
    std::optional<TScopedEnv> PortDir;
    int Master = -1, Slave = -1;
    TComPort Port;
    std::string Detail;
};

// A refused device is not kept open.
std::size_t OpenFds() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

// Nothing but a serial line is ever written to: what is not a terminal, or
// not there, is refused before a byte goes out, with the system's reason.
// "" is no link at all: never /dev/ttyS12 instead.
TEST(PtyPort, TakesOnlyATerminal) {
    const std::pair<const char*, const char*> Cases[] = {{"register.bin", "Inappropriate"},
                                                         {"/dev/null", "Inappropriate"},
                                                         {"nowhere", "No such file"},
                                                         {"", "No such file"}};
    for (const auto& [Target, Reason] : Cases) {
        TPty P;
        std::ofstream{P.Ports / "register.bin"};
        if (*Target)
            fs::create_symlink(P.Ports / Target, P.Com(13));
        P.Port.ComNumber = 13;
        const std::size_t Fds = OpenFds();
        EXPECT_EQ(P.Failure([&] { P.Port.Write("\x05"); }), "-2 СOM порт не доступен") << Target;
        EXPECT_EQ(OpenFds(), Fds);
        EXPECT_NE(P.Detail.find(P.Com(13).string() + "): " + Reason), P.Detail.npos) << P.Detail;
        EXPECT_EQ(fs::file_size(P.Ports / "register.bin"), 0u);
    }
}

// Only where there is no port folder at all is COMn the system's ttyS; an
// empty setting is no setting.
TEST(PtyPort, PortFolder) {
    TPty P;
    const TScopedEnv Home("HOME", P.Ports.string());
    fs::create_directories(P.Ports / ".ormant/dosdevices");
    const struct {
        std::string Setting, Name;
    } Cases[] = {
        {(P.Ports / "absent").string(), "/dev/ttyS2"},
        {P.Ports.string(), P.Com(3).string()},
        {"", (P.Ports / ".ormant/dosdevices/com3").string()},
    };
    for (const auto& C : Cases) {
        const TScopedEnv Setting("ORMANT_PORT_DIR", C.Setting);
        EXPECT_EQ(ComDeviceName(3), C.Name) << C.Setting;
    }
}

// A terminal held by another port or program is busy, for root too, whom
// the kernel lets through; another program's flag is left alone. The test
// keeps the slave open, as the emulator or a service would.
TEST(PtyPort, ABusyLine) {
    const struct {
        const char* Name;
        std::function<void(TPty&)> Hold;
        int FlagAfter;
    } Cases[] = {
        {"another program's TIOCEXCL", [](TPty& P) { ::ioctl(P.Slave, TIOCEXCL); }, 1},
        {"another program's lock", [](TPty& P) { ::flock(P.Slave, LOCK_EX | LOCK_NB); }, 0},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TPty P;
        C.Hold(P);
        const std::size_t Fds = OpenFds();
        EXPECT_EQ(P.Failure([&] { P.Port.Write(""); }), "-3 СOM порт занят другим приложением");
        EXPECT_EQ(OpenFds(), Fds);
        EXPECT_EQ(P.Exclusive(), C.FlagAfter);
    }
    // Another port of ours holds it until that port goes.
    TPty P;
    auto Other = std::make_unique<TComPort>();
    Other->ComNumber = 12;
    Other->BaudRate = 9600;
    Other->Write("");
    EXPECT_EQ(P.Failure([&] { P.Port.Write(""); }), "-3 СOM порт занят другим приложением");
    Other.reset();
    EXPECT_EQ(P.Failure([&] { P.Port.Write(""); }), "no failure");
}

TEST(PtyPort, FailuresReadInRussianWhereATechnicianMeetsThem) {
    const std::pair<int, const char*> Cases[] = {{ENOENT, "Код: 2. Устройство не найдено"},
                                                 {EIO, "Код: 5. Ошибка ввода-вывода"},
                                                 {EPIPE, "Код: 32. Broken pipe"}};
    TPty P;
    for (const auto& [Code, Text] : Cases)
        EXPECT_EQ(P.Failure([&] { CheckOSError(Code); }), std::string("Системная ошибка. ") + Text);
    try {
        throw 42;
    } catch (...) {
        EXPECT_EQ(CurrentFailureText(), "Неизвестная ошибка");
    }
    EXPECT_NO_THROW(CheckOSError(ENOTTY)); // a control the device does not have
    EXPECT_NO_THROW(P.Port.PurgeInput());  // closed: nothing to purge
    // Read does not open: on the closed port it fails at once, not after T.
    std::string Data;
    EXPECT_EQ(P.Failure([&] { P.Port.Read(1, Data); }), "Системная ошибка. Код: 9. Порт не открыт");
    P.Port.BaudRate = 12345;
    EXPECT_EQ(P.Failure([&] { P.Port.Write(""); }),
              "Системная ошибка. Код: 22. Недопустимый параметр");
    EXPECT_FALSE(P.Port.IsOpen()); // settings that did not apply: not open
}

// Whatever an earlier program left on the line goes. Checked on the settings
// themselves: a pseudo-terminal keeps CREAD whatever it is told, and a real
// port without it receives nothing.
TEST(PtyPort, ARawEightBitLine) {
    termios Left{};
    Left.c_iflag = IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP;
    Left.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    Left.c_lflag = ICANON | ECHO | ISIG;
    Left.c_cc[VTIME] = 5;
    MakeRawLine(Left, 0);
    EXPECT_EQ(Left.c_cflag & (CSIZE | CLOCAL | CREAD | PARENB | CSTOPB | CRTSCTS),
              tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(Left.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP | IGNPAR),
              tcflag_t(IGNPAR));
    EXPECT_EQ(Left.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(Left.c_cc[VMIN] + Left.c_cc[VTIME], 0);
    // On the line: its rate, and control characters untouched both ways.
    TPty P;
    P.Port.BaudRate = 4800;
    const std::string Control("\x11\x13\x0D\x0A\x00\x03", 6);
    P.Port.Write(Control);
    ASSERT_EQ(::tcgetattr(P.Slave, &Left), 0);
    EXPECT_EQ(::cfgetospeed(&Left), speed_t(B4800));
    char Out[16];
    EXPECT_EQ(std::string(Out, std::max<ssize_t>(0, ::read(P.Master, Out, sizeof Out))), Control);
    P.ToMaster(Control);
    std::string Data;
    P.Port.Read(6, Data);
    EXPECT_EQ(Data, Control);
}

// One write reaches the line at once: the ESC after it is there to be purged.
TEST(PtyPort, PurgeDropsWhatWaits) {
    TPty P;
    P.Port.Write("");
    P.ToMaster("\x1B");
    std::this_thread::sleep_for(20ms);
    errno = EIO; // left by an earlier call: not the purge's failure
    P.Port.PurgeInput();
    P.ToMaster("\x15");
    EXPECT_EQ(P.Port.ReadByte(), 0x15);
}

// More than the line's buffer takes at once leaves in parts, as the line
// drains.
TEST(PtyPort, ALongWriteArrivesWhole) {
    TPty P;
    P.Port.Timeout = 0; // no limit, as on Windows
    std::string Sent(200000, '\0');
    for (std::size_t I = 0; I < Sent.size(); ++I)
        Sent[I] = static_cast<char>(I * 7 % 251);
    std::string Got;
    std::jthread Reader([&] {
        char Buffer[4096];
        pollfd Master{P.Master, POLLIN, 0};
        while (Got.size() < Sent.size() && ::poll(&Master, 1, 1000) == 1) {
            const ssize_t N = ::read(P.Master, Buffer, sizeof Buffer);
            if (N <= 0)
                break;
            Got.append(Buffer, static_cast<std::size_t>(N));
        }
    });
    int Waits = 0; // on the full line, each told to the hook
    P.Port.SetWaitHook(20, [&](uint32_t, bool) { ++Waits; });
    P.Port.Write(Sent);
    Reader.join();
    EXPECT_TRUE(Got == Sent);
    EXPECT_GT(Waits, 0);
}

// A vanished device fails at once on read and write: no wait until T gives
// up and calls it "Нет связи".
TEST(PtyPort, AVanishedDeviceFailsAtOnce) {
    TPty P;
    P.Port.Timeout = 5000;
    P.Port.Write("");
    ::close(P.Master);
    P.Master = -1;
    const std::string Gone = "Системная ошибка. Код: 5. Устройство отключено";
    EXPECT_EQ(P.Failure([&] { P.Port.ReadByte(); }), Gone);
    EXPECT_EQ(P.Detail, "Input/output error (errno 5), the line hung up");
    EXPECT_EQ(P.Failure([&] { P.Port.Write("\x05"); }), Gone);
}

} // namespace
