// The register's frames as they go on the line.
#include "untFrames.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(Frames, CarryLengthDataAndTheirChecksum) {
    const std::string Frame = BuildFrame(std::string("\x11\x00\x1E", 3));
    EXPECT_EQ(Frame, std::string("\x02\x03\x11\x00\x1E\x0C", 6));
    EXPECT_TRUE(ChecksumMatches(Frame));
    EXPECT_EQ(FrameData(Frame), std::string("\x11\x00\x1E", 3));
}

// A length byte of 0 for 256 bytes would put garbage on the line.
TEST(Frames, CarryAtMost255Bytes) {
    EXPECT_EQ(BuildFrame(std::string(255, 'x')).size(), 258u);
    EXPECT_THROW(BuildFrame(std::string(256, 'x')), std::length_error);
}

} // namespace
