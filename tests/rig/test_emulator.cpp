// The register emulator in virtual time: each fault mode as the host sees it
// on the wire, and the log's sentences as their readers find them.
#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace {

using enum emu::TFault;
using enum emu::TSentence;

const std::string Status = BuildFrame(ShortStatusCommand()), Enq = ControlByte(ENQ),
                  Nak = ControlByte(NAK), Answer = "06 02 07 11 00 1E 02 00 00 00 0A";

// The log's first line names the fault as Named. The host sends Sent at 0 ms
// and gets Reply; at ThenAt it sends ThenSent and gets ThenReply. The
// exchange timeout is 150 ms; Answer is the answer to a short status command.
struct TFaultCase {
    emu::TRegisterOptions Options;
    std::string Named, Sent, Reply;
    uint64_t ThenAt;
    std::string ThenSent, ThenReply;
};

// clang-format off
const TFaultCase FaultCases[] = {
    // An ACK 149 ms after the answer delivers it: the next ENQ gets NAK.
    {{}, "none", Status, Answer, 149, ControlByte(ACK) + Enq, "15"},
    {{.Fault = Silence}, "silence", Status, "", 10000, Enq, ""},
    // Every ENQ gets the byte chosen; frames are answered as usual.
    {{.Fault = WrongEnq, .WrongEnqReply = 0x42}, "wrong-enq 42", Enq, "42", 10, Status, Answer},
    // The checksum inverted, again when the host asks for the answer anew.
    {{.Fault = BadChecksum}, "bad-checksum", Status, "06 02 07 11 00 1E 02 00 00 00 F5",
     10, Nak, "02 07 11 00 1E 02 00 00 00 F5"},
    {{.Fault = NoStx}, "no-stx", Status, "06 00 07 11 00 1E 02 00 00 00 0A",
     10, Nak, "00 07 11 00 1E 02 00 00 00 0A"},
    {{.Fault = CutFrame}, "cut-frame", Status, "06 02 07", 10, Nak, "02 07"},
    // Silent from the first short status command for a second, then answers.
    {{.Fault = Mute, .MuteMs = 1000}, "mute for 1000 ms after 0 short status commands",
     Status, "", 1000, Status, Answer},
};
// clang-format on
static_assert(std::size(FaultCases) == std::size(emu::FaultModes), "a fault mode without a case");

TEST(Emulator, EachFaultModeAsTheHostSeesItOnTheWireAndAsTheLogNamesIt) {
    for (const TFaultCase& C : FaultCases) {
        SCOPED_TRACE(C.Named);
        emu::TRegisterCore Core(C.Options);
        EXPECT_EQ(emu::StartLine("COM7", Core),
                  "COM7: exchange timeout 150 ms (requested 150, cap 100000), fault " + C.Named);
        EXPECT_EQ(emu::HexBytes(Core.Receive(C.Sent, 0)), C.Reply);
        EXPECT_EQ(emu::HexBytes(Core.Receive(C.ThenSent, C.ThenAt)), C.ThenReply);
    }
}

// The sentences others read, each with its values and its line as the bench
// report and the bench docs know it; for the Wine scenarios, the variable of
// tests/win/e2e.sh that holds their pattern for it, and what that takes.
struct TSentenceCase {
    emu::TSentence Sentence;
    std::vector<std::string> Values;
    std::string Line, ShellName = "", Taken = "";
};

// clang-format off
const TSentenceCase SentenceCases[] = {
    {Frame, {"02 05 11 3B 00 00 00 2F"}, "<- 02 05 11 3B 00 00 00 2F (frame)"},
    {AckInTime, {"1020"}, "<- 06 ACK after 1020 ms: answer delivered"},
    {AckLate, {"2200"}, "<- 06 ACK too late, 2200 ms after the answer (answer kept)"},
    {TimeoutSet, {"2000", "100000", "2000"},
     "exchange timeout set to 2000 ms (requested 100000, cap 2000)", "EmuTimeoutSet", "100000"},
    {MuteStart, {"8000"}, "mute: silent for 8000 ms, this command not answered"},
    {MuteOver, {}, "mute over: answering again", "EmuMuteOver"},
    {Stopped, {}, "stopped", "EmuStopped"},
};
// clang-format on

TEST(EmulatorLog, EachSentenceAsWrittenAndAsTheWineScenariosGrepIt) {
    std::ifstream In(ORMANT_SOURCE_DIR "/tests/win/e2e.sh");
    const std::string Script{std::istreambuf_iterator<char>(In), {}};
    for (const TSentenceCase& C : SentenceCases) {
        SCOPED_TRACE(C.Line);
        EXPECT_EQ(emu::LogLine(C.Sentence, C.Values), C.Line);
        std::smatch Var, Match;
        if (C.ShellName.empty())
            continue;
        ASSERT_TRUE(std::regex_search(Script, Var, std::regex("\n" + C.ShellName + "='([^']*)'")));
        const std::string Stamped = "12:03:04.567 " + C.Line;
        ASSERT_TRUE(std::regex_search(Stamped, Match, std::regex(Var[1].str(), std::regex::basic)));
        EXPECT_EQ(Match[1].str(), C.Taken); // "" where the pattern takes nothing
    }
}

} // namespace
