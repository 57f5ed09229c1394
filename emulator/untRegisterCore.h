#pragma once
// The emulated register's side of the link, without I/O and without a clock:
// bytes and the current time go in, bytes to send come out. The caller owns
// the line and the clock, so tests drive it with made-up times.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace emu {

enum class TFault {
    None,
    Silence,     // never sends anything
    WrongEnq,    // answers every ENQ with TRegisterOptions::WrongEnqReply
    BadChecksum, // answer frames carry a wrong checksum
    NoStx,       // answer frames start with 0x00 instead of STX
    CutFrame,    // answer frames stop after their length byte
    Mute,        // once, silent for MuteMs from a short status command on
};

struct TRegisterOptions {
    uint32_t InitialTimeout = 150; // requested exchange timeout at start, ms
    uint32_t MaxTimeout = 100000;  // cap on the effective exchange timeout, ms
    TFault Fault = TFault::None;
    uint8_t WrongEnqReply = 0x1B;
    // The fault keeps still until the first timeout command (0x14) has come,
    // so a driver can connect and raise the timeout before the register goes
    // wrong under the probe (the command line sets it as FaultModes says).
    bool FaultAfterTimeoutCommand = false;
    // Mute: the short status commands answered before the one at which the
    // register falls silent (power lost, a cable pulled and plugged back),
    // and for how long it then ignores everything.
    uint32_t MuteAfter = 0;
    uint32_t MuteMs = 8000;
    // How much longer than its exchange timeout the register really waits for
    // an ACK: real clocks are not exact, and a register told 100000 ms may
    // well take a host that is 20 ms late.
    uint32_t GraceMs = 0;
};

// Each fault mode with its name on the command line and in the log, and
// whether it keeps still until the first timeout command (see
// TRegisterOptions::FaultAfterTimeoutCommand).
struct TFaultMode {
    TFault Fault;
    std::string_view Name;
    bool AfterTimeoutCommand;
};
// A register wrong from the start would never let a driver connect and raise
// the timeout, so the probe's own checks would never be reached: the faults
// met by the probe keep still until then.
// clang-format off
inline constexpr TFaultMode FaultModes[] = {
    {TFault::None, "none", false},
    {TFault::Silence, "silence", false},
    {TFault::WrongEnq, "wrong-enq", true},
    {TFault::BadChecksum, "bad-checksum", false},
    {TFault::NoStx, "no-stx", false},
    {TFault::CutFrame, "cut-frame", true},
    {TFault::Mute, "mute", true},
};
// clang-format on
const TFaultMode& FaultMode(TFault Fault);

class TRegisterCore {
public:
    using TCoreLogSink = std::function<void(uint64_t NowMs, const std::string& Line)>;

    explicit TRegisterCore(TRegisterOptions Options);

    // Bytes that came from the host at NowMs (monotonic ms, never decreasing).
    // Returns the bytes to send at once.
    std::string Receive(std::string_view Bytes, uint64_t NowMs);
    // Lets the timers that expire by NowMs run out.
    void Advance(uint64_t NowMs);
    // When Advance has something to do next, if anything.
    std::optional<uint64_t> NextDeadline() const;

    uint32_t ExchangeTimeout() const; // effective: the requested value, capped
    uint32_t RequestedTimeout() const { return FRequested; }
    // The fault mode in force now (None while it waits for the timeout command).
    TFault Fault() const;
    bool HoldsAnswer() const { return FAnswer.has_value(); }
    const TRegisterOptions& Options() const { return FOptions; }

    void SetLog(TCoreLogSink Log) { FLog = std::move(Log); }

    // Ms between the last answer sent and the host's ACK for it, whether the
    // ACK came in time or not.
    std::optional<uint32_t> LastAckDelay() const { return FLastAckDelay; }

    // The longest pause between the bytes of one host frame before the frame
    // counts as broken off.
    uint32_t FrameGapLimit() const;

private:
    void ReceiveByte(uint8_t Byte, uint64_t NowMs, std::string& Out);
    void ReceiveControl(uint8_t Byte, uint64_t NowMs, std::string& Out);
    void FrameComplete(uint64_t NowMs, std::string& Out);
    std::string Execute(const std::string& Command);
    std::string SetTimeout(const std::string& Command);
    // Appends the held answer's frame to Out, after an ACK if WithAck, and
    // starts the wait for ACK at the time its last byte leaves.
    void SendAnswer(uint64_t NowMs, std::string& Out, bool WithAck);
    std::string AnswerFrame() const;
    void Log(uint64_t NowMs, const std::string& Line) const;
    // Mute: whether Command starts the silence now.
    bool MutesAt(const std::string& Command, uint64_t NowMs);

    TRegisterOptions FOptions;
    uint32_t FRequested;
    bool FTimeoutCommandSeen = false;
    TCoreLogSink FLog;

    // Host frame being received: STX, length and data so far.
    bool FInFrame = false;
    std::string FFrame;
    uint64_t FLastFrameByteAt = 0;

    std::optional<std::string> FAnswer; // data of the held answer
    bool FAwaitingAck = false;
    uint64_t FAnswerSentAt = 0; // when the answer went out
    std::optional<uint32_t> FLastAckDelay;

    // Mute: short status commands answered so far, and the end of the silence
    // while it lasts.
    uint32_t FStatusCommands = 0;
    std::optional<uint64_t> FMuteUntil;
};

// "05 ENQ", "02 05 11 3B ..." for the log.
std::string HexBytes(std::string_view Bytes);

} // namespace emu
