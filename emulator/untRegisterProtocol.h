#pragma once
// Command codes, error codes and operands the emulated register understands.
// Shared with the stand-in driver so both ends agree on the bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace regproto {

// Command codes: the first data byte of a host frame and of its answer.
constexpr uint8_t CmdShortStatus = 0x11;
constexpr uint8_t CmdSetExchangeTimeout = 0x14;
constexpr uint8_t CmdGetExchangeTimeout = 0x15;

// Error codes: the second data byte of an answer.
constexpr uint8_t ErrOk = 0x00;
constexpr uint8_t ErrBadParameters = 0x33;
constexpr uint8_t ErrNotSupported = 0x37;
constexpr uint8_t ErrWrongPassword = 0x4F;

// The operator password that follows the command code, uint32 little-endian.
constexpr uint32_t Password = 0x3B;
constexpr std::string_view PasswordBytes{"\x3B\x00\x00\x00", 4};

// Data lengths of the host's commands, command code included.
constexpr std::size_t ShortStatusLength = 5;
constexpr std::size_t SetExchangeTimeoutLength = 9;
constexpr std::size_t GetExchangeTimeoutLength = 5;

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

// Frame data of the host's commands, ready for BuildFrame.
inline std::string ShortStatusCommand() {
    return std::string(1, static_cast<char>(CmdShortStatus)) + std::string(PasswordBytes);
}
inline std::string SetExchangeTimeoutCommand(uint32_t TimeoutMs) {
    return std::string(1, static_cast<char>(CmdSetExchangeTimeout)) + std::string(PasswordBytes) +
           PutUInt32(TimeoutMs);
}
inline std::string GetExchangeTimeoutCommand() {
    return std::string(1, static_cast<char>(CmdGetExchangeTimeout)) + std::string(PasswordBytes);
}

} // namespace regproto
