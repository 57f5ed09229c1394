#include "untRegisterLine.h"

#include "untRegisterLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace emu {

TLineLog::TLineLog(TLogSink Sink) : FSink(std::move(Sink)) {
    using namespace std::chrono;
    FWallOffsetMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
                    static_cast<int64_t>(SteadyMs());
}

void TLineLog::operator()(uint64_t NowMs, const std::string& Line) const {
    if (!FSink)
        return;
    const int64_t Wall = static_cast<int64_t>(NowMs) + FWallOffsetMs;
    const std::time_t Seconds = static_cast<std::time_t>(Wall / 1000);
    const std::tm Local = *std::localtime(&Seconds);
    char Stamp[32];
    std::snprintf(Stamp, sizeof Stamp, "%02d:%02d:%02d.%03d ", Local.tm_hour, Local.tm_min,
                  Local.tm_sec, static_cast<int>(Wall % 1000));
    FSink(Stamp + Line);
}

std::string StartLine(const std::string& Line, const TRegisterCore& Core) {
    const auto& O = Core.Options();
    std::string Fault(FaultMode(O.Fault).Name);
    if (O.Fault == TFault::WrongEnq)
        Fault += " " + HexBytes(std::string(1, static_cast<char>(O.WrongEnqReply)));
    if (O.Fault == TFault::Mute)
        Fault += " for " + std::to_string(O.MuteMs) + " ms after " + std::to_string(O.MuteAfter) +
                 " short status commands";
    if (O.FaultAfterTimeoutCommand && O.Fault != TFault::None)
        Fault += " from the first timeout command on";
    if (O.ByteGapMs)
        Fault += ", " + std::to_string(O.ByteGapMs) + " ms between sent bytes";
    return LogLine(TSentence::Start,
                   {Line, std::to_string(Core.ExchangeTimeout()),
                    std::to_string(Core.RequestedTimeout()), std::to_string(O.MaxTimeout), Fault});
}

void Serve(TRegisterCore& Core, TLinePort& Port) {
    // What waits to go out, and when its first byte is due: the schedule
    // follows the core's, not the moment a write happened, so both agree on
    // when the last byte left.
    std::string Pending;
    uint64_t NextDue = 0;
    for (;;) {
        uint64_t Now = SteadyMs();
        Core.Advance(Now);
        bool Blocked = false;
        while (!Pending.empty() && NextDue <= Now && !Blocked) {
            const std::size_t Due = Core.ByteGap() ? 1 : Pending.size();
            const std::size_t Sent = Port.Write(std::string_view(Pending).substr(0, Due));
            Pending.erase(0, Sent);
            NextDue += uint64_t{Core.ByteGap()} * Sent;
            Blocked = Sent < Due;
        }
        std::optional<uint64_t> Deadline = Core.NextDeadline();
        if (!Pending.empty() && !Blocked)
            Deadline = std::min(Deadline.value_or(NextDue), NextDue);
        std::optional<uint64_t> Wait;
        if (Deadline)
            Wait = *Deadline > Now ? *Deadline - Now : 0;
        const std::optional<std::string> In = Port.Read(Wait);
        if (!In)
            return;
        if (In->empty())
            continue;
        const std::string Out = Core.Receive(*In, SteadyMs());
        if (Pending.empty())
            NextDue = Core.OutputStart();
        Pending += Out;
    }
}

} // namespace emu
