#pragma once
// The sentences of the emulator's log that others read (the bench report, the
// Wine scenarios, people following the bench docs), each spelled once: the
// emulator writes them from here and the readers parse them with the same
// table, so a reworded sentence cannot leave a reader behind.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

enum class TSentence {
    Start,      // the first line: the line, its timeouts and the fault mode
    Frame,      // a host frame with a right checksum, its bytes in hex
    AckInTime,  // the host's ACK that delivered the answer, ms after its last byte
    AckLate,    // an ACK after the wait ended, ms after the answer's last byte
    TimeoutSet, // command 14 taken: effective, requested, cap
    MuteStart,  // the mute fault falls silent, for ms
    MuteOver,   // and answers again
    Stopped,    // the runner's last line after a stop request
};

class TRegisterCore;

// Gets each log line complete with its time of day ("12:03:04.567 <- 05 ENQ").
using TLogSink = std::function<void(const std::string& Line)>;

// Stamps log lines with the time of day, for a core's SetLog.
class TLineLog {
public:
    explicit TLineLog(TLogSink Sink);
    void operator()(uint64_t NowMs, const std::string& Line) const;

private:
    TLogSink FSink;
    int64_t FWallOffsetMs; // system clock minus the monotonic clock (SteadyMs), ms
};

// The sentence with Values in place of its blanks, in order.
std::string LogLine(TSentence Sentence, const std::vector<std::string>& Values);

// The first line of the log: the line (its name, as "PTY /dev/pts/4") and
// how the register is set up.
std::string StartLine(const std::string& Line, const TRegisterCore& Core);

struct TLogLine {
    TSentence Sentence;
    std::vector<std::string> Values; // what filled the blanks, in order
    // Values[Index] as a number; raises std::invalid_argument if it is none.
    uint32_t Number(std::size_t Index) const;
};

// One line of the log, with or without its time of day ("12:03:04.567 "):
// which sentence it is and its values, if it is one of the above.
std::optional<TLogLine> ParseLogLine(std::string_view Line);

} // namespace emu
