#pragma once
// The bench report from the emulator's log and the program's log saved as
// text; the same from Linux, Wine and real Windows, so their figures stand
// side by side.
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
    // The same for each attempt before the last, held again by the program.
    std::vector<uint32_t> HeldAgain;
};

struct TReport {
    std::vector<TProbe> Probes;
    std::optional<uint32_t> Cap;    // the emulator's --cap
    std::optional<uint32_t> Result; // "Максимальный таймаут: N мс."
};

// A text file as the tester saved it, as UTF-8: UTF-8 (a BOM or not), UTF-16
// LE with its BOM (Notepad's "Unicode"), else code page 1251 (older Notepad's).
std::string DecodeText(const std::string& Bytes);

// Pairs the program's probes with the emulator's held ACKs, in order. Only a
// probe with a verdict ("OK", "Тест не пройден!") had the ACK of its last
// attempt on the wire; an attempt refused after a stretched hold was held again.
TReport MakeReport(const std::string& EmulatorLog, const std::string& ProgramLog);

// The report as text, the tester's description of the machine first.
std::string FormatReport(const TReport& Report, const std::string& Machine);

} // namespace bench
