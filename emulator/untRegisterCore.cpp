#include "untRegisterCore.h"

#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterLog.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace emu {

namespace {

// So a tiny exchange timeout does not tear an ordinary host's frames apart.
constexpr uint32_t MinFrameGapLimit = 50;

// Operator 30, mode 2, submode 0, flags 0: fixed, as nothing but people reads them.
constexpr std::string_view StatusBytes{"\x1E\x02\x00\x00\x00", 5};

std::string Answer(uint8_t Code, uint8_t Error, std::string_view Rest = {}) {
    return std::string{static_cast<char>(Code), static_cast<char>(Error)}.append(Rest);
}

} // namespace

std::string HexBytes(std::string_view Bytes) {
    std::string S;
    char Hex[4];
    for (char C : Bytes) {
        std::snprintf(Hex, sizeof Hex, S.empty() ? "%02X" : " %02X", static_cast<uint8_t>(C));
        S += Hex;
    }
    return S;
}

const TFaultMode& FaultMode(TFault Fault) {
    for (const TFaultMode& Mode : FaultModes)
        if (Mode.Fault == Fault)
            return Mode;
    throw std::logic_error("unknown fault mode " + std::to_string(static_cast<int>(Fault)));
}

TRegisterCore::TRegisterCore(TRegisterOptions Options)
    : FOptions(Options), FRequested(Options.InitialTimeout) {}

TFault TRegisterCore::Fault() const {
    return FOptions.FaultAfterTimeoutCommand && !FTimeoutCommandSeen ? TFault::None
                                                                     : FOptions.Fault;
}

uint32_t TRegisterCore::FrameGapLimit() const {
    return std::max(ExchangeTimeout(), MinFrameGapLimit);
}

std::optional<uint64_t> TRegisterCore::NextDeadline() const {
    std::optional<uint64_t> Next = FMuteUntil;
    const auto Take = [&Next](uint64_t At) { Next = std::min(Next.value_or(At), At); };
    if (FInFrame)
        Take(FLastFrameByteAt + FrameGapLimit() + 1);
    if (FAwaitingAck)
        Take(FAnswerSentAt + ExchangeTimeout() + FOptions.GraceMs);
    return Next;
}

void TRegisterCore::Advance(uint64_t NowMs) {
    // Timers fire in the order of their deadlines, so the log reads in time order.
    for (;;) {
        const auto Next = NextDeadline();
        if (!Next || *Next > NowMs)
            return;
        if (FMuteUntil && *Next == *FMuteUntil) {
            FMuteUntil.reset();
            FLog(*Next, LogLine(TSentence::MuteOver, {}));
        } else if (FInFrame && *Next == FLastFrameByteAt + FrameGapLimit() + 1) {
            FLog(*Next, "<- " + HexBytes(FFrame) + " discarded: frame broken off (no byte for " +
                            std::to_string(FrameGapLimit()) + " ms)");
            FInFrame = false;
            FFrame.clear();
        } else {
            FAwaitingAck = false;
            FLog(*Next, "no ACK within " + std::to_string(ExchangeTimeout()) +
                            " ms: answer kept for the next ENQ");
        }
    }
}

std::string TRegisterCore::Receive(std::string_view Bytes, uint64_t NowMs) {
    Advance(NowMs);
    if (Fault() == TFault::Silence || FMuteUntil) {
        if (!Bytes.empty())
            FLog(NowMs, "<- " + HexBytes(Bytes) + " (silent: not answered)");
        return {};
    }
    std::string Out;
    for (char C : Bytes)
        ReceiveByte(static_cast<uint8_t>(C), NowMs, Out);
    return Out;
}

void TRegisterCore::ReceiveByte(uint8_t Byte, uint64_t NowMs, std::string& Out) {
    if (!FInFrame && Byte != STX) {
        ReceiveControl(Byte, NowMs, Out);
        return;
    }
    FInFrame = true; // FFrame is empty outside a frame
    FFrame += static_cast<char>(Byte);
    FLastFrameByteAt = NowMs;
    if (FFrame.size() >= 2 && FFrame.size() == 3u + static_cast<uint8_t>(FFrame[1]))
        FrameComplete(NowMs, Out);
}

void TRegisterCore::ReceiveControl(uint8_t Byte, uint64_t NowMs, std::string& Out) {
    const char* Name = Byte == ENQ ? " ENQ" : Byte == ACK ? " ACK" : Byte == NAK ? " NAK" : "";
    const std::string In = "<- " + HexBytes(ControlByte(Byte)) + Name;
    switch (Byte) {
    case ENQ:
        FLog(NowMs, In);
        if (Fault() == TFault::WrongEnq) {
            Out += static_cast<char>(FOptions.WrongEnqReply);
            FLog(NowMs,
                 "-> " + HexBytes(ControlByte(FOptions.WrongEnqReply)) + " (wrong reply to ENQ)");
        } else if (!FAnswer) {
            Out += static_cast<char>(NAK);
            FLog(NowMs, "-> 15 NAK (no answer held)");
        } else {
            SendAnswer(NowMs, Out, true);
        }
        return;
    case ACK: {
        if (!FAnswer) {
            FLog(NowMs, In + " ignored: no answer held");
            return;
        }
        // Earlier than the answer's last byte only from a confused host.
        const uint64_t Delay = NowMs > FAnswerSentAt ? NowMs - FAnswerSentAt : 0;
        if (FAwaitingAck) {
            FAwaitingAck = false;
            FAnswer.reset();
            FLog(NowMs, LogLine(TSentence::AckInTime, {std::to_string(Delay)}));
        } else {
            FLog(NowMs, LogLine(TSentence::AckLate, {std::to_string(Delay)}));
        }
        return;
    }
    case NAK:
        if (FAwaitingAck) {
            FLog(NowMs, In + ": sending the answer again");
            SendAnswer(NowMs, Out, false);
        } else {
            FLog(NowMs, In + " ignored: no answer awaiting ACK");
        }
        return;
    }
    FLog(NowMs, In + " ignored (stray byte)");
}

void TRegisterCore::FrameComplete(uint64_t NowMs, std::string& Out) {
    const std::string Frame = std::exchange(FFrame, {});
    FInFrame = false;
    if (!ChecksumMatches(Frame)) {
        FLog(NowMs, "<- " + HexBytes(Frame) + " (frame with bad checksum, expected " +
                        HexBytes(ControlByte(ExpectedChecksum(Frame))) + ")");
        Out += static_cast<char>(NAK);
        FLog(NowMs, "-> 15 NAK");
        return;
    }
    FLog(NowMs, LogLine(TSentence::Frame, {HexBytes(Frame)}));
    const std::string Data = FrameData(Frame);
    if (Data.empty()) {
        // An ACK would leave the host waiting for an answer that never comes.
        Out += static_cast<char>(NAK);
        FLog(NowMs, "-> 15 NAK (empty frame carries no command)");
        return;
    }
    if (MutesAt(Data, NowMs))
        return;
    if (FAnswer)
        FLog(NowMs, "held answer " + HexBytes(*FAnswer) + " dropped: replaced by the new one");
    FAwaitingAck = false;
    FAnswer = Execute(Data);
    SendAnswer(NowMs, Out, true);
}

bool TRegisterCore::MutesAt(const std::string& Command, uint64_t NowMs) {
    if (Fault() != TFault::Mute || static_cast<uint8_t>(Command[0]) != cmShortStatus ||
        FStatusCommands++ != FOptions.MuteAfter)
        return false;
    FMuteUntil = NowMs + FOptions.MuteMs;
    FLog(NowMs, LogLine(TSentence::MuteStart, {std::to_string(FOptions.MuteMs)}));
    return true;
}

std::string TRegisterCore::Execute(const std::string& Command) {
    const auto Code = static_cast<uint8_t>(Command[0]);
    if (Code != cmShortStatus && Code != cmSetExchangeTimeout)
        return Answer(Code, reNotSupported);
    if (Command.size() != (Code == cmShortStatus ? ShortStatusLength : SetExchangeTimeoutLength))
        return Answer(Code, reBadParameters);
    if (Command.compare(1, OperatorPasswordBytes.size(), OperatorPasswordBytes) != 0)
        return Answer(Code, reWrongPassword);
    return Code == cmShortStatus ? Answer(Code, reOk, StatusBytes) : SetTimeout(Command);
}

std::string TRegisterCore::SetTimeout(const std::string& Command) {
    FRequested = GetUInt32(Command, 5);
    if (FOptions.FaultAfterTimeoutCommand && !FTimeoutCommandSeen && FOptions.Fault != TFault::None)
        FLog(FLastFrameByteAt,
             "fault " + std::string(FaultMode(FOptions.Fault).Name) + " starts now");
    FTimeoutCommandSeen = true;
    // Logged without a time of its own: it belongs to the frame just logged.
    FLog(FLastFrameByteAt, LogLine(TSentence::TimeoutSet,
                                   {std::to_string(ExchangeTimeout()), std::to_string(FRequested),
                                    std::to_string(FOptions.MaxTimeout)}));
    return Answer(cmSetExchangeTimeout, reOk);
}

// Appends the held answer (after an ACK if WithAck) and starts waiting for the host's ACK.
void TRegisterCore::SendAnswer(uint64_t NowMs, std::string& Out, bool WithAck) {
    std::string Frame = BuildFrame(*FAnswer);
    if (Fault() == TFault::BadChecksum)
        Frame.back() = static_cast<char>(~static_cast<uint8_t>(Frame.back()));
    else if (Fault() == TFault::NoStx)
        Frame.front() = '\0';
    else if (Fault() == TFault::CutFrame)
        Frame.resize(2); // STX and the length: a register that lost power there
    const std::size_t Start = Out.size();
    if (WithAck)
        Out += static_cast<char>(ACK);
    Out += Frame;
    FAnswerSentAt = NowMs;
    FAwaitingAck = true;
    FLog(NowMs, "-> " + HexBytes(std::string_view(Out).substr(Start)) +
                    (WithAck ? " (ACK + answer" : " (answer") +
                    (Fault() == TFault::CutFrame ? " cut after its length byte)" : ")"));
}

} // namespace emu
