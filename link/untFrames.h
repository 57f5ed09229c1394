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
// Takes one answer frame off the line and drops it: the start and length
// bytes, then the data and checksum. Nothing is verified.
void ReadAnswer(TSerialLine& Port);
