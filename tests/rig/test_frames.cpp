// Frames as built for the register and as read off the line.
#include "Failure.h"
#include "VirtualRegister.h"
#include "untError.h"
#include "untFrames.h"

#include <gtest/gtest.h>

namespace {

std::string Bytes(std::initializer_list<int> Values) {
    std::string S;
    for (int V : Values)
        S += static_cast<char>(V);
    return S;
}

TEST(Frames, BuildFrameCountsLengthIntoChecksumAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(BuildFrame(""), Bytes({0x02, 0x00, 0x00}));
    EXPECT_EQ(BuildFrame(std::string("\x11\x3B\x00\x00\x00", 5)),
              Bytes({0x02, 0x05, 0x11, 0x3B, 0x00, 0x00, 0x00, 0x2F}));
    EXPECT_EQ(BuildFrame(std::string(255, 'x')).size(), 258u);
    // A length byte of 0 for 256 bytes would put garbage on the line.
    EXPECT_THROW(BuildFrame(std::string(256, 'x')), std::length_error);
}

class ReadAnswerTest : public ::testing::Test {
protected:
    ReadAnswerTest() {
        Line.Timeout = 50;
        Line.Open();
    }
    TVirtualRegister Register;
    TVirtualLine Line{Register};
};

TEST_F(ReadAnswerTest, TakesExactlyOneFrameWhateverItsContent) {
    // A frame with no STX and a wrong checksum, then one of length 0: each
    // read whole all the same, except by the reader told to stop without STX;
    // nothing past them is touched.
    const std::string NoStx = Bytes({0xFF, 0x02, 0x11, 0x00, 0x99});
    Register.Input = NoStx + Bytes({0x02, 0x00, 0x00}) + NoStx + "\x15";
    ReadAnswer(Line);
    EXPECT_EQ(ReadFrame(Line), Bytes({0x02, 0x00, 0x00}));
    EXPECT_EQ(ReadFrame(Line, true), NoStx.substr(0, 2));
    EXPECT_EQ(Register.Input, NoStx.substr(2) + "\x15");
}

TEST_F(ReadAnswerTest, ShortAnswerIsNoLink) {
    Register.Input = Bytes({0x02, 0x05, 0x11, 0x00});
    const auto E = FailureOf<EDriverError>([&] { ReadAnswer(Line); });
    EXPECT_EQ(E.Code, -1);
    EXPECT_STREQ(E.what(), "Нет связи");
    // The rest of the frame (6 bytes) was waited for as the port would.
    EXPECT_EQ(Register.Now, 6u * 50 + 1);
}

} // namespace
