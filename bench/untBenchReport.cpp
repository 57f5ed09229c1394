#include "untBenchReport.h"

#include "untFrames.h"
#include "untProtocol.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"
#include "untRunLog.h"
#include "untTimeoutRun.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <sstream>

namespace bench {

namespace {

using runlog::NotPassed;
using runlog::Passed;

struct THold {
    uint32_t Held;
    bool Delivered; // in time; else refused, the answer kept
};

void AppendUtf8(std::string& Out, uint32_t Code) {
    const int More = Code < 0x80 ? 0 : Code < 0x800 ? 1 : Code < 0x10000 ? 2 : 3;
    // The lead byte's mark: none, 110, 1110 or 11110.
    Out += static_cast<char>((More ? (0xFF00 >> (More + 1)) & 0xFF : 0) | Code >> (6 * More));
    for (int K = More - 1; K >= 0; --K)
        Out += static_cast<char>(0x80 | ((Code >> (6 * K)) & 0x3F));
}

bool ValidUtf8(const std::string& S) {
    for (std::size_t I = 0; I < S.size();) {
        // A lead byte's leading ones count its sequence's bytes.
        const int Ones = std::countl_one(static_cast<unsigned char>(S[I]));
        const std::size_t Length = Ones == 0 ? 1 : static_cast<std::size_t>(Ones);
        if (Ones == 1 || Ones > 4 || I + Length > S.size())
            return false;
        for (std::size_t K = 1; K < Length; ++K)
            if ((static_cast<unsigned char>(S[I + K]) & 0xC0) != 0x80)
                return false;
        I += Length;
    }
    return true;
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        Result.push_back(Line);
    }
    return Result;
}

// The held ACKs of the probes, in order: the first ACK after each of the
// probe's commands (short status) that came at least one of the timeout
// tool's 20 ms steps late. The driver's own ACKs come at once.
std::vector<THold> HeldAcks(const std::string& EmulatorLog, std::optional<uint32_t>& Cap) {
    using emu::TSentence;
    const std::string ProbeCommand = emu::HexBytes(BuildFrame(ShortStatusCommand()));
    std::vector<THold> Held;
    bool AfterProbeCommand = false;
    for (const std::string& Line : Lines(EmulatorLog)) {
        const auto L = emu::ParseLogLine(Line);
        if (!L)
            continue;
        if (L->Sentence == TSentence::Start && !Cap)
            Cap = L->Number(3);
        if (L->Sentence == TSentence::Frame)
            AfterProbeCommand = L->Values[0] == ProbeCommand;
        if ((L->Sentence == TSentence::AckInTime || L->Sentence == TSentence::AckLate) &&
            AfterProbeCommand) {
            AfterProbeCommand = false;
            if (L->Number(0) >= 20)
                Held.push_back({L->Number(0), L->Sentence == TSentence::AckInTime});
        }
    }
    return Held;
}

// How many holds from At on are P's if its delay was held again Again times
// (every time only on the line that gave up): each of those refused after a
// hold stretched past the tolerance, then the hold of its verdict, if it has
// one. None if they cannot be P's. The verdict's hold may look stretched
// too: the answer's time on the line counts in the register's hold only.
std::optional<std::size_t> Takes(const TProbe& P, const std::vector<THold>& Holds, std::size_t At,
                                 std::size_t Again) {
    const bool Verdict = P.Verdict == Passed || P.Verdict == NotPassed;
    if ((Again == HoldAttempts) != runlog::IsStretched(P.Verdict) ||
        At + Again + Verdict > Holds.size())
        return std::nullopt;
    for (std::size_t K = At; K < At + Again; ++K)
        if (Holds[K].Delivered || Holds[K].Held <= P.Delay + HoldToleranceMs)
            return std::nullopt;
    if (Verdict && Holds[At + Again].Delivered != (P.Verdict == Passed))
        return std::nullopt;
    return Again + Verdict;
}

// Gives the probes from I on exactly the holds from H on, if they pair. Dead
// marks the (I, H) that do not, so a long log costs probes times holds tries.
bool Pair(std::vector<TProbe>& Probes, std::size_t I, const std::vector<THold>& Holds,
          std::size_t H, std::vector<bool>& Dead) {
    if (I == Probes.size())
        return H == Holds.size();
    const std::size_t Key = I * (Holds.size() + 1) + H;
    if (Dead[Key])
        return false;
    TProbe& P = Probes[I];
    // As many holds held again as will pair: else a refused last hold could
    // pass for one held again of the next, lower delay.
    for (std::size_t Again = HoldAttempts + 1; Again-- > 0;) {
        const auto Taken = Takes(P, Holds, H, Again);
        if (Taken && Pair(Probes, I + 1, Holds, H + *Taken, Dead)) {
            for (std::size_t J = H; J < H + Again; ++J)
                P.HeldAgain.push_back(Holds[J].Held);
            if (*Taken > Again)
                P.Held = Holds[H + Again].Held;
            return true;
        }
    }
    Dead[Key] = true;
    return false;
}

// P per cent of the sorted values, by the nearest rank.
long long Rank(const std::vector<long long>& Sorted, double P) {
    const auto K =
        static_cast<std::size_t>(P / 100 * static_cast<double>(Sorted.size()) + 0.999999);
    return Sorted[std::clamp<std::size_t>(K, 1, Sorted.size()) - 1];
}

} // namespace

std::string DecodeText(const std::string& Bytes) {
    if (Bytes.starts_with("\xEF\xBB\xBF"))
        return Bytes.substr(3);
    std::string Out;
    const auto Byte = [&Bytes](std::size_t I) { return static_cast<unsigned char>(Bytes[I]); };
    if (Bytes.starts_with("\xFF\xFE")) {
        for (std::size_t I = 2; I + 1 < Bytes.size(); I += 2) {
            uint32_t Unit = Byte(I) | Byte(I + 1) << 8;
            if (Unit >= 0xD800 && Unit < 0xDC00 && I + 3 < Bytes.size()) {
                Unit =
                    0x10000 + ((Unit - 0xD800) << 10) + ((Byte(I + 2) | Byte(I + 3) << 8) - 0xDC00);
                I += 2;
            }
            AppendUtf8(Out, Unit);
        }
        return Out;
    }
    if (ValidUtf8(Bytes))
        return Bytes;
    // Code page 1251: А…я from 0xC0, Ё and ё; no other letter a log holds.
    for (std::size_t I = 0; I < Bytes.size(); ++I) {
        const uint32_t B = Byte(I);
        AppendUtf8(Out, B < 0x80    ? B
                        : B >= 0xC0 ? 0x0410 + (B - 0xC0)
                        : B == 0xA8 ? 0x0401
                        : B == 0xB8 ? 0x0451
                                    : '?');
    }
    return Out;
}

TReport MakeReport(const std::string& EmulatorLog, const std::string& ProgramLog) {
    TReport Report;
    const std::vector<THold> Held = HeldAcks(DecodeText(EmulatorLog), Report.Cap);
    for (const std::string& Line : Lines(DecodeText(ProgramLog))) {
        if (const auto Result = runlog::ReadMaximum(Line))
            Report.Result = Result;
        if (const auto Probe = runlog::ReadProbe(Line))
            Report.Probes.push_back({Probe->Delay, Probe->Outcome, {}, {}});
    }
    std::vector<bool> Dead(Report.Probes.size() * (Held.size() + 1));
    if (!Pair(Report.Probes, 0, Held, 0, Dead))
        throw EReport("the logs are not of one run: the program's " +
                      std::to_string(Report.Probes.size()) + " probes do not pair with the " +
                      std::to_string(Held.size()) + " held ACKs in the emulator's log");
    if (std::none_of(Report.Probes.begin(), Report.Probes.end(),
                     [](const TProbe& P) { return P.Held.has_value(); }))
        throw EReport("no probe with a verdict in the program's log");
    return Report;
}

std::string FormatReport(const TReport& Report, const std::string& Machine) {
    std::string Out = "Machine: " + (Machine.empty() ? "(not given)" : Machine) + "\n\n";
    Out += " delay   held   diff  verdict\n";
    std::vector<long long> Diffs;
    char Row[96];
    for (const TProbe& P : Report.Probes) {
        // Stretched by the system, which is why it was held again: no figure.
        for (const uint32_t Held : P.HeldAgain) {
            std::snprintf(Row, sizeof Row, "%6u %6u %6lld  held again\n", P.Delay, Held,
                          static_cast<long long>(Held) - P.Delay);
            Out += Row;
        }
        const char* Verdict = P.Verdict == Passed      ? "OK"
                              : P.Verdict == NotPassed ? "not passed"
                                                       : "no verdict";
        if (P.Held) {
            const long long Diff = static_cast<long long>(*P.Held) - P.Delay;
            std::snprintf(Row, sizeof Row, "%6u %6u %6lld  %s\n", P.Delay, *P.Held, Diff, Verdict);
            Diffs.push_back(Diff);
        } else {
            std::snprintf(Row, sizeof Row, "%6u %6s %6s  %s\n", P.Delay, "-", "-", Verdict);
        }
        Out += Row;
    }
    std::sort(Diffs.begin(), Diffs.end());
    std::snprintf(Row, sizeof Row,
                  "\nheld - delay over %zu probes: min %lld, median %lld, p99 %lld, max %lld ms\n",
                  Diffs.size(), Diffs.front(), Rank(Diffs, 50), Rank(Diffs, 99), Diffs.back());
    Out += Row;
    const std::string Cap = Report.Cap ? std::to_string(*Report.Cap) + " ms" : "not in the log";
    if (Report.Result && Report.Cap)
        Out += "search: " + std::to_string(*Report.Result) + " ms against a cap of " + Cap + ", " +
               std::to_string(static_cast<long long>(*Report.Cap) - *Report.Result) + " ms below\n";
    else if (Report.Result)
        Out += "search: " + std::to_string(*Report.Result) + " ms; the cap is " + Cap + "\n";
    else
        Out += "search: no result (not ticked, stopped or failed); the cap is " + Cap + "\n";
    return Out;
}

} // namespace bench
