// The register on a real pseudo-terminal, in real time. Bounds are loose:
// they only tell "answered" from "never answered".
#include "untFrames.h"
#include "untPtyRegister.h"
#include "untRegisterProtocol.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

// The host's end: a raw, non-blocking descriptor.
class THost {
public:
    explicit THost(int AFd) : Fd(AFd) {}
    explicit THost(const std::string& Path) {
        Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (Fd < 0)
            throw std::runtime_error("cannot open " + Path);
        termios T{};
        tcgetattr(Fd, &T);
        cfmakeraw(&T);
        tcsetattr(Fd, TCSANOW, &T);
    }
    ~THost() { ::close(Fd); }
    void Write(const std::string& S) const {
        if (::write(Fd, S.data(), S.size()) != static_cast<ssize_t>(S.size()))
            throw std::runtime_error("short write");
    }
    // Whatever arrives within TimeoutMs, up to Count bytes.
    std::string Read(std::size_t Count, int TimeoutMs = 2000) const {
        std::string S;
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (S.size() < Count) {
            const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  End - std::chrono::steady_clock::now())
                                  .count();
            if (Left <= 0)
                break;
            pollfd P{Fd, POLLIN, 0};
            if (poll(&P, 1, static_cast<int>(Left)) <= 0 || !(P.revents & POLLIN))
                break;
            char Buf[64];
            const ssize_t N = ::read(Fd, Buf, std::min(sizeof Buf, Count - S.size()));
            if (N <= 0)
                break;
            S.append(Buf, static_cast<std::size_t>(N));
        }
        return S;
    }
    // ACK, STX, length, data, checksum.
    std::string ReadAckAndFrame() const {
        std::string S = Read(3);
        if (S.size() == 3)
            S += Read(static_cast<uint8_t>(S[2]) + 1u);
        return S;
    }
    int Fd = -1;
};

std::string TempPath(const std::string& Name) {
    return (fs::temp_directory_path() / (Name + "." + std::to_string(getpid()))).string();
}

const std::string StatusCmd = BuildFrame(regproto::ShortStatusCommand());

} // namespace

TEST(PtyRegister, AnswersEnqAndFrames) {
    std::vector<std::string> Log;
    std::mutex LogMutex;
    emu::TPtyRegister Reg({.InitialTimeout = 1000}, {}, [&](const std::string& L) {
        std::lock_guard Lock(LogMutex);
        Log.push_back(L);
    });
    ASSERT_TRUE(Reg.SlavePath().starts_with("/dev/pts/"));
    THost Host(Reg.SlavePath());

    Host.Write("\x05");
    EXPECT_EQ(Host.Read(1), "\x15");

    Host.Write(StatusCmd);
    const std::string Out = Host.ReadAckAndFrame();
    ASSERT_EQ(Out.size(), 11u); // ACK and a frame of 7 data bytes
    EXPECT_EQ(Out.substr(0, 4), "\x06\x02"s + Out[2] + "\x11");
    EXPECT_TRUE(Reg.HoldsAnswer());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    Host.Write("\x06");
    // The ACK is in time unless the machine stalls for a second.
    for (int I = 0; I < 100 && Reg.HoldsAnswer(); ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(Reg.LastAckDelay());
    EXPECT_GE(*Reg.LastAckDelay(), 50u);
    EXPECT_LT(*Reg.LastAckDelay(), 1000u);
    EXPECT_FALSE(Reg.HoldsAnswer());

    Reg.Stop();
    std::lock_guard Lock(LogMutex);
    ASSERT_FALSE(Log.empty());
    // "hh:mm:ss.mmm " before every line.
    EXPECT_EQ(Log[0].size() > 13 ? Log[0][8] : 0, '.');
    bool SawDelivery = false;
    for (const auto& L : Log)
        SawDelivery |= L.find("ms: answer delivered") != std::string::npos;
    EXPECT_TRUE(SawDelivery);
}

TEST(PtyRegister, TimeoutSetOverTheLineIsCapped) {
    emu::TPtyRegister Reg({.InitialTimeout = 150, .MaxTimeout = 400});
    THost Host(Reg.SlavePath());
    const std::string Set = BuildFrame(regproto::SetExchangeTimeoutCommand(5000));
    Host.Write(Set);
    EXPECT_EQ(Host.Read(6), "\x06" + BuildFrame("\x14\x00"s));
    Host.Write("\x06");
    for (int I = 0; I < 100 && Reg.HoldsAnswer(); ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Reg.RequestedTimeout(), 5000u);
    EXPECT_EQ(Reg.ExchangeTimeout(), 400u);
}

TEST(PtyRegister, UnansweredAnswerIsOfferedAtEnq) {
    emu::TPtyRegister Reg({.InitialTimeout = 50});
    THost Host(Reg.SlavePath());
    Host.Write(StatusCmd);
    const std::string Out = Host.ReadAckAndFrame();
    ASSERT_EQ(Out.size(), 11u); // ACK and a frame of 7 data bytes
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Reg.HoldsAnswer());
    Host.Write("\x05");
    EXPECT_EQ(Host.Read(Out.size()), Out);
}

TEST(PtyRegister, SlowBytesAreSpreadOut) {
    emu::TPtyRegister Reg({.Fault = emu::TFault::SlowBytes, .ByteGapMs = 30});
    THost Host(Reg.SlavePath());
    const auto Start = std::chrono::steady_clock::now();
    Host.Write(StatusCmd);
    const std::string Out = Host.ReadAckAndFrame();
    const auto Took = std::chrono::steady_clock::now() - Start;
    ASSERT_EQ(Out.size(), 11u); // ACK and a frame of 7 data bytes
    EXPECT_GE(Took, std::chrono::milliseconds(30 * 10 - 5));
}

TEST(PtyRegister, LinkMadeReplacedAndRemoved) {
    const std::string Link = TempPath("ormant-emu-link");
    fs::remove(Link);
    fs::create_symlink("/nonexistent", Link);
    {
        emu::TPtyRegister Reg({}, Link);
        ASSERT_TRUE(fs::is_symlink(Link));
        EXPECT_EQ(fs::read_symlink(Link).string(), Reg.SlavePath());
        // The link works as the port's name.
        THost Host(Link);
        Host.Write("\x05");
        EXPECT_EQ(Host.Read(1), "\x15");
        Reg.Stop();
        EXPECT_FALSE(fs::exists(fs::symlink_status(Link)));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link)));
}

TEST(PtyRegister, RefusesToReplaceAFile) {
    const std::string Path = TempPath("ormant-emu-file");
    { std::ofstream(Path) << "keep"; }
    EXPECT_THROW(emu::TPtyRegister({}, Path), std::runtime_error);
    EXPECT_TRUE(fs::is_regular_file(Path));
    fs::remove(Path);
}

TEST(PtyRegister, HostSeesHangUpAfterStop) {
    emu::TPtyRegister Reg({});
    THost Host(Reg.SlavePath());
    Host.Write("\x05");
    ASSERT_EQ(Host.Read(1), "\x15");
    Reg.Stop();
    pollfd P{Host.Fd, POLLIN, 0};
    ASSERT_EQ(poll(&P, 1, 2000), 1);
    EXPECT_TRUE(P.revents & (POLLHUP | POLLERR));
    char C;
    const ssize_t N = ::read(Host.Fd, &C, 1);
    EXPECT_TRUE(N == 0 || (N < 0 && errno == EIO)) << N << " " << errno;
    EXPECT_EQ(::write(Host.Fd, "\x05", 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(fs::exists(Reg.SlavePath()));
}

TEST(PtyRegister, ServesAnExistingDevice) {
    // Another pseudo-terminal stands in for the serial device; the test is
    // the host on its master side.
    const int Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(Master, 0);
    ASSERT_EQ(grantpt(Master), 0);
    ASSERT_EQ(unlockpt(Master), 0);
    const std::string Device = ptsname(Master);
    {
        emu::TPtyRegister Reg({}, emu::TPtyRegister::TDevice{Device, 19200});
        EXPECT_FALSE(Reg.IsPty());
        EXPECT_EQ(Reg.SlavePath(), Device);
        THost Host(::dup(Master));
        fcntl(Host.Fd, F_SETFL, O_NONBLOCK);
        Host.Write("\x05");
        EXPECT_EQ(Host.Read(1), "\x15");
    }
    ::close(Master);
    EXPECT_THROW(emu::TPtyRegister({}, emu::TPtyRegister::TDevice{"/dev/null", 9600}),
                 std::runtime_error);
    EXPECT_THROW(emu::TPtyRegister({}, emu::TPtyRegister::TDevice{Device, 12345}),
                 std::invalid_argument);
}
