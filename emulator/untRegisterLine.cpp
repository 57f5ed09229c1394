#include "untRegisterLine.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace emu {

TLineLog::TLineLog(TLogSink Sink) : FSink(std::move(Sink)) {
    using namespace std::chrono;
    FWallOffsetMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
                    static_cast<int64_t>(SteadyMs());
}

void TLineLog::operator()(uint64_t NowMs, const std::string& Line) const {
    if (!FSink)
        return;
    // One line at a time, whichever thread logs; std::localtime's buffer is
    // shared as well.
    static std::mutex Mutex;
    std::lock_guard Lock(Mutex);
    const int64_t Wall = static_cast<int64_t>(NowMs) + FWallOffsetMs;
    const std::time_t Seconds = static_cast<std::time_t>(Wall / 1000);
    const std::tm Local = *std::localtime(&Seconds);
    char Stamp[32];
    std::snprintf(Stamp, sizeof Stamp, "%02d:%02d:%02d.%03d ", Local.tm_hour, Local.tm_min,
                  Local.tm_sec, static_cast<int>(Wall % 1000));
    FSink(Stamp + Line);
}

std::string StartLine(const std::string& Line, const TRegisterCore& Core) {
    // Appended piece by piece: GCC 12 at -O3 takes a literal put before a
    // temporary string for an overlapping copy (-Wrestrict).
    const auto& O = Core.Options();
    std::string Text = Line;
    const auto Add = [&Text](const std::string& Piece) { Text += Piece; };
    Add(": exchange timeout ");
    Add(std::to_string(Core.ExchangeTimeout()));
    Add(" ms (requested ");
    Add(std::to_string(Core.RequestedTimeout()));
    Add(", cap ");
    Add(std::to_string(O.MaxTimeout));
    Add("), fault ");
    Add(FaultName(O.Fault));
    if (O.Fault == TFault::WrongEnq) {
        Add(" ");
        Add(HexBytes(std::string(1, static_cast<char>(O.WrongEnqReply))));
    }
    if (O.Fault == TFault::Mute) {
        Add(" for ");
        Add(std::to_string(O.MuteMs));
        Add(" ms after ");
        Add(std::to_string(O.MuteAfter));
        Add(" short status commands");
    }
    if (O.FaultAfterTimeoutCommand && O.Fault != TFault::None)
        Add(" from the first timeout command on");
    if (O.ByteGapMs) {
        Add(", ");
        Add(std::to_string(O.ByteGapMs));
        Add(" ms between sent bytes");
    }
    return Text;
}

void TOutputSchedule::Add(const std::string& Out, uint64_t Start) {
    if (FPending.empty())
        FNextDue = Start;
    FPending += Out;
}

std::string_view TOutputSchedule::Due(uint64_t NowMs) const {
    if (FPending.empty() || FNextDue > NowMs)
        return {};
    return std::string_view(FPending).substr(0, FGap ? 1 : FPending.size());
}

void TOutputSchedule::Sent(std::size_t Count) {
    FPending.erase(0, Count);
    FNextDue += FGap * static_cast<uint64_t>(Count);
}

std::optional<uint64_t> TOutputSchedule::NextDue() const {
    if (FPending.empty())
        return std::nullopt;
    return FNextDue;
}

} // namespace emu
