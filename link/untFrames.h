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
