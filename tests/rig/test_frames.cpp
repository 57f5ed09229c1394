// Frames as built for the register and as read off the line.
#include "VirtualRegister.h"
#include "untFrames.h"

#include <gtest/gtest.h>

namespace {

// A length byte of 0 for 256 bytes would put garbage on the line. A frame is
// taken whole, whatever it holds, except by the reader told to stop without
// STX; nothing past it is touched.
TEST(Frames, AreBuiltUpTo255BytesAndReadByTheirLengthByte) {
    EXPECT_EQ(BuildFrame(std::string(255, 'x')).size(), 258u);
    EXPECT_THROW(BuildFrame(std::string(256, 'x')), std::length_error);
    TVirtualRegister Register;
    TVirtualLine Line{Register};
    Line.Open();
    const std::string NoStx("\xFF\x02\x11\x00\x99", 5), Empty("\x02\x00\x00", 3);
    Register.Input = NoStx + Empty + NoStx + "\x15";
    ReadAnswer(Line);
    EXPECT_EQ(ReadFrame(Line), Empty);
    EXPECT_EQ(ReadFrame(Line, true), NoStx.substr(0, 2));
    EXPECT_EQ(Register.Input, NoStx.substr(2) + "\x15");
}

} // namespace
