// ormant-emu: plays the register on a pseudo-terminal, a serial device or (on
// Windows) a COM port; emulator/README.md tells the rest.
#include "untRegisterLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

const char Usage[] =
    R"(Usage: ormant-emu [options]
Plays the register on its end of a serial line and logs the exchange.
  --link PATH       a symlink to the line (not on Windows)
  --device PATH     a serial device, not a new pseudo-terminal (Windows: COM7)
  --baud N          of --device (9600)
  --timeout MS      exchange timeout at start (150)
  --cap MS          the longest exchange timeout honoured (100000)
  --grace MS        waited for an ACK beyond the timeout (0)
  --fault MODE      none, silence, bad-checksum, no-stx; from the first
                    command 14 on: wrong-enq[=0xNN], cut-frame, mute
  --mute-after N    mute: short status commands answered before silence (0)
  --mute-seconds S  mute: how long it stays silent (8)
  --log FILE        append the log to FILE (stderr)
Prints "PTY /dev/pts/N" or "DEVICE PATH" once the line is ready, runs until
SIGINT or SIGTERM (Ctrl+C). Exit 2: bad option or line; 1: line failed later.
)";

// A bad option: the command line's fault, as a line that cannot be made ready.
class EUsage : public emu::ELineSetup {
public:
    explicit EUsage(const std::string& What) : ELineSetup(What + "\nTry ormant-emu --help") {}
};

uint32_t ParseNumber(std::string_view Text, const std::string& What, int Base = 10) {
    if (Base == 16 && (Text.starts_with("0x") || Text.starts_with("0X")))
        Text.remove_prefix(2);
    uint32_t Value = 0;
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, Base);
    if (Text.empty() || Error != std::errc() || End != Text.data() + Text.size())
        throw EUsage(What + ": not a number: " + std::string(Text));
    return Value;
}

// Each --fault starts from the defaults: the last one given is the one in force.
void ParseFault(std::string_view Mode, emu::TRegisterOptions& Options) {
    const auto Eq = Mode.find('=');
    const std::string_view Name = Mode.substr(0, Eq);
    const auto Found = std::ranges::find(emu::FaultModes, Name, &emu::TFaultMode::Name);
    if (Found == std::end(emu::FaultModes))
        throw EUsage("unknown fault mode: " + std::string(Mode));
    Options.Fault = Found->Fault;
    Options.FaultAfterTimeoutCommand = Found->AfterTimeoutCommand;
    Options.WrongEnqReply = emu::TRegisterOptions{}.WrongEnqReply;
    if (Eq == std::string_view::npos)
        return;
    const std::string What = "--fault " + std::string(Name);
    if (Found->Fault != emu::TFault::WrongEnq)
        throw EUsage(What + " takes no value");
    const std::string_view Arg = Mode.substr(Eq + 1);
    const uint32_t Byte = ParseNumber(Arg, What, 16);
    if (Byte > 0xFF)
        throw EUsage(What + ": not a byte: " + std::string(Arg));
    Options.WrongEnqReply = static_cast<uint8_t>(Byte);
}

struct TCommandLine {
    emu::TRegisterOptions Register;
    emu::TLineRequest Line;
    std::string LogFile;
};

// Nothing for --help.
std::optional<TCommandLine> Parse(int Argc, char** Argv) {
    TCommandLine C;
    uint32_t MuteSeconds = C.Register.MuteMs / 1000;
    const std::map<std::string, uint32_t*> Numbers = {
        {"--timeout", &C.Register.InitialTimeout}, {"--cap", &C.Register.MaxTimeout},
        {"--grace", &C.Register.GraceMs},          {"--mute-after", &C.Register.MuteAfter},
        {"--mute-seconds", &MuteSeconds},          {"--baud", &C.Line.Baud},
    };
    std::set<std::string> Given;
    for (int I = 1; I < Argc; ++I) {
        std::string Option = Argv[I];
        std::optional<std::string> Value;
        if (const auto Eq = Option.find('='); Option.starts_with("--") && Eq != std::string::npos) {
            Value = Option.substr(Eq + 1);
            Option.resize(Eq);
        }
        if (Option == "--help")
            return std::nullopt;
        if (!Value && I + 1 >= Argc)
            throw EUsage(Option + " needs a value");
        const std::string V = Value ? *Value : Argv[++I];
        Given.insert(Option);
        if (const auto Number = Numbers.find(Option); Number != Numbers.end())
            *Number->second = ParseNumber(V, Option);
        else if (Option == "--link")
            C.Line.Link = V;
        else if (Option == "--device")
            C.Line.Device = V;
        else if (Option == "--fault")
            ParseFault(V, C.Register);
        else if (Option == "--log")
            C.LogFile = V;
        else
            throw EUsage("unknown option: " + Option);
    }
    if (MuteSeconds == 0 || MuteSeconds > UINT32_MAX / 1000)
        throw EUsage("--mute-seconds: from 1 to " + std::to_string(UINT32_MAX / 1000));
    C.Register.MuteMs = MuteSeconds * 1000;
    if (Given.contains("--baud") && !C.Line.Device)
        throw EUsage("--baud applies to --device only");
    if ((Given.contains("--mute-after") || Given.contains("--mute-seconds")) &&
        C.Register.Fault != emu::TFault::Mute)
        throw EUsage("--mute-after and --mute-seconds apply to --fault mute only");
    if (!C.Line.Link.empty() && C.Line.Link == C.Line.Device)
        throw EUsage("--link would replace the device itself");
    return C;
}

} // namespace

int main(int Argc, char** Argv) {
    // First, so only ServeUntilStopped takes a stop and the link is always removed.
    emu::PrepareStopRequest();

    try {
        const std::optional<TCommandLine> C = Parse(Argc, Argv);
        if (!C) {
            std::cout << Usage;
            return 0;
        }
        std::ofstream LogFile;
        if (!C->LogFile.empty()) {
            LogFile.open(C->LogFile, std::ios::app);
            if (!LogFile)
                throw emu::ELineSetup("cannot open the log " + C->LogFile);
        }
        std::ostream& LogStream = C->LogFile.empty() ? std::cerr : LogFile;
        // Flushed per line so a technician can follow the log while it runs.
        emu::ServeUntilStopped(
            C->Register, C->Line,
            [&LogStream](const std::string& Line) { LogStream << Line << std::endl; },
            [](const std::string& Ready) { std::cout << Ready << std::endl; });
        return 0;
    } catch (const std::exception& E) {
        std::cerr << "ormant-emu: " << E.what() << "\n";
        return dynamic_cast<const emu::ELineSetup*>(&E) ? 2 : 1;
    }
}
