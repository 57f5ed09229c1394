#include "untPtyRegister.h"

#include "untTermios.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace emu {

namespace {

[[noreturn]] void RaiseErrno(const std::string& What, int Error = errno) {
    throw std::runtime_error(What + ": " + std::strerror(Error));
}

speed_t BaudConstant(uint32_t Baud) {
    if (const auto Speed = TermiosSpeed(Baud))
        return *Speed;
    throw std::invalid_argument("unsupported baud rate " + std::to_string(Baud));
}

// Raw bytes both ways: no echo, no line editing, no translation, no flow
// control, 8N1, and a read returns whatever has come.
void MakeRaw(int Fd, const std::string& Path, std::optional<speed_t> Speed) {
    termios T{};
    if (tcgetattr(Fd, &T) != 0)
        RaiseErrno("cannot read the settings of " + Path);
    cfmakeraw(&T);
    T.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    T.c_cflag |= CLOCAL | CREAD | CS8;
    T.c_iflag &= ~(IXON | IXOFF | IXANY);
    T.c_cc[VMIN] = 1;
    T.c_cc[VTIME] = 0;
    if (Speed && (cfsetispeed(&T, *Speed) != 0 || cfsetospeed(&T, *Speed) != 0))
        RaiseErrno("cannot set the baud rate of " + Path);
    if (tcsetattr(Fd, TCSANOW, &T) != 0)
        RaiseErrno("cannot set up " + Path);
}

void CloseFd(int& Fd) noexcept {
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
}

} // namespace

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TPtyRegister::TPtyRegister(TRegisterOptions Options, std::string LinkPath, TLogSink Log)
    : FCore(Options), FLog(std::move(Log)), FLinkPath(std::move(LinkPath)) {
    try {
        OpenPty();
        Start();
    } catch (...) {
        CloseAll();
        RemoveLink();
        throw;
    }
}

TPtyRegister::TPtyRegister(TRegisterOptions Options, TDevice Device, std::string LinkPath,
                           TLogSink Log)
    : FCore(Options), FLog(std::move(Log)), FIsPty(false), FLinkPath(std::move(LinkPath)) {
    try {
        OpenDevice(Device);
        Start();
    } catch (...) {
        CloseAll();
        RemoveLink();
        throw;
    }
}

TPtyRegister::~TPtyRegister() {
    try {
        Stop();
    } catch (const std::exception& E) {
        // The failure was logged when it ended the thread; this says that
        // nobody collected it.
        WriteLog(MonotonicMs(), std::string("stopped after a failure: ") + E.what());
    }
}

void TPtyRegister::OpenPty() {
    FLineFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FLineFd < 0)
        RaiseErrno("cannot open a pseudo-terminal");
    if (grantpt(FLineFd) != 0 || unlockpt(FLineFd) != 0)
        RaiseErrno("cannot unlock the pseudo-terminal");
    char Name[128];
    if (const int Error = ptsname_r(FLineFd, Name, sizeof Name); Error != 0)
        RaiseErrno("cannot name the pseudo-terminal", Error);
    FSlavePath = Name;
    // The emulator holds the slave open itself. While no process has the
    // slave open, Linux reports hang-up on the master: poll() returns POLLHUP
    // at once (a busy loop) and read() fails with EIO, which would look like
    // the end of the line. With our own slave open the master behaves like a
    // port with nothing plugged in until a host opens it; only closing the
    // master (Stop) hangs the host up.
    FSlaveFd = ::open(Name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlaveFd < 0)
        RaiseErrno("cannot open " + FSlavePath);
    // A host that does not set the line up itself still gets raw bytes.
    MakeRaw(FSlaveFd, FSlavePath, std::nullopt);
    MakeRaw(FLineFd, FSlavePath + " (master)", std::nullopt);
    if (fcntl(FLineFd, F_SETFL, fcntl(FLineFd, F_GETFL) | O_NONBLOCK) != 0)
        RaiseErrno("cannot make the pseudo-terminal non-blocking");
}

void TPtyRegister::OpenDevice(const TDevice& Device) {
    const speed_t Speed = BaudConstant(Device.Baud);
    FSlavePath = Device.Path;
    // Non-blocking so a modem line without carrier does not hold open().
    FLineFd = ::open(Device.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FLineFd < 0)
        RaiseErrno("cannot open " + Device.Path);
    if (!isatty(FLineFd))
        throw std::runtime_error(Device.Path + " is not a serial device");
    MakeRaw(FLineFd, Device.Path, Speed);
    tcflush(FLineFd, TCIOFLUSH);
}

void TPtyRegister::MakeLink() {
    struct stat St {};
    if (lstat(FLinkPath.c_str(), &St) == 0 && !S_ISLNK(St.st_mode))
        throw std::runtime_error(FLinkPath + " exists and is not a symlink; not replacing it");
    // Made aside and renamed over, so the link never points nowhere.
    const std::string Temp = FLinkPath + ".new." + std::to_string(getpid());
    ::unlink(Temp.c_str());
    if (symlink(FSlavePath.c_str(), Temp.c_str()) != 0)
        RaiseErrno("cannot create the link " + Temp);
    if (rename(Temp.c_str(), FLinkPath.c_str()) != 0) {
        const int Error = errno;
        ::unlink(Temp.c_str());
        RaiseErrno("cannot create the link " + FLinkPath, Error);
    }
    FLinkMade = true;
}

void TPtyRegister::RemoveLink() noexcept {
    if (!FLinkMade)
        return;
    FLinkMade = false;
    // Another emulator may have taken the link over since; leave it then.
    char Target[4096];
    const ssize_t N = readlink(FLinkPath.c_str(), Target, sizeof Target - 1);
    if (N < 0 || std::string(Target, static_cast<std::size_t>(N)) != FSlavePath) {
        WriteLog(MonotonicMs(),
                 "link " + FLinkPath + " no longer points to " + FSlavePath + "; left alone");
        return;
    }
    if (::unlink(FLinkPath.c_str()) != 0)
        WriteLog(MonotonicMs(),
                 "cannot remove the link " + FLinkPath + ": " + std::strerror(errno));
}

void TPtyRegister::Start() {
    using namespace std::chrono;
    FWallOffsetMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
                    static_cast<int64_t>(MonotonicMs());
    FCore.SetLog([this](uint64_t NowMs, const std::string& Line) { WriteLog(NowMs, Line); });
    if (!FLinkPath.empty())
        MakeLink();
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd < 0)
        RaiseErrno("cannot create an eventfd");
    const auto& O = FCore.Options();
    WriteLog(
        MonotonicMs(),
        std::string(FIsPty ? "PTY " : "DEVICE ") + FSlavePath +
            (FLinkPath.empty() ? "" : " (link " + FLinkPath + ")") + ": exchange timeout " +
            std::to_string(FCore.ExchangeTimeout()) + " ms (requested " +
            std::to_string(FCore.RequestedTimeout()) + ", cap " + std::to_string(O.MaxTimeout) +
            "), fault " + FaultName(O.Fault) +
            (O.Fault == TFault::WrongEnq
                 ? " " + HexBytes(std::string(1, static_cast<char>(O.WrongEnqReply)))
                 : "") +
            (O.FaultAfterTimeoutCommand && O.Fault != TFault::None
                 ? " from the first timeout command on"
                 : "") +
            (O.ByteGapMs ? ", " + std::to_string(O.ByteGapMs) + " ms between sent bytes" : ""));
    FThread = std::thread([this] { Run(); });
}

void TPtyRegister::WriteLog(uint64_t NowMs, const std::string& Line) const {
    if (!FLog)
        return;
    const int64_t Wall = static_cast<int64_t>(NowMs) + FWallOffsetMs;
    const time_t Seconds = static_cast<time_t>(Wall / 1000);
    tm Local{};
    localtime_r(&Seconds, &Local);
    char Stamp[32];
    std::snprintf(Stamp, sizeof Stamp, "%02d:%02d:%02d.%03d ", Local.tm_hour, Local.tm_min,
                  Local.tm_sec, static_cast<int>(Wall % 1000));
    std::lock_guard Lock(FLogMutex);
    FLog(Stamp + Line);
}

void TPtyRegister::Run() {
    // Signals belong to the program's main thread (RunUntilSignal).
    sigset_t All;
    sigfillset(&All);
    pthread_sigmask(SIG_BLOCK, &All, nullptr);
    try {
        Serve();
    } catch (const std::exception& E) {
        WriteLog(MonotonicMs(), std::string("stopped: ") + E.what());
        FFailure = std::current_exception();
        FFailed = true;
    } catch (...) {
        FFailure = std::current_exception();
        FFailed = true;
    }
}

void TPtyRegister::Serve() {
    std::string Pending;  // bytes still to send
    uint64_t NextDue = 0; // when Pending[0] is due
    bool WriteBlocked = false;
    const uint32_t Gap = FCore.ByteGap();
    for (;;) {
        uint64_t Now = MonotonicMs();
        std::optional<uint64_t> Deadline;
        FCore.Advance(Now);
        Deadline = FCore.NextDeadline();
        while (!Pending.empty() && !WriteBlocked && NextDue <= Now) {
            // With a gap, one byte per due time; the schedule follows the
            // core's, not the moment the write happened, so both agree on
            // when the last byte left.
            const std::size_t Count = Gap ? 1 : Pending.size();
            const ssize_t N = ::write(FLineFd, Pending.data(), Count);
            if (N < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    WriteBlocked = true;
                else
                    RaiseErrno("cannot write to " + FSlavePath);
            } else {
                Pending.erase(0, static_cast<std::size_t>(N));
                NextDue += Gap * static_cast<uint64_t>(N);
            }
        }
        if (!Pending.empty() && !WriteBlocked)
            Deadline = Deadline ? std::min(*Deadline, NextDue) : NextDue;
        int Timeout = -1;
        if (Deadline)
            Timeout =
                *Deadline > Now ? static_cast<int>(std::min<uint64_t>(*Deadline - Now, 60000)) : 0;
        pollfd Fds[2] = {{FLineFd, static_cast<short>(POLLIN | (WriteBlocked ? POLLOUT : 0)), 0},
                         {FWakeFd, POLLIN, 0}};
        if (poll(Fds, 2, Timeout) < 0) {
            if (errno == EINTR)
                continue;
            RaiseErrno("poll failed");
        }
        if (Fds[1].revents)
            return;
        if (Fds[0].revents & POLLOUT)
            WriteBlocked = false;
        if (Fds[0].revents & POLLIN) {
            char Buffer[256];
            const ssize_t N = ::read(FLineFd, Buffer, sizeof Buffer);
            if (N < 0 && errno != EAGAIN && errno != EINTR)
                RaiseErrno("cannot read from " + FSlavePath);
            if (N == 0)
                throw std::runtime_error(FSlavePath + " closed");
            if (N > 0) {
                Now = MonotonicMs();
                const std::string Out =
                    FCore.Receive(std::string_view(Buffer, static_cast<std::size_t>(N)), Now);
                if (Pending.empty())
                    NextDue = FCore.OutputStart();
                Pending += Out;
            }
        } else if (Fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            throw std::runtime_error(FSlavePath + " hung up");
        }
    }
}

void TPtyRegister::CloseAll() noexcept {
    CloseFd(FLineFd);
    CloseFd(FSlaveFd);
    CloseFd(FWakeFd);
}

void TPtyRegister::Stop() {
    if (FStopped)
        return;
    FStopped = true;
    if (FThread.joinable()) {
        const uint64_t One = 1;
        if (::write(FWakeFd, &One, sizeof One) != sizeof One)
            RaiseErrno("cannot wake the line thread");
        FThread.join();
    }
    CloseAll();
    RemoveLink();
    WriteLog(MonotonicMs(), "stopped");
    if (FFailure)
        std::rethrow_exception(FFailure);
}

sigset_t BlockStopSignals() {
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    if (const int Error = pthread_sigmask(SIG_BLOCK, &Set, nullptr); Error != 0)
        RaiseErrno("cannot block signals", Error);
    return Set;
}

int TPtyRegister::RunUntilSignal() {
    const sigset_t Set = BlockStopSignals();
    // Wakes now and then to notice a thread that ended by a failure.
    const timespec Poll{0, 200'000'000};
    for (;;) {
        const int Signal = sigtimedwait(&Set, nullptr, &Poll);
        if (Signal > 0) {
            WriteLog(MonotonicMs(), std::string("signal ") + strsignal(Signal));
            Stop();
            return Signal;
        }
        if (errno != EAGAIN && errno != EINTR)
            RaiseErrno("cannot wait for a signal");
        if (FFailed) {
            Stop();
            throw std::logic_error("line thread failed without a failure to report");
        }
    }
}

} // namespace emu
