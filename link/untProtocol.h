#pragma once
// The register's commands as far as this program and its stand-ins speak
// them: command and error codes, the operator password, the line speeds the
// driver's Baudrate index stands for, and the data of the host's commands.
// The frames that carry them are untFrames.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bits per second for the driver's Baudrate index 0-6.
inline constexpr uint32_t BaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr int32_t BaudRateCount = static_cast<int32_t>(std::size(BaudRates));

// Command codes: the first data byte of a host frame and of its answer.
inline constexpr uint8_t cmShortStatus = 0x11;
inline constexpr uint8_t cmSetExchangeTimeout = 0x14;

// The register's error codes: the second data byte of an answer.
inline constexpr uint8_t reOk = 0x00;
inline constexpr uint8_t reBadParameters = 0x33;
inline constexpr uint8_t reNotSupported = 0x37;
inline constexpr uint8_t reWrongPassword = 0x4F;

// The operator password that follows the command code, uint32 little-endian.
inline constexpr std::string_view OperatorPasswordBytes{"\x3B\x00\x00\x00", 4};

// Data lengths of the host's commands, command code included.
inline constexpr std::size_t ShortStatusLength = 5;
inline constexpr std::size_t SetExchangeTimeoutLength = 9;

inline std::string PutUInt32(uint32_t Value) {
    std::string S(4, '\0');
    for (int I = 0; I < 4; ++I)
        S[I] = static_cast<char>((Value >> (8 * I)) & 0xFF);
    return S;
}

// Reads 4 bytes little-endian from Bytes at Offset; the caller checks the length.
inline uint32_t GetUInt32(std::string_view Bytes, std::size_t Offset) {
    uint32_t Value = 0;
    for (int I = 3; I >= 0; --I)
        Value = (Value << 8) | static_cast<uint8_t>(Bytes[Offset + I]);
    return Value;
}

// Frame data of the host's commands, ready for BuildFrame. The short status
// request is also the command the timeout probe has the register answer.
inline std::string ShortStatusCommand() {
    return std::string(1, static_cast<char>(cmShortStatus)) + std::string(OperatorPasswordBytes);
}
inline std::string SetExchangeTimeoutCommand(uint32_t TimeoutMs) {
    return std::string(1, static_cast<char>(cmSetExchangeTimeout)) +
           std::string(OperatorPasswordBytes) + PutUInt32(TimeoutMs);
}
