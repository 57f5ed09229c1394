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
#include <set>

namespace {

using emu::TFault;
using emu::TSentence;

const std::string Status = BuildFrame(ShortStatusCommand());
const std::string Enq = ControlByte(ENQ);
const std::string Nak = ControlByte(NAK);
const std::string AckEnq = ControlByte(ACK) + ControlByte(ENQ);

// The host sends Sent at 0 ms and gets Reply; at ThenAt it sends ThenSent and
// gets ThenReply. The exchange timeout is 150 ms.
struct TFaultCase {
    emu::TRegisterOptions Options;
    std::string Sent;
    const char* Reply;
    uint64_t ThenAt;
    std::string ThenSent;
    const char* ThenReply;
};

// clang-format off
const TFaultCase FaultCases[] = {
    // An ACK 149 ms after the answer delivers it: the next ENQ gets NAK.
    {{}, Status, "06 02 07 11 00 1E 02 00 00 00 0A", 149, AckEnq, "15"},
    // Nothing, ever.
    {{.Fault = TFault::Silence}, Status, "", 10000, Enq, ""},
    // Every ENQ gets the byte chosen; frames are answered as usual.
    {{.Fault = TFault::WrongEnq, .WrongEnqReply = 0x42}, Enq, "42",
     10, Status, "06 02 07 11 00 1E 02 00 00 00 0A"},
    // The checksum inverted, again when the host asks for the answer anew.
    {{.Fault = TFault::BadChecksum}, Status, "06 02 07 11 00 1E 02 00 00 00 F5",
     10, Nak, "02 07 11 00 1E 02 00 00 00 F5"},
    {{.Fault = TFault::NoStx}, Status, "06 00 07 11 00 1E 02 00 00 00 0A",
     10, Nak, "00 07 11 00 1E 02 00 00 00 0A"},
    {{.Fault = TFault::CutFrame}, Status, "06 02 07", 10, Nak, "02 07"},
    // Silent from the first short status command for a second, then answers.
    {{.Fault = TFault::Mute, .MuteMs = 1000}, Status, "",
     1000, Status, "06 02 07 11 00 1E 02 00 00 00 0A"},
};
// clang-format on

TEST(Emulator, EachFaultModeAsTheHostSeesItOnTheWire) {
    std::set<TFault> Tested;
    for (const TFaultCase& C : FaultCases) {
        SCOPED_TRACE(emu::FaultMode(C.Options.Fault).Name);
        Tested.insert(C.Options.Fault);
        emu::TRegisterCore Core(C.Options);
        EXPECT_EQ(emu::HexBytes(Core.Receive(C.Sent, 0)), C.Reply);
        Core.Advance(C.ThenAt);
        EXPECT_EQ(emu::HexBytes(Core.Receive(C.ThenSent, C.ThenAt)), C.ThenReply);
    }
    EXPECT_EQ(Tested.size(), std::size(emu::FaultModes)) << "a fault mode without its case";
}

// A sentence with its values, and the line as its readers (the bench report,
// the Wine scenarios, the bench docs) know it.
struct TSentenceCase {
    TSentence Sentence;
    std::vector<std::string> Values;
    std::string Line;
};

const TSentenceCase SentenceCases[] = {
    {TSentence::Start,
     {"PTY /dev/pts/4 (link /tmp/com1)", "150", "150", "100000", "none"},
     "PTY /dev/pts/4 (link /tmp/com1): exchange timeout 150 ms (requested 150, cap 100000), "
     "fault none"},
    {TSentence::Frame, {"02 05 11 3B 00 00 00 2F"}, "<- 02 05 11 3B 00 00 00 2F (frame)"},
    {TSentence::AckInTime, {"1020"}, "<- 06 ACK after 1020 ms: answer delivered"},
    {TSentence::AckLate, {"2200"}, "<- 06 ACK too late, 2200 ms after the answer (answer kept)"},
    {TSentence::TimeoutSet,
     {"2000", "100000", "2000"},
     "exchange timeout set to 2000 ms (requested 100000, cap 2000)"},
    {TSentence::MuteStart, {"8000"}, "mute: silent for 8000 ms, this command not answered"},
    {TSentence::MuteOver, {}, "mute over: answering again"},
    {TSentence::Stopped, {}, "stopped"},
};

TEST(EmulatorLog, EachSentenceReadsBackAsWritten) {
    for (const TSentenceCase& C : SentenceCases) {
        SCOPED_TRACE(C.Line);
        EXPECT_EQ(emu::LogLine(C.Sentence, C.Values), C.Line);
        for (const std::string Stamp : {"", "12:03:04.567 "}) {
            const auto Parsed = emu::ParseLogLine(Stamp + C.Line);
            ASSERT_TRUE(Parsed);
            EXPECT_EQ(Parsed->Sentence, C.Sentence);
            EXPECT_EQ(Parsed->Values, C.Values);
        }
    }
}

TEST(EmulatorLog, OtherLinesAreNoneOfTheSentences) {
    for (const char* Line : {"12:03:04.567 <- 02 05 11 3B 00 00 00 2E (frame with bad checksum, "
                             "expected 2F)",
                             "12:03:04.567 stopped: /dev/pts/4 hung up",
                             "12:03:04.567 <- 06 ACK ignored: no answer held",
                             "12:03:04.567 no ACK within 2000 ms: answer kept for the next ENQ",
                             "12:03:04.567 mute over: answering again, twice"})
        EXPECT_FALSE(emu::ParseLogLine(Line)) << Line;
}

// The value of NAME='...' in a shell script.
std::string ShellValue(const std::string& Script, const std::string& Name) {
    const auto At = Script.find("\n" + Name + "='");
    if (At == std::string::npos)
        return {};
    const auto From = At + Name.size() + 3;
    return Script.substr(From, Script.find('\'', From) - From);
}

TEST(EmulatorLog, TheWineScenariosFindTheSentencesTheyGrepFor) {
    std::ifstream In(ORMANT_SOURCE_DIR "/tests/win/e2e.sh");
    const std::string Script{std::istreambuf_iterator<char>(In), {}};
    ASSERT_FALSE(Script.empty());
    // Each pattern of the script, a line the emulator writes and what the
    // script takes from it.
    const struct {
        const char* Name;
        std::string Line;
        std::string Taken;
    } Cases[] = {
        {"EmuTimeoutSet", emu::LogLine(TSentence::TimeoutSet, {"500", "100000", "500"}), "100000"},
        {"EmuMuteOver", emu::LogLine(TSentence::MuteOver, {}), ""},
        {"EmuStopped", "12:03:04.567 " + emu::LogLine(TSentence::Stopped, {}), ""},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Pattern = ShellValue(Script, C.Name);
        ASSERT_FALSE(Pattern.empty());
        std::smatch Match;
        ASSERT_TRUE(std::regex_search(C.Line, Match, std::regex(Pattern, std::regex::basic)));
        EXPECT_EQ(Match.size() > 1 ? Match[1].str() : "", C.Taken);
    }
}

} // namespace
