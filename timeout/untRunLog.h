#pragma once
// The run's log: every sentence the run writes, spelled once here for the run
// that writes it and for those that read it (the bench report, the tests), so
// a reworded sentence cannot leave a reader behind.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace runlog {

inline const std::string Separator = "----------------------------";
inline const std::string Connecting = "Подключение к ФР";
inline const std::string Disconnecting = "Отключение от ФР";
inline const std::string FixedSeries = "Тест фиксированных таймаутов";
inline const std::string AllPassed = "Тест пройден!";
inline const std::string Searching = "Определение максимального таймаута";

// What ends a probe's line.
inline const std::string Passed = "OK";
inline const std::string NotPassed = "Тест не пройден!";
inline const std::string Stopped = "Тест прерван";

std::string SettingTimeout(int32_t Timeout);
std::string Maximum(uint32_t Delay);
// A probe's line: the delay padded to six characters, so that the delays
// stand in one column of the log's fixed-pitch font, and what became of the
// probe, added once it has ended.
std::string Probe(uint32_t Delay, std::string_view Outcome = {});
// Outcomes without a verdict.
std::string Stretched(uint64_t OverMs);
std::string WrongReply(uint8_t Byte);
std::string BadBaudRateIndex(int32_t Index);

// The readers' side.
struct TProbeLine {
    uint32_t Delay;
    std::string Outcome;
};
std::optional<TProbeLine> ReadProbe(std::string_view Line);
std::optional<uint32_t> ReadMaximum(std::string_view Line);
bool IsStretched(std::string_view Outcome);

} // namespace runlog
