#include "untRegisterLine.h"

#include "untRegisterLog.h"

namespace emu {

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
