#include "untRegisterLog.h"

#include "untFrames.h"
#include "untReadTimer.h"
#include "untRegisterCore.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace emu {

namespace {

// In the order of TSentence; "{}" is a blank.
constexpr std::string_view Sentences[] = {
    "{}: exchange timeout {} ms (requested {}, cap {}), fault {}",
    "<- {} (frame)",
    "<- 06 ACK after {} ms: answer delivered",
    "<- 06 ACK too late, {} ms after the answer (answer kept)",
    "exchange timeout set to {} ms (requested {}, cap {})",
    "mute: silent for {} ms, this command not answered",
    "mute over: answering again",
    "stopped",
};
constexpr std::string_view Blank = "{}";

// Whether Text is Sentence, with the values of its blanks: each takes what
// comes before the next literal piece; the last piece must end the text.
bool Match(std::string_view Sentence, std::string_view Text, std::vector<std::string>& Values) {
    const std::size_t At = Sentence.find(Blank);
    if (At == std::string_view::npos)
        return Text == Sentence;
    if (!Text.starts_with(Sentence.substr(0, At)))
        return false;
    Sentence.remove_prefix(At + Blank.size());
    Text.remove_prefix(At);
    const std::string_view Piece = Sentence.substr(0, Sentence.find(Blank));
    const std::size_t End = Piece.empty() ? Text.size() : Text.find(Piece);
    if (End == 0 || End == std::string_view::npos)
        return false;
    Values.emplace_back(Text.substr(0, End));
    return Match(Sentence, Text.substr(End), Values);
}

} // namespace

std::string LogLine(TSentence Sentence, const std::vector<std::string>& Values) {
    std::string Line(Sentences[static_cast<std::size_t>(Sentence)]);
    std::size_t At = 0;
    for (const std::string& Value : Values) {
        At = Line.find(Blank, At);
        if (At == std::string::npos)
            break;
        Line.replace(At, Blank.size(), Value);
        At += Value.size();
    }
    if (At == std::string::npos || Line.find(Blank, At) != std::string::npos)
        throw std::logic_error("values that do not fill the blanks of \"" + Line + "\"");
    return Line;
}

uint32_t TLogLine::Number(std::size_t Index) const {
    const std::string& Text = Values.at(Index);
    uint32_t Value = 0;
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    if (Error != std::errc() || End != Text.data() + Text.size())
        throw std::invalid_argument("not a number in the emulator's log: " + Text);
    return Value;
}

TLineLog::TLineLog(TLogSink Sink) : FSink(std::move(Sink)) {
    using namespace std::chrono;
    FWallOffsetMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
                    static_cast<int64_t>(SteadyMs());
}

void TLineLog::operator()(uint64_t NowMs, const std::string& Line) const {
    const int64_t Wall = static_cast<int64_t>(NowMs) + FWallOffsetMs;
    const std::time_t Seconds = static_cast<std::time_t>(Wall / 1000);
    const std::tm Local = *std::localtime(&Seconds);
    char Stamp[32];
    std::snprintf(Stamp, sizeof Stamp, "%02d:%02d:%02d.%03d ", Local.tm_hour, Local.tm_min,
                  Local.tm_sec, static_cast<int>(Wall % 1000));
    FSink(Stamp + Line);
}

std::string StartLine(const std::string& Line, const TRegisterCore& Core) {
    const auto& O = Core.Options();
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) at a literal
    // put before a temporary string.
    std::string Fault(FaultMode(O.Fault).Name);
    if (O.Fault == TFault::WrongEnq)
        Fault.append(" ").append(HexBytes(ControlByte(O.WrongEnqReply)));
    if (O.Fault == TFault::Mute)
        Fault.append(" for ").append(std::to_string(O.MuteMs) + " ms after " +
                                     std::to_string(O.MuteAfter) + " short status commands");
    if (O.FaultAfterTimeoutCommand && O.Fault != TFault::None)
        Fault += " from the first timeout command on";
    return LogLine(TSentence::Start,
                   {Line, std::to_string(Core.ExchangeTimeout()),
                    std::to_string(Core.RequestedTimeout()), std::to_string(O.MaxTimeout), Fault});
}

std::optional<TLogLine> ParseLogLine(std::string_view Line) {
    // "12:03:04.567 ", as TLineLog stamps a line.
    if (Line.size() > 13 && Line[2] == ':' && Line[5] == ':' && Line[8] == '.' && Line[12] == ' ')
        Line.remove_prefix(13);
    for (std::size_t I = 0; I < std::size(Sentences); ++I)
        if (TLogLine L{static_cast<TSentence>(I), {}}; Match(Sentences[I], Line, L.Values))
            return L;
    return std::nullopt;
}

} // namespace emu
