#pragma once
// The emulator's log: its time stamps, and the sentences others read (the
// bench report, the Wine scenarios, the bench docs), each spelled once for
// writing and parsing alike, so a reworded sentence cannot leave a reader behind.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

enum class TSentence {
    Start,      // the line, its timeouts and the fault mode
    Frame,      // a host frame with a right checksum
    AckInTime,  // ms from the answer's last byte to the ACK that delivered it
    AckLate,    // the same for an ACK after the wait ended
    TimeoutSet, // command 14 taken: effective, requested, cap
    MuteStart,  // silent for ms
    MuteOver,   // answering again
    Stopped,    // after a stop request
};

class TRegisterCore;

// Gets each log line complete with its time of day ("12:03:04.567 <- 05 ENQ").
using TLogSink = std::function<void(const std::string& Line)>;

// Stamps a core's log lines with the time of day.
class TLineLog {
public:
    explicit TLineLog(TLogSink Sink);
    void operator()(uint64_t NowMs, const std::string& Line) const;

private:
    TLogSink FSink;
    int64_t FWallOffsetMs; // system clock minus SteadyMs
};

// The sentence with Values in its blanks, in order.
std::string LogLine(TSentence Sentence, const std::vector<std::string>& Values);

// The first line: the line's name ("PTY /dev/pts/4") and the register's setup.
std::string StartLine(const std::string& Line, const TRegisterCore& Core);

struct TLogLine {
    TSentence Sentence;
    std::vector<std::string> Values; // what filled the blanks
    // Values[Index] as a number; raises std::invalid_argument if it is none.
    uint32_t Number(std::size_t Index) const;
};

// A line of the log, with or without its time stamp, if it is one of the sentences.
std::optional<TLogLine> ParseLogLine(std::string_view Line);

} // namespace emu
