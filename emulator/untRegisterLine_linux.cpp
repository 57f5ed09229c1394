#include "untRegisterLine.h"
#include "untTermios.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace emu {

namespace {

[[noreturn]] void RaiseErrno(const std::string& What, int Error = errno) {
    throw std::runtime_error(What + ": " + std::strerror(Error));
}

// Raw 8N1, as the program's port has it.
void MakeRaw(int Fd, const std::string& Path, std::optional<speed_t> Speed) {
    termios T{};
    if (tcgetattr(Fd, &T) != 0)
        RaiseErrno("cannot read the settings of " + Path);
    MakeRawLine(T, 1);
    if (Speed && (cfsetispeed(&T, *Speed) != 0 || cfsetospeed(&T, *Speed) != 0))
        RaiseErrno("cannot set the baud rate of " + Path);
    if (tcsetattr(Fd, TCSANOW, &T) != 0)
        RaiseErrno("cannot set up " + Path);
}

sigset_t StopSignals() {
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    return Set;
}

struct TFd {
    int Fd = -1;
    TFd() = default;
    TFd(const TFd&) = delete;
    ~TFd() { Close(); }
    void Close() {
        if (Fd >= 0)
            ::close(std::exchange(Fd, -1));
    }
};

// A pseudo-terminal or a serial device, with the link to it and the stop
// signals, which come as bytes to read beside the line's.
class TLinuxLine final : public TLinePort {
public:
    TLinuxLine(const TLineRequest& Request, const TLineLog& Log)
        : FLog(Log), FPath(Request.Device.value_or("")), FLinkPath(Request.Link) {
        if (Request.Device) {
            const auto Speed = TermiosSpeed(Request.Baud);
            if (!Speed)
                throw std::runtime_error("unsupported baud rate " + std::to_string(Request.Baud));
            Name = "DEVICE " + FPath;
            // Non-blocking so a modem line without carrier does not hold open().
            FLine.Fd = ::open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (FLine.Fd < 0)
                RaiseErrno("cannot open " + FPath);
            if (!isatty(FLine.Fd))
                throw std::runtime_error(FPath + " is not a serial device");
            MakeRaw(FLine.Fd, FPath, Speed);
            tcflush(FLine.Fd, TCIOFLUSH);
        } else {
            OpenPty();
        }
        // Blocked since PrepareStopRequest; one that came meanwhile is read at once.
        const sigset_t Stop = StopSignals();
        FSignals.Fd = signalfd(-1, &Stop, SFD_CLOEXEC);
        if (FSignals.Fd < 0)
            RaiseErrno("cannot take the stop signals");
        // Last: nothing after it can fail and leave the link behind.
        if (!FLinkPath.empty())
            MakeLink();
    }

    // Closing the master hangs up a host that has the slave open (EIO).
    ~TLinuxLine() override {
        FLine.Close();
        FSlave.Close();
        if (FLinkPath.empty())
            return;
        // Another emulator may have taken the link over since; leave it then.
        std::error_code Error;
        if (std::filesystem::read_symlink(FLinkPath, Error) != FPath)
            FLog(SteadyMs(),
                 "link " + FLinkPath + " no longer points to " + FPath + "; left alone");
        else if (::unlink(FLinkPath.c_str()) != 0)
            FLog(SteadyMs(), "cannot remove the link " + FLinkPath + ": " + std::strerror(errno));
    }

    std::optional<std::string> Read(std::optional<uint64_t> WaitMs) override {
        pollfd Fds[2] = {{FLine.Fd, static_cast<short>(POLLIN | (FWantWrite ? POLLOUT : 0)), 0},
                         {FSignals.Fd, POLLIN, 0}};
        const int Timeout = WaitMs ? static_cast<int>(std::min<uint64_t>(*WaitMs, 60000)) : -1;
        if (poll(Fds, 2, Timeout) < 0 && errno != EINTR) // interrupted: no revents, nothing read
            RaiseErrno("poll failed");
        if (Fds[1].revents) {
            signalfd_siginfo Signal{};
            if (::read(FSignals.Fd, &Signal, sizeof Signal) != sizeof Signal)
                RaiseErrno("cannot read the stop signal");
            FLog(SteadyMs(),
                 std::string("signal ") + strsignal(static_cast<int>(Signal.ssi_signo)));
            return std::nullopt;
        }
        if (Fds[0].revents & POLLOUT)
            FWantWrite = false;
        if (Fds[0].revents & POLLIN) {
            char Buffer[256];
            const ssize_t N = ::read(FLine.Fd, Buffer, sizeof Buffer);
            if (N < 0 && errno != EAGAIN && errno != EINTR)
                RaiseErrno("cannot read from " + FPath);
            if (N == 0)
                throw std::runtime_error(FPath + " closed");
            return std::string(Buffer, N > 0 ? static_cast<std::size_t>(N) : 0);
        }
        if (Fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            throw std::runtime_error(FPath + " hung up");
        return std::string();
    }

    std::size_t Write(std::string_view Bytes) override {
        const ssize_t N = ::write(FLine.Fd, Bytes.data(), Bytes.size());
        if (N < 0 && errno != EAGAIN && errno != EINTR)
            RaiseErrno("cannot write to " + FPath);
        const std::size_t Sent = N > 0 ? static_cast<std::size_t>(N) : 0;
        FWantWrite = Sent < Bytes.size();
        return Sent;
    }

private:
    void OpenPty() {
        FLine.Fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FLine.Fd < 0)
            RaiseErrno("cannot open a pseudo-terminal");
        if (grantpt(FLine.Fd) != 0 || unlockpt(FLine.Fd) != 0)
            RaiseErrno("cannot unlock the pseudo-terminal");
        char Path[128];
        if (const int Error = ptsname_r(FLine.Fd, Path, sizeof Path); Error != 0)
            RaiseErrno("cannot name the pseudo-terminal", Error);
        FPath = Path;
        Name = "PTY " + FPath;
        // With no process holding the slave, the master reports hang-up (poll returns
        // at once, EIO); holding it ourselves, it is a port with nothing plugged in.
        FSlave.Fd = ::open(Path, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FSlave.Fd < 0)
            RaiseErrno("cannot open " + FPath);
        // A host that does not set the line up itself still gets raw bytes.
        MakeRaw(FSlave.Fd, FPath, std::nullopt); // the master shares the slave's settings
        if (fcntl(FLine.Fd, F_SETFL, fcntl(FLine.Fd, F_GETFL) | O_NONBLOCK) != 0)
            RaiseErrno("cannot make the pseudo-terminal non-blocking");
    }

    void MakeLink() {
        struct stat St {};
        if (lstat(FLinkPath.c_str(), &St) == 0 && !S_ISLNK(St.st_mode))
            throw std::runtime_error(FLinkPath + " exists and is not a symlink; not replacing it");
        // Made aside and renamed over, so the link never points nowhere.
        const std::string Temp = FLinkPath + ".new." + std::to_string(getpid());
        ::unlink(Temp.c_str());
        if (symlink(FPath.c_str(), Temp.c_str()) != 0)
            RaiseErrno("cannot create the link " + Temp);
        if (rename(Temp.c_str(), FLinkPath.c_str()) != 0) {
            const int Error = errno;
            ::unlink(Temp.c_str());
            RaiseErrno("cannot create the link " + FLinkPath, Error);
        }
    }

    const TLineLog& FLog;
    std::string FPath; // the slave of the pseudo-terminal, or the device
    std::string FLinkPath;
    TFd FLine;
    TFd FSlave; // see OpenPty
    TFd FSignals;
    bool FWantWrite = false; // the line took less than it was given
};

} // namespace

void PrepareStopRequest() {
    const sigset_t Stop = StopSignals();
    if (sigprocmask(SIG_BLOCK, &Stop, nullptr) != 0)
        RaiseErrno("cannot block the stop signals");
}

std::unique_ptr<TLinePort> OpenLine(const TLineRequest& Request, const TLineLog& Log) {
    try {
        return std::make_unique<TLinuxLine>(Request, Log);
    } catch (const std::exception& E) {
        throw ELineSetup(E.what());
    }
}

} // namespace emu
