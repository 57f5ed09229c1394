// The register on a real pseudo-terminal. The exchanges themselves are run
// through it by the stand-in driver's and the window's tests.
#include "untPtyRegister.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(PtyRegister, LinkAnswersAndHostSeesHangUpAfterStop) {
    const fs::path Link =
        fs::temp_directory_path() / ("ormant-emu-link." + std::to_string(getpid()));
    fs::remove(Link);
    fs::create_symlink("/nonexistent", Link); // replaced
    emu::TPtyRegister Reg({}, Link.string());
    ASSERT_EQ(fs::read_symlink(Link).string(), Reg.SlavePath());

    const int Fd = ::open(Link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(Fd, 0);
    termios T{};
    tcgetattr(Fd, &T);
    cfmakeraw(&T);
    tcsetattr(Fd, TCSANOW, &T);
    ASSERT_EQ(::write(Fd, "\x05", 1), 1);
    pollfd P{Fd, POLLIN, 0};
    char C = 0;
    ASSERT_EQ(poll(&P, 1, 2000), 1);
    EXPECT_EQ(::read(Fd, &C, 1), 1);
    EXPECT_EQ(C, '\x15');

    Reg.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link)));
    ASSERT_EQ(poll(&P, 1, 2000), 1);
    EXPECT_TRUE(P.revents & (POLLHUP | POLLERR));
    EXPECT_EQ(::write(Fd, "\x05", 1), -1);
    EXPECT_EQ(errno, EIO);
    ::close(Fd);
}
