// The bench report from a log the emulator's core wrote and the program's log
// as a tester saved it.
#include "untBenchReport.h"
#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// A run as the emulator logs it, time stamps and all: the driver raises the
// timeout (its own ACK comes at once), then probes acknowledged 117 ms and
// 3021 ms after the answer (past the cap of 3000), and one stopped before
// its ACK.
std::string EmulatorLog() {
    std::string Log;
    const emu::TLineLog Stamped([&Log](const std::string& Line) { Log += Line + "\n"; });
    emu::TRegisterCore Core({.MaxTimeout = 3000});
    Core.SetLog(Stamped);
    Stamped(0, emu::StartLine("DEVICE COM7", Core));
    const std::string Probe = BuildFrame(ShortStatusCommand()), Ack = ControlByte(ACK);
    // clang-format off
    // clang-format off
    const std::pair<uint64_t, std::string> Host[] = {
        {100, BuildFrame(SetExchangeTimeoutCommand(100000))}, {101, Ack},
        {200, Probe}, {317, Ack}, {1000, Probe}, {4021, Ack}, {5000, Probe}};
    // clang-format on
    for (const auto& [At, Bytes] : Host)
        Core.Receive(Bytes, At);
    return Log;
}

// The program's log of that run, saved with a byte order mark.
const std::string ProgramLog = "\xEF\xBB\xBF"
                               "100    мс : OK\r\n"
                               "3000   мс : Тест не пройден!\r\n"
                               "2500   мс : Тест прерван\r\n"
                               "Максимальный таймаут: 2978 мс.\r\n";

TEST(BenchReport, PairsEachProbeWithTheAckTheRegisterHeld) {
    EXPECT_EQ(bench::FormatReport(bench::MakeReport(EmulatorLog(), ProgramLog), "Windows 10"),
              "Machine: Windows 10\n\n"
              " delay   held   diff  verdict\n"
              "   100    117     17  OK\n"
              "  3000   3021     21  not passed\n"
              "  2500      -      -  no verdict\n\n"
              "held - delay over 2 probes: min 17, median 17, p99 21, max 21 ms\n"
              "search: 2978 ms against a cap of 3000 ms, 22 ms below\n");
}

TEST(BenchReport, LogsOfDifferentRunsDoNotPair) {
    EXPECT_THROW(bench::MakeReport(EmulatorLog(), ProgramLog + "5000   мс : OK\r\n"),
                 bench::EReport);
    EXPECT_THROW(bench::MakeReport("", ""), bench::EReport);
}

// A text as Notepad saves it: UTF-8, with a byte order mark or without, UTF-16 LE
// with its mark, or in code page 1251.
// clang-format off
const std::string Saved[] = {
    "Тест прерван",
    "\xEF\xBB\xBFТест прерван",
    "\xFF\xFE\x22\x04\x35\x04\x41\x04\x42\x04\x20\x00"
    "\x3F\x04\x40\x04\x35\x04\x40\x04\x32\x04\x30\x04\x3D\x04"s,
    "\xD2\xE5\xF1\xF2 \xEF\xF0\xE5\xF0\xE2\xE0\xED",
};
// clang-format on

TEST(BenchReport, ReadsATextWhateverNotepadSavedItAs) {
    for (const std::string& Text : Saved)
        EXPECT_EQ(bench::DecodeText(Text), "Тест прерван");
}

} // namespace
