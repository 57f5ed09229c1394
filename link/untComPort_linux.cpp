// The serial port on Linux: termios for the line, poll() with a
// monotonic clock for the timeouts (VTIME cannot express 100 s), flock() and
// TIOCEXCL for exclusive use. Only terminals are taken for ports.
#include "untComPort.h"

#include "untError.h"
#include "untReadTimer.h"
#include "untTermios.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// ENOTTY plays the part of Windows' ERROR_INVALID_FUNCTION: a control the
// device does not have. Only terminals get this far (OpenDevice refuses
// anything else), so it is passed over for an optional control alone.
constexpr int PassedOverError = ENOTTY;

// Stands for the other end of the line having gone (hang-up, end of file),
// which the system reports as EIO or as nothing read at all.
constexpr int DeviceGoneError = EIO;

std::string PortFolder() {
    if (const char* Dir = std::getenv("ORMANT_PORT_DIR"); Dir && *Dir)
        return Dir;
    const char* Home = std::getenv("HOME");
    return std::string(Home ? Home : "") + "/.ormant/dosdevices";
}

// Russian for the errors a technician meets; the rest keep the system's words.
std::string ErrorDescription(int Error) {
    switch (Error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "Устройство не найдено";
    case EACCES:
    case EPERM:
        return "Нет доступа к устройству";
    case EBUSY:
        return "Устройство занято";
    case EIO:
        return "Ошибка ввода-вывода";
    case EINVAL:
        return "Недопустимый параметр";
    case EBADF:
        return "Порт не открыт";
    }
    return std::strerror(Error);
}

bool HungUp(int Fd) {
    pollfd P{Fd, POLLIN | POLLOUT, 0};
    return ::poll(&P, 1, 0) == 1 && (P.revents & (POLLHUP | POLLERR));
}

[[noreturn]] void RaiseSystemError(int Error, bool Gone = false) {
    // The log shows the Russian text; the system's own words travel in Detail.
    throw EOSError(static_cast<uint32_t>(Error),
                   Gone ? std::string("Устройство отключено") : ErrorDescription(Error),
                   std::string(std::strerror(Error)) + " (errno " + std::to_string(Error) + ")" +
                       (Gone ? ", the line hung up" : ""));
}

// A failed read or write: a hung-up line is "device gone", whatever errno says.
[[noreturn]] void RaiseTransferError(int Fd, int Error) {
    RaiseSystemError(Error, HungUp(Fd));
}

// True when Fd is ready within Ms (or hung up, which the next read or write
// reports); a failure of the wait itself is raised.
bool PollFor(int Fd, short Events, uint64_t Ms) {
    const uint64_t Until = SteadyMs() + Ms;
    for (;;) {
        // poll takes an int of milliseconds: about 24 days at most.
        const uint64_t Left = Until - std::min(Until, SteadyMs());
        pollfd P{Fd, Events, 0};
        const int N = ::poll(
            &P, 1, static_cast<int>(std::min<uint64_t>(Left, std::numeric_limits<int>::max())));
        if (N < 0) {
            // Taken at once: a timeout below sets no errno, and an old value
            // must not be read as this wait's failure.
            const int Error = errno;
            if (Error == EINTR)
                continue;
            RaiseTransferError(Fd, Error);
        }
        if (N == 0) {
            if (SteadyMs() < Until)
                continue; // cut to poll's range, or woken early
            return false;
        }
        if (P.revents & POLLNVAL)
            RaiseSystemError(EBADF);
        return true;
    }
}

// Why the open device cannot be the port, as an errno value; 0 when it can.
// Nothing has been written to it when this runs.
int RefusalOf(int Fd) {
    // Only a terminal is a serial line: a regular file, /dev/null or a pipe
    // must not receive the register's bytes.
    termios Tio{};
    if (::tcgetattr(Fd, &Tio) != 0)
        return errno == EINVAL ? ENOTTY : errno;
    // Someone holds the line with TIOCEXCL alone. Opening it then fails with
    // EBUSY, except for root, whom the kernel lets through; the flag tells.
    int Exclusive = 0;
    if (::ioctl(Fd, TIOCGEXCL, &Exclusive) == 0 && Exclusive)
        return EBUSY;
    // Another TComPort (ours or another program's) holds it.
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    if (::ioctl(Fd, TIOCEXCL) != 0)
        return errno;
    return 0;
}

} // namespace

std::string ComDeviceName(uint32_t ComNumber) {
    // Where the port folder exists only its links count: a link that is
    // missing (an adapter unplugged, an emulator gone) must not send the
    // bytes to whatever /dev/ttyS<n-1> is on this machine.
    const std::string Folder = PortFolder();
    struct stat St;
    if (ComNumber == 0 || ::stat(Folder.c_str(), &St) == 0)
        return Folder + "/com" + std::to_string(ComNumber);
    return "/dev/ttyS" + std::to_string(ComNumber - 1);
}

void CheckOSError(uint32_t Code) {
    if (Code != PassedOverError)
        RaiseSystemError(static_cast<int>(Code));
}

void TComPort::Close() noexcept {
    if (!IsOpen())
        return;
    // TIOCEXCL outlives close() while another process (the emulator, a
    // service) keeps the device open; give the line back for the next open.
    ::ioctl(static_cast<int>(FHandle), TIOCNXCL);
    ::close(static_cast<int>(FHandle));
    FHandle = InvalidHandle;
}

void TComPort::OpenDevice(uint32_t Number) {
    const std::string Name = ComDeviceName(Number);
    // Non-blocking, so that open does not wait for a carrier before CLOCAL is set.
    const int Fd = ::open(Name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    int Error = Fd < 0 ? errno : RefusalOf(Fd);
    if (Error == 0) {
        FHandle = Fd;
        return;
    }
    if (Fd >= 0)
        ::close(Fd); // not ours: no TIOCNXCL, the flag may be somebody else's
    // The log shows only the register's text; the reason travels in Detail,
    // where a missing "dialout" membership (EACCES) can be told apart.
    const std::string Detail =
        "COM" + std::to_string(Number) + " (" + Name + "): " + std::strerror(Error);
    if (Error == EBUSY)
        RaiseDriverError(pePortBusy, LoadResString(rsPortBusy), Detail);
    RaiseDriverError(pePortNotAvailable, LoadResString(rsPortNotAvailable), Detail);
}

void TComPort::SetQueueSizes() {
    // The kernel's tty buffers are fixed; there is nothing to size here.
}

void TComPort::SetBaudRate(uint32_t Rate) {
    const int Fd = static_cast<int>(FHandle);
    termios Tio{};
    if (::tcgetattr(Fd, &Tio) != 0)
        CheckOSError(errno);
    MakeRawLine(Tio, 0);
    const auto Speed = TermiosSpeed(Rate);
    if (!Speed)
        CheckOSError(EINVAL);
    else if (::cfsetispeed(&Tio, *Speed) != 0 || ::cfsetospeed(&Tio, *Speed) != 0)
        CheckOSError(errno);
    if (::tcsetattr(Fd, TCSANOW, &Tio) != 0)
        CheckOSError(errno);
    // DTR and RTS stay low: the line is driven without modem control. A
    // pseudo-terminal has no modem lines and says so with ENOTTY or EINVAL.
    int Lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(Fd, TIOCMBIC, &Lines) != 0 && errno != EINVAL)
        CheckOSError(errno);
}

void TComPort::SetTimeouts() {
    FLineTimeout = Timeout;
    FLineRate = BaudRate;
}

void TComPort::Write(const std::string& Data) {
    Open();
    if (Data.empty())
        return;
    const int Fd = static_cast<int>(FHandle);
    const uint64_t Deadline = SteadyMs() + WriteLimitMs(Data.size(), FLineRate);
    const auto Left = [Deadline] { return Deadline - std::min(Deadline, SteadyMs()); };
    TSlicedWait Wait(WaitSliceMs());
    std::size_t Done = 0;
    while (Done < Data.size()) {
        const ssize_t N = ::write(Fd, Data.data() + Done, Data.size() - Done);
        if (N > 0) {
            Done += static_cast<std::size_t>(N);
            continue;
        }
        const int Error = N < 0 ? errno : 0;
        if (Error == EINTR)
            continue;
        if (Error != 0 && Error != EAGAIN) {
            if (Error != PassedOverError)
                RaiseTransferError(Fd, Error);
            break;
        }
        const auto Asked = Wait.Next(Left());
        if (!Asked)
            break;
        const bool Ready = PollFor(Fd, POLLOUT, *Asked);
        AfterWait(*Asked, Wait.Ended(Ready, Left()));
    }
    if (Done != Data.size())
        RaiseNoLink();
}

void TComPort::Read(uint32_t Count, std::string& Data) {
    Data.clear();
    if (Count == 0)
        return;
    // Read never opens the port; on a closed one it fails at once, as
    // ReadFile on an invalid handle does, rather than wait for nothing.
    if (!IsOpen())
        CheckOSError(EBADF);
    const int Fd = static_cast<int>(FHandle);
    // Data gets nothing of a read that fails, by a raise as well.
    std::string Buffer(Count, '\0');
    TReadTimer Timer(FLineTimeout, Count, SteadyMs());
    TSlicedWait Wait(WaitSliceMs());
    std::size_t Done = 0;
    while (Done < Count) {
        const auto Asked = Wait.Next(Timer.WaitLeft(SteadyMs()));
        if (!Asked)
            break;
        const bool Ready = PollFor(Fd, POLLIN, *Asked);
        AfterWait(*Asked, Wait.Ended(Ready, Timer.WaitLeft(SteadyMs())));
        if (!Ready)
            continue;
        const ssize_t N = ::read(Fd, Buffer.data() + Done, Count - Done);
        if (N > 0) {
            Done += static_cast<std::size_t>(N);
            Timer.Received(SteadyMs());
            continue;
        }
        if (N == 0) // end of file on a terminal: the other end has gone
            RaiseSystemError(DeviceGoneError, true);
        const int Error = errno;
        if (Error == EINTR || Error == EAGAIN)
            continue;
        if (Error != PassedOverError)
            RaiseTransferError(Fd, Error);
        break;
    }
    if (Done != Count)
        RaiseNoLink();
    Data = std::move(Buffer);
}

void TComPort::PurgeInput() {
    if (IsOpen() && ::tcflush(static_cast<int>(FHandle), TCIFLUSH) != 0)
        CheckOSError(errno);
}
