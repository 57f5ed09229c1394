#pragma once
// The emulated register without I/O and without a clock: bytes and the time
// go in, bytes to send come out, so tests drive it with made-up times.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace emu {

enum class TFault { None, Silence, WrongEnq, BadChecksum, NoStx, CutFrame, Mute };

struct TRegisterOptions {
    uint32_t InitialTimeout = 150; // requested exchange timeout at start, ms
    uint32_t MaxTimeout = 100000;  // cap on the effective exchange timeout, ms
    TFault Fault = TFault::None;
    uint8_t WrongEnqReply = 0x1B;
    // The fault keeps still until the first timeout command (0x14) has come.
    bool FaultAfterTimeoutCommand = false;
    uint32_t MuteAfter = 0; // short status commands answered before the silence
    uint32_t MuteMs = 8000;
    uint32_t GraceMs = 0; // waited for an ACK beyond the exchange timeout
};

struct TFaultMode {
    TFault Fault;
    std::string_view Name; // on the command line and in the log
    bool AfterTimeoutCommand;
};
// A register wrong from the start would never let a driver connect and raise
// the timeout, so the faults the probe must meet keep still until then.
inline constexpr TFaultMode FaultModes[] = {
    {TFault::None, "none", false},         {TFault::Silence, "silence", false},
    {TFault::WrongEnq, "wrong-enq", true}, {TFault::BadChecksum, "bad-checksum", false},
    {TFault::NoStx, "no-stx", false},      {TFault::CutFrame, "cut-frame", true},
    {TFault::Mute, "mute", true},
};
const TFaultMode& FaultMode(TFault Fault);

class TRegisterCore {
public:
    using TCoreLogSink = std::function<void(uint64_t NowMs, const std::string& Line)>;

    explicit TRegisterCore(TRegisterOptions Options);

    // Bytes from the host at NowMs (monotonic ms); returns the bytes to send.
    std::string Receive(std::string_view Bytes, uint64_t NowMs);
    // Runs the timers that expire by NowMs.
    void Advance(uint64_t NowMs);
    // When Advance has something to do next, if anything.
    std::optional<uint64_t> NextDeadline() const;

    // The requested value, capped.
    uint32_t ExchangeTimeout() const { return std::min(FRequested, FOptions.MaxTimeout); }
    uint32_t RequestedTimeout() const { return FRequested; }
    const TRegisterOptions& Options() const { return FOptions; }
    void SetLog(TCoreLogSink Log) { FLog = std::move(Log); }

private:
    TFault Fault() const; // None while it waits for the timeout command
    uint32_t FrameGapLimit() const;
    void ReceiveByte(uint8_t Byte, uint64_t NowMs, std::string& Out);
    void ReceiveControl(uint8_t Byte, uint64_t NowMs, std::string& Out);
    void FrameComplete(uint64_t NowMs, std::string& Out);
    std::string Execute(const std::string& Command);
    std::string SetTimeout(const std::string& Command);
    void SendAnswer(uint64_t NowMs, std::string& Out, bool WithAck);
    bool MutesAt(const std::string& Command, uint64_t NowMs);

    TRegisterOptions FOptions;
    uint32_t FRequested;
    bool FTimeoutCommandSeen = false;
    TCoreLogSink FLog = [](uint64_t, const std::string&) {};

    bool FInFrame = false;
    std::string FFrame; // STX, length and data so far
    uint64_t FLastFrameByteAt = 0;

    std::optional<std::string> FAnswer; // data of the held answer
    bool FAwaitingAck = false;
    uint64_t FAnswerSentAt = 0; // when its last byte left

    uint32_t FStatusCommands = 0;
    std::optional<uint64_t> FMuteUntil;
};

// "05", "02 05 11 3B ..." for the log.
std::string HexBytes(std::string_view Bytes);

} // namespace emu
