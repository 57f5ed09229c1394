#include "untRegisterLine.h"

#include "untRegisterLog.h"

namespace emu {

void Serve(TRegisterCore& Core, TLinePort& Port) {
    std::string Pending; // what the line did not take yet
    for (;;) {
        const uint64_t Now = SteadyMs();
        Core.Advance(Now);
        const std::size_t Sent = Pending.empty() ? 0 : Port.Write(Pending);
        Pending.erase(0, Sent);
        std::optional<uint64_t> Wait;
        if (const auto Deadline = Core.NextDeadline())
            Wait = *Deadline > Now ? *Deadline - Now : 0;
        const std::optional<std::string> In = Port.Read(Wait);
        if (!In)
            return;
        if (!In->empty())
            Pending += Core.Receive(*In, SteadyMs());
    }
}

} // namespace emu
