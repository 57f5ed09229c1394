// ormant-report: the bench report from the emulator's log and the program's
// log saved as text (select the log in the window, copy, paste into Notepad
// and save). Runs wherever the logs are: Linux or Windows.
#include "untBenchReport.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

const char Usage[] = R"(Usage: ormant-report EMULATOR-LOG PROGRAM-LOG [MACHINE...]
Writes the bench report to standard output: for each probe the delay, how
long the register really waited for the ACK and the difference; their
min / median / p99 / max; the search's result against the register's cap.
MACHINE is the machine's description as you type it (the rest of the line:
Windows version, processor, the adapter or the virtual null-modem). Save the
report with "> report.txt" and send it back.
Exits with 2 for a file it cannot read, 1 for logs that do not pair.
)";

std::string ReadAll(const char* Path) {
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        throw std::runtime_error(std::string("cannot read ") + Path);
    return {std::istreambuf_iterator<char>(In), {}};
}

} // namespace

int main(int Argc, char** Argv) {
    if (Argc < 3 || std::string(Argv[1]) == "--help") {
        std::cerr << Usage;
        return Argc >= 2 && std::string(Argv[1]) == "--help" ? 0 : 2;
    }
    std::string Machine;
    for (int I = 3; I < Argc; ++I)
        Machine.append(I > 3 ? " " : "").append(Argv[I]);
    std::string Emulator, Program;
    try {
        Emulator = ReadAll(Argv[1]);
        Program = ReadAll(Argv[2]);
    } catch (const std::exception& E) {
        std::cerr << "ormant-report: " << E.what() << "\n";
        return 2;
    }
    try {
        std::cout << bench::FormatReport(bench::MakeReport(Emulator, Program), Machine);
        return 0;
    } catch (const std::exception& E) {
        std::cerr << "ormant-report: " << E.what() << "\n";
        return 1;
    }
}
