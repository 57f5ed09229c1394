#pragma once
// The bench report: from the emulator's log and the program's log saved as
// text, for each probe the delay, how long the register really waited for
// the ACK, and the difference; their spread, and the search's result
// against the register's cap. The same report from Linux, Wine and real
// Windows, so their figures stand side by side.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

// Logs that cannot be read or paired.
class EReport : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TProbe {
    uint32_t Delay = 0;
    std::string Verdict;          // as the program logged it
    std::optional<uint32_t> Held; // ms from the answer's last byte to the ACK
};

struct TReport {
    std::vector<TProbe> Probes;
    std::optional<uint32_t> Cap;    // the emulator's --cap, from its log
    std::optional<uint32_t> Result; // "Максимальный таймаут: N мс."
};

// A text file as the tester saved it: UTF-8 (with or without a BOM), UTF-16
// LE with its BOM (Notepad's "Unicode"), else the Cyrillic ANSI code page
// 1251 (older Notepad's default). Returns UTF-8.
std::string DecodeText(const std::string& Bytes);

// Pairs the probes of the program's log with the held ACKs of the
// emulator's, in order. Only a probe with a verdict ("OK", "Тест не
// пройден!") had its ACK on the wire.
TReport MakeReport(const std::string& EmulatorLog, const std::string& ProgramLog);

// The report as text, the tester's description of the machine first.
std::string FormatReport(const TReport& Report, const std::string& Machine);

} // namespace bench
