// ormant-emu: plays the register on a pseudo-terminal or a serial device
// (on Windows a COM port) so the timeout tool can be tried without the
// hardware.
#include "untRegisterLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

const char Usage[] =
    R"(Usage: ormant-emu [options]
Plays the register on its end of a serial line and logs the exchange.

  --link PATH      make PATH a symlink to the line (replaced if a symlink is
                   there; not on Windows)
  --device PATH    use this serial device instead of a new pseudo-terminal
                   (on Windows a COM port, COM7 or \\.\COM7, and always)
  --baud N         baud rate of --device (default 9600)
  --timeout MS     exchange timeout at start (default 150)
  --cap MS         the longest exchange timeout honoured (default 100000)
  --grace MS       how much longer than its timeout it really waits (default 0)
  --fault MODE     none, silence, wrong-enq[=0xNN], bad-checksum, no-stx,
                   cut-frame, mute (wrong-enq, cut-frame and
                   mute start with the first timeout command, so a driver
                   connects and raises the timeout first)
  --mute-after N   mute: answer N short status commands, then fall silent at
                   the next one (default 0)
  --mute-seconds S mute: stay silent for S seconds, then answer again
                   (default 8)
  --log FILE       append the log to FILE (default stderr)
  --help           this text

Prints "PTY /dev/pts/N" (or "DEVICE PATH") on stdout once the line is ready;
runs until SIGINT or SIGTERM (Ctrl+C). Exits with 2 for a bad option or a
line that cannot be made ready (no such port, not a serial port, held by
another program, a rate it cannot take), 1 when the line fails later.
)";

class EUsage : public std::runtime_error {
    using std::runtime_error::runtime_error;
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

void ParseFault(std::string_view Mode, emu::TRegisterOptions& Options) {
    using emu::TFault;
    const auto Eq = Mode.find('=');
    const std::string_view Name = Mode.substr(0, Eq);
    const auto Found = std::find_if(std::begin(emu::FaultModes), std::end(emu::FaultModes),
                                    [Name](const emu::TFaultMode& M) { return M.Name == Name; });
    if (Found == std::end(emu::FaultModes))
        throw EUsage("unknown fault mode: " + std::string(Mode));
    // The last --fault given is the one in force, with nothing left of an
    // earlier one.
    const emu::TRegisterOptions Defaults;
    Options.Fault = Found->Fault;
    Options.FaultAfterTimeoutCommand = Found->AfterTimeoutCommand;
    Options.WrongEnqReply = Defaults.WrongEnqReply;
    const std::string What = "--fault " + std::string(Name);
    if (Eq == std::string_view::npos)
        return;
    if (Found->Fault != TFault::WrongEnq)
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
    std::optional<uint32_t> Baud;
    bool MuteOption = false;
    std::string LogFile;
};

// The options that set one of the register's numbers.
const std::pair<std::string_view, uint32_t emu::TRegisterOptions::*> NumberOptions[] = {
    {"--timeout", &emu::TRegisterOptions::InitialTimeout},
    {"--cap", &emu::TRegisterOptions::MaxTimeout},
    {"--grace", &emu::TRegisterOptions::GraceMs},
    {"--mute-after", &emu::TRegisterOptions::MuteAfter},
};

// Nothing for --help.
std::optional<TCommandLine> Parse(int Argc, char** Argv) {
    TCommandLine C;
    for (int I = 1; I < Argc; ++I) {
        std::string Option = Argv[I];
        std::optional<std::string> Value;
        if (const auto Eq = Option.find('='); Option.starts_with("--") && Eq != std::string::npos) {
            Value = Option.substr(Eq + 1);
            Option.resize(Eq);
        }
        if (Option == "--help")
            return std::nullopt;
        if (!Value) {
            if (I + 1 >= Argc)
                throw EUsage(Option + " needs a value");
            Value = Argv[++I];
        }
        C.MuteOption = C.MuteOption || Option.starts_with("--mute-");
        const auto Number = std::find_if(std::begin(NumberOptions), std::end(NumberOptions),
                                         [&Option](const auto& N) { return N.first == Option; });
        if (Number != std::end(NumberOptions))
            C.Register.*Number->second = ParseNumber(*Value, Option);
        else if (Option == "--link")
            C.Line.Link = *Value;
        else if (Option == "--device")
            C.Line.Device = *Value;
        else if (Option == "--baud")
            C.Baud = ParseNumber(*Value, Option);
        else if (Option == "--fault")
            ParseFault(*Value, C.Register);
        else if (Option == "--mute-seconds") {
            const uint32_t Seconds = ParseNumber(*Value, Option);
            if (Seconds == 0 || Seconds > UINT32_MAX / 1000)
                throw EUsage("--mute-seconds: from 1 to " + std::to_string(UINT32_MAX / 1000));
            C.Register.MuteMs = Seconds * 1000;
        } else if (Option == "--log")
            C.LogFile = *Value;
        else
            throw EUsage("unknown option: " + Option);
    }
    if (C.Baud && !C.Line.Device)
        throw EUsage("--baud applies to --device only");
    if (C.MuteOption && C.Register.Fault != emu::TFault::Mute)
        throw EUsage("--mute-after and --mute-seconds apply to --fault mute only");
    if (!C.Line.Link.empty() && C.Line.Device && C.Line.Link == *C.Line.Device)
        throw EUsage("--link would replace the device itself");
    C.Line.Baud = C.Baud.value_or(C.Line.Baud);
    return C;
}

} // namespace

int main(int Argc, char** Argv) {
    // First, so only ServeUntilStopped takes a stop and the link is always
    // removed.
    emu::PrepareStopRequest();

    std::optional<TCommandLine> C;
    try {
        C = Parse(Argc, Argv);
    } catch (const EUsage& E) {
        std::cerr << "ormant-emu: " << E.what() << "\nTry ormant-emu --help\n";
        return 2;
    }
    if (!C) {
        std::cout << Usage;
        return 0;
    }
    try {
        std::ofstream LogFile;
        if (!C->LogFile.empty()) {
            LogFile.open(C->LogFile, std::ios::app);
            if (!LogFile)
                throw emu::ELineSetup("cannot open the log " + C->LogFile);
        }
        std::ostream& LogStream = C->LogFile.empty() ? std::cerr : LogFile;
        // Flushed per line so a technician can follow the log while it runs.
        const auto Sink = [&LogStream](const std::string& Line) { LogStream << Line << std::endl; };
        emu::ServeUntilStopped(C->Register, C->Line, Sink,
                               [](const std::string& Ready) { std::cout << Ready << std::endl; });
        return 0;
    } catch (const emu::ELineSetup& E) {
        std::cerr << "ormant-emu: " << E.what() << "\n";
        return 2;
    } catch (const std::exception& E) {
        std::cerr << "ormant-emu: " << E.what() << "\n";
        return 1;
    }
}
