// The bench report from an emulator's log and a program's log as a tester
// sends them back.
#include "untBenchReport.h"
#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"

#include <gtest/gtest.h>

namespace {

// The driver's own exchanges (their ACKs come at once) around three probes:
// one acknowledged in time, one too late, one stopped before its ACK.
const std::string EmulatorLog =
    "10:00:00.000 DEVICE COM7: exchange timeout 150 ms (requested 150, cap 3000), fault none\n"
    "10:00:00.100 <- 02 05 11 3B 00 00 00 2F (frame)\n"
    "10:00:00.101 <- 06 ACK after 0 ms: answer delivered\n"
    "10:00:00.200 <- 02 09 14 3B 00 00 00 A0 86 01 00 9D (frame)\n"
    "10:00:00.210 exchange timeout set to 3000 ms (requested 100000, cap 3000)\n"
    "10:00:00.300 <- 02 05 11 3B 00 00 00 2F (frame)\n"
    "10:00:00.421 <- 06 ACK after 117 ms: answer delivered\n"
    "10:00:01.000 <- 02 05 11 3B 00 00 00 2F (frame)\n"
    "10:00:05.000 no ACK within 3000 ms: answer kept for the next ENQ\r\n"
    "10:00:11.000 <- 06 ACK too late, 10021 ms after the answer (answer kept)\n"
    "10:00:12.000 <- 02 05 11 3B 00 00 00 2F (frame)\n";

const std::string ProgramLog = "Подключение к ФР\r\n"
                               "Тест фиксированных таймаутов\r\n"
                               "100    мс : OK\r\n"
                               "10000  мс : Тест не пройден!\r\n"
                               "2500   мс : Тест прерван\r\n"
                               "Максимальный таймаут: 2978 мс.\r\n";

const std::string Expected = "Machine: Windows 10, com0com\n\n"
                             " delay   held   diff  verdict\n"
                             "   100    117     17  OK\n"
                             " 10000  10021     21  not passed\n"
                             "  2500      -      -  no verdict\n"
                             "\n"
                             "held - delay over 2 probes: min 17, median 17, p99 21, max 21 ms\n"
                             "search: 2978 ms against a cap of 3000 ms, 22 ms below\n";

std::string Utf16(const std::string& Utf8) {
    std::string Out = "\xFF\xFE";
    for (std::size_t I = 0; I < Utf8.size();) {
        const auto C = static_cast<unsigned char>(Utf8[I]);
        const uint32_t Code = C < 0x80 ? C : ((C & 0x1F) << 6) | (Utf8[I + 1] & 0x3F);
        I += C < 0x80 ? 1 : 2; // the logs hold ASCII and Cyrillic only
        Out += static_cast<char>(Code & 0xFF);
        Out += static_cast<char>(Code >> 8);
    }
    return Out;
}

std::string Cp1251(const std::string& Utf8) {
    std::string Out;
    for (std::size_t I = 0; I < Utf8.size();) {
        const auto C = static_cast<unsigned char>(Utf8[I]);
        if (C < 0x80) {
            Out += Utf8[I++];
            continue;
        }
        const uint32_t Code = ((C & 0x1F) << 6) | (Utf8[I + 1] & 0x3F);
        Out += static_cast<char>(Code == 0x401 ? 0xA8 : Code == 0x451 ? 0xB8 : Code - 0x410 + 0xC0);
        I += 2;
    }
    return Out;
}

TEST(BenchReport, PairsEachProbeWithItsHeldAckWhateverNotepadSavedItAs) {
    for (const std::string& Saved :
         {ProgramLog, "\xEF\xBB\xBF" + ProgramLog, Utf16(ProgramLog), Cp1251(ProgramLog)}) {
        SCOPED_TRACE(Saved.substr(0, 8));
        EXPECT_EQ(bench::FormatReport(bench::MakeReport(EmulatorLog, Saved), "Windows 10, com0com"),
                  Expected);
    }
}

TEST(BenchReport, LogsOfDifferentRunsDoNotPair) {
    // One probe more in the program's log than held ACKs on the wire.
    EXPECT_THROW(bench::MakeReport(EmulatorLog, ProgramLog + "5000   мс : OK\n"), bench::EReport);
    EXPECT_THROW(bench::MakeReport(EmulatorLog, "Подключение к ФР\n"), bench::EReport);
}

// A run as the emulator's core logs it, time stamps and all: the driver
// raises the timeout, then a probe of 100 ms acknowledged 117 ms after the
// answer, and one of 3000 ms acknowledged after 3021 ms, past the cap.
std::string CoreLog() {
    std::string Log;
    emu::TRegisterCore Core({.MaxTimeout = 3000});
    Core.SetLog(emu::TLineLog([&Log](const std::string& Line) { Log += Line + "\n"; }));
    const auto Host = [&Core](uint64_t At, const std::string& Bytes) {
        Core.Advance(At);
        Core.Receive(Bytes, At);
    };
    Log +=
        emu::LogLine(emu::TSentence::Start, {"DEVICE COM7", "150", "150", "3000", "none"}) + "\n";
    const std::string Probe = BuildFrame(ShortStatusCommand());
    Host(100, BuildFrame(SetExchangeTimeoutCommand(100000)));
    Host(101, ControlByte(ACK));
    Host(200, Probe);
    Host(317, ControlByte(ACK));
    Host(1000, Probe);
    Host(4021, ControlByte(ACK));
    return Log;
}

TEST(BenchReport, ReadsTheLogTheEmulatorWrites) {
    EXPECT_EQ(
        bench::FormatReport(bench::MakeReport(CoreLog(), "100    мс : OK\r\n"
                                                         "3000   мс : Тест не пройден!\r\n"
                                                         "Максимальный таймаут: 2978 мс.\r\n"),
                            ""),
        "Machine: (not given)\n\n"
        " delay   held   diff  verdict\n"
        "   100    117     17  OK\n"
        "  3000   3021     21  not passed\n"
        "\n"
        "held - delay over 2 probes: min 17, median 17, p99 21, max 21 ms\n"
        "search: 2978 ms against a cap of 3000 ms, 22 ms below\n");
}

} // namespace
