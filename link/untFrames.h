#pragma once
// The register's link protocol: single control bytes and STX-framed messages
// (STX, length, data, XOR of length and data).
#include <cstdint>
#include <string>

class TSerialLine;

enum : uint8_t {
    STX = 0x02,
    ENQ = 0x05,
    ACK = 0x06,
    NAK = 0x15,
};

constexpr std::size_t MaxFrameData = 255;

// A control byte (ENQ, ACK, NAK) as it goes on the line.
inline std::string ControlByte(uint8_t Byte) {
    return std::string(1, static_cast<char>(Byte));
}

// XOR of all bytes; 0 for an empty string.
uint8_t FrameChecksum(const std::string& S);
// STX, length, Data, checksum of length and Data. More than 255 data bytes
// cannot be framed and raise a failure.
std::string BuildFrame(const std::string& Data);
// Takes one frame off the line: Read(2) for the start and length bytes, then
// Read(L + 1) for the data and checksum; returns the L + 3 bytes as read.
// Nothing is verified, except that with StopWithoutStx a first byte other
// than STX ends it after those two: its length byte is then no length, and
// waiting for that many bytes would only end in a timeout.
std::string ReadFrame(TSerialLine& Port, bool StopWithoutStx = false);
// Takes one answer frame off the line and drops it, whatever it holds.
void ReadAnswer(TSerialLine& Port);

// Of a whole frame as read (STX, length, data, checksum; 3 bytes at least):
// the checksum it ought to carry, whether it carries it, and its data.
uint8_t ExpectedChecksum(const std::string& Frame);
bool ChecksumMatches(const std::string& Frame);
std::string FrameData(const std::string& Frame);

// What the register said to the ENQ that asks whether it still holds an
// answer: NAK (none), ACK and the held frame, or any other byte, which the
// caller names in its own words.
struct THeldAnswer {
    uint8_t Reply;
    std::string Frame; // as ReadFrame gave it, after an ACK only
};

// Empties the input, sends ENQ and, on ACK, takes the held answer's frame off
// the line (ReadFrame with StopWithoutStx). The input is emptied first on
// purpose: a byte that an exchange left behind when it broke off (a stopped
// probe, a line that went quiet, someone else's exchange) would otherwise be
// read as the register's reply to this ENQ. Whether the held answer is
// acknowledged is the caller's to decide.
THeldAnswer AskForHeldAnswer(TSerialLine& Port, bool StopWithoutStx = false);
