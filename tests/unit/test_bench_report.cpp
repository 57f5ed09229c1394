// The bench report from a log the emulator's core wrote and the program's log
// as a tester saved it.
#include "RunLog.h"
#include "untBenchReport.h"
#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"

#include <gtest/gtest.h>

namespace {


// Probes as the emulator logs them, time stamps and all, after the driver
// has raised the timeout (its own ACK comes at once), acknowledged so long
// after the answer: 117 ms; 3500 (held again) and 3021 ms, past the cap of
// 3000; three times past it; 3540 (held again) and 1012 ms; and one stopped
// before its ACK.
std::string EmulatorLog() {
    std::string Log;
    const emu::TLineLog Stamped([&Log](const std::string& Line) { Log += Line + "\n"; });
    emu::TRegisterCore Core({.MaxTimeout = 3000});
    Core.SetLog(Stamped);
    Stamped(0, emu::StartLine("DEVICE COM7", Core));
    const std::string Probe = BuildFrame(ShortStatusCommand()), Ack = ControlByte(ACK);
    // clang-format off
    const std::pair<uint64_t, std::string> Host[] = {
        {100, BuildFrame(SetExchangeTimeoutCommand(100000))}, {101, Ack},
        {200, Probe}, {317, Ack}, {1000, Probe}, {4500, Ack}, {5000, Probe}, {8021, Ack},
        {9000, Probe}, {12220, Ack}, {13000, Probe}, {16230, Ack}, {17000, Probe}, {20210, Ack},
        {21000, Probe}, {24540, Ack}, {25000, Probe}, {26012, Ack}, {27000, Probe}};
    // clang-format on
    for (const auto& [At, Bytes] : Host)
        Core.Receive(Bytes, At);
    return Log;
}

// The program's log of those probes, saved with a byte order mark.
std::string Saved(const TLines& Lines) {
    std::string Text = "\xEF\xBB\xBF";
    for (const std::string& Line : Lines)
        Text += Line + "\r\n";
    return Text;
}
const std::string ProgramLog =
    Saved({Ok(100), NotOk(3000), runlog::Probe(2500, runlog::Stretched(720)), Ok(1000), Cut(2000),
           runlog::Maximum(2978)});

TEST(BenchReport, PairsEachProbeWithTheAckTheRegisterHeld) {
    EXPECT_EQ(bench::FormatReport(bench::MakeReport(EmulatorLog(), ProgramLog), "Windows 10"),
              "Machine: Windows 10\n\n"
              " delay   held   diff  verdict\n"
              "   100    117     17  OK\n"
              "  3000   3500    500  held again\n"
              "  3000   3021     21  not passed\n"
              "  2500   3220    720  held again\n"
              "  2500   3230    730  held again\n"
              "  2500   3210    710  held again\n"
              "  2500      -      -  no verdict\n"
              "  1000   3540   2540  held again\n"
              "  1000   1012     12  OK\n"
              "  2000      -      -  no verdict\n\n"
              "held - delay over 3 probes: min 12, median 17, p99 21, max 21 ms\n"
              "search: 2978 ms against a cap of 3000 ms, 22 ms below\n");
}

} // namespace
