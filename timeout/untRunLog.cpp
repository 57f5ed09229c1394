#include "untRunLog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace runlog {

namespace {

// Sentences with one blank, "{}", for a number.
constexpr std::string_view Blank = "{}";
constexpr std::string_view SettingTimeoutText = "Установка таймаута ФР {} мс.";
constexpr std::string_view MaximumText = "Максимальный таймаут: {} мс.";
constexpr std::string_view ProbeText = "{} мс : ";
constexpr std::string_view StretchedText =
    "Задержка растянулась на {} мс сверх заданной: результат не засчитан";
constexpr std::string_view WrongReplyText = "Принят неверный код ответа: 0x{}h";
constexpr std::string_view BadBaudRateText =
    "Неверный номер скорости обмена в настройках драйвера: {} (допустимы 0-6)";

std::string Fill(std::string_view Sentence, std::string_view Value) {
    const std::size_t At = Sentence.find(Blank);
    return std::string(Sentence.substr(0, At))
        .append(Value)
        .append(Sentence.substr(At + Blank.size()));
}

std::string_view TrimLeft(std::string_view S) {
    return S.substr(std::min(S.find_first_not_of(' '), S.size()));
}

// The number in the blank of Sentence, which begins Line, and what follows
// the sentence; spaces after the number belong to the blank (its padding).
struct TTaken {
    uint32_t Value;
    std::string_view Rest;
};
std::optional<TTaken> Take(std::string_view Sentence, std::string_view Line) {
    const std::size_t At = Sentence.find(Blank);
    const std::string_view Before = Sentence.substr(0, At),
                           After = TrimLeft(Sentence.substr(At + Blank.size()));
    if (!Line.starts_with(Before))
        return std::nullopt;
    Line.remove_prefix(Before.size());
    uint32_t Value = 0;
    const auto [End, Error] = std::from_chars(Line.data(), Line.data() + Line.size(), Value);
    if (Error != std::errc())
        return std::nullopt;
    Line = TrimLeft(Line.substr(static_cast<std::size_t>(End - Line.data())));
    if (!Line.starts_with(After))
        return std::nullopt;
    return TTaken{Value, Line.substr(After.size())};
}

// The number of a sentence that is the whole Line.
std::optional<uint32_t> Number(std::string_view Sentence, std::string_view Line) {
    const auto Taken = Take(Sentence, Line);
    if (!Taken || !Taken->Rest.empty())
        return std::nullopt;
    return Taken->Value;
}

} // namespace

std::string SettingTimeout(int32_t Timeout) {
    return Fill(SettingTimeoutText, std::to_string(Timeout));
}

std::string Maximum(uint32_t Delay) {
    return Fill(MaximumText, std::to_string(Delay));
}

std::string Probe(uint32_t Delay, std::string_view Outcome) {
    char Padded[16];
    std::snprintf(Padded, sizeof Padded, "%-6u", Delay);
    return Fill(ProbeText, Padded).append(Outcome);
}

std::string Stretched(uint64_t OverMs) {
    return Fill(StretchedText, std::to_string(OverMs));
}

std::string WrongReply(uint8_t Byte) {
    char Hex[4];
    std::snprintf(Hex, sizeof Hex, "%.2X", Byte);
    return Fill(WrongReplyText, Hex);
}

std::string BadBaudRateIndex(int32_t Index) {
    return Fill(BadBaudRateText, std::to_string(Index));
}

std::optional<TProbeLine> ReadProbe(std::string_view Line) {
    const auto Taken = Take(ProbeText, Line);
    if (!Taken)
        return std::nullopt;
    return TProbeLine{Taken->Value, std::string(Taken->Rest)};
}

std::optional<uint32_t> ReadMaximum(std::string_view Line) {
    return Number(MaximumText, Line);
}

bool IsStretched(std::string_view Outcome) {
    return Number(StretchedText, Outcome).has_value();
}

} // namespace runlog
