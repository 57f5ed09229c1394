#include "untRegisterLine.h"

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
#include <thread>
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

// Raw 8N1 both ways, as the program's port has it; a read returns whatever
// has come.
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

void CloseFd(int& Fd) noexcept {
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
}

// Blocks SIGINT and SIGTERM, the signals that stop the emulator, in the
// calling thread and returns their set.
sigset_t BlockStopSignals() {
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    if (const int Error = pthread_sigmask(SIG_BLOCK, &Set, nullptr); Error != 0)
        RaiseErrno("cannot block signals", Error);
    return Set;
}

// Runs a TRegisterCore on a line: the master side of a new pseudo-terminal,
// or an existing serial device. The line is served by a background thread.
class TPtyRegister {
public:
    struct TDevice {
        std::string Path;
        uint32_t Baud = 9600;
    };

    // A new pseudo-terminal. A non-empty LinkPath becomes a symlink to its
    // slave (an existing symlink there is replaced) for the life of the object.
    TPtyRegister(TRegisterOptions Options, std::string LinkPath, TLogSink Log);
    // An existing serial device, raw 8N1 without flow control.
    TPtyRegister(TRegisterOptions Options, TDevice Device, std::string LinkPath, TLogSink Log);
    ~TPtyRegister();
    TPtyRegister(const TPtyRegister&) = delete;
    TPtyRegister& operator=(const TPtyRegister&) = delete;

    // The slave of the pseudo-terminal, or the device path.
    std::string SlavePath() const { return FSlavePath; }
    bool IsPty() const { return FIsPty; }

    // Ends the thread, closes the line and removes the link. A host that has
    // the slave open then sees the device gone (hang-up, EIO). Rethrows a
    // failure that ended the thread earlier. Idempotent.
    void Stop();

    // Serves the line until SIGINT or SIGTERM, then stops. Returns the signal.
    // Blocks those signals in the calling thread; block them before the
    // object is made (PrepareStopRequest) to leave no window in which they
    // kill the program.
    int RunUntilSignal();

private:
    void OpenPty();
    void OpenDevice(const TDevice& Device);
    void MakeLink();
    void RemoveLink() noexcept;
    void Start();
    void Run();
    void Serve();
    void WriteLog(uint64_t NowMs, const std::string& Line) const { FLog(NowMs, Line); }
    void CloseAll() noexcept;

    TRegisterCore FCore; // the line thread's alone once it runs
    TLineLog FLog;

    bool FIsPty = true;
    std::string FSlavePath;
    std::string FLinkPath;
    bool FLinkMade = false;
    int FLineFd = -1;
    int FSlaveFd = -1; // kept open by the pty runner, see OpenPty
    int FWakeFd = -1;  // eventfd that tells the thread to stop

    std::thread FThread;
    std::atomic<bool> FFailed{false};
    std::exception_ptr FFailure;
    bool FStopped = false;
};

} // namespace

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
        WriteLog(SteadyMs(), std::string("stopped after a failure: ") + E.what());
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
        WriteLog(SteadyMs(),
                 "link " + FLinkPath + " no longer points to " + FSlavePath + "; left alone");
        return;
    }
    if (::unlink(FLinkPath.c_str()) != 0)
        WriteLog(SteadyMs(), "cannot remove the link " + FLinkPath + ": " + std::strerror(errno));
}

void TPtyRegister::Start() {
    FCore.SetLog([this](uint64_t NowMs, const std::string& Line) { WriteLog(NowMs, Line); });
    if (!FLinkPath.empty())
        MakeLink();
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd < 0)
        RaiseErrno("cannot create an eventfd");
    WriteLog(SteadyMs(), StartLine(std::string(FIsPty ? "PTY " : "DEVICE ") + FSlavePath +
                                       (FLinkPath.empty() ? "" : " (link " + FLinkPath + ")"),
                                   FCore));
    FThread = std::thread([this] { Run(); });
}

void TPtyRegister::Run() {
    // Signals belong to the program's main thread (RunUntilSignal).
    sigset_t All;
    sigfillset(&All);
    pthread_sigmask(SIG_BLOCK, &All, nullptr);
    try {
        Serve();
    } catch (const std::exception& E) {
        WriteLog(SteadyMs(), std::string("stopped: ") + E.what());
        FFailure = std::current_exception();
        FFailed = true;
    } catch (...) {
        FFailure = std::current_exception();
        FFailed = true;
    }
}

void TPtyRegister::Serve() {
    TOutputSchedule Output(FCore.ByteGap());
    bool WriteBlocked = false;
    for (;;) {
        uint64_t Now = SteadyMs();
        FCore.Advance(Now);
        std::optional<uint64_t> Deadline = FCore.NextDeadline();
        while (!WriteBlocked) {
            const std::string_view Due = Output.Due(Now);
            if (Due.empty())
                break;
            const ssize_t N = ::write(FLineFd, Due.data(), Due.size());
            if (N >= 0)
                Output.Sent(static_cast<std::size_t>(N));
            else if (errno == EAGAIN)
                WriteBlocked = true;
            else if (errno != EINTR)
                RaiseErrno("cannot write to " + FSlavePath);
        }
        if (const auto Next = Output.NextDue(); Next && !WriteBlocked)
            Deadline = Deadline ? std::min(*Deadline, *Next) : *Next;
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
                Now = SteadyMs();
                const std::string Out =
                    FCore.Receive(std::string_view(Buffer, static_cast<std::size_t>(N)), Now);
                Output.Add(Out, FCore.OutputStart());
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
    WriteLog(SteadyMs(), "stopped");
    if (FFailure)
        std::rethrow_exception(FFailure);
}

int TPtyRegister::RunUntilSignal() {
    const sigset_t Set = BlockStopSignals();
    // Wakes now and then to notice a thread that ended by a failure.
    const timespec Poll{0, 200'000'000};
    for (;;) {
        const int Signal = sigtimedwait(&Set, nullptr, &Poll);
        if (Signal > 0) {
            WriteLog(SteadyMs(), std::string("signal ") + strsignal(Signal));
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

void PrepareStopRequest() {
    BlockStopSignals();
}

void ServeUntilStopped(const TRegisterOptions& Options, const TLineRequest& Request,
                       const TLogSink& Log, const std::function<void(const std::string&)>& Ready) {
    std::optional<TPtyRegister> Register;
    try {
        if (Request.Device)
            Register.emplace(Options, TPtyRegister::TDevice{*Request.Device, Request.Baud},
                             Request.Link, Log);
        else
            Register.emplace(Options, Request.Link, Log);
    } catch (const std::exception& E) {
        throw ELineSetup(E.what());
    }
    Ready((Register->IsPty() ? "PTY " : "DEVICE ") + Register->SlavePath());
    Register->RunUntilSignal();
    Register->Stop();
}

} // namespace emu
