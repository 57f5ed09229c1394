#include "untRegisterLine.h"

namespace emu {

namespace {

void Serve(TRegisterCore& Core, TLinePort& Port) {
    std::string Pending; // what the line did not take yet
    for (;;) {
        const uint64_t Now = SteadyMs();
        Core.Advance(Now);
        Pending.erase(0, Pending.empty() ? 0 : Port.Write(Pending));
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

} // namespace

void ServeUntilStopped(const TRegisterOptions& Options, const TLineRequest& Request,
                       const TLogSink& Log, const std::function<void(const std::string&)>& Ready) {
    TRegisterCore Core(Options);
    const TLineLog LineLog(Log);
    Core.SetLog(LineLog);
    std::unique_ptr<TLinePort> Line = OpenLine(Request, LineLog);
    const std::string Link = Request.Link.empty() ? "" : " (link " + Request.Link + ")";
    LineLog(SteadyMs(), StartLine(Line->Name + Link, Core));
    Ready(Line->Name);
    try {
        Serve(Core, *Line);
    } catch (const std::exception& E) {
        LineLog(SteadyMs(), std::string("stopped: ") + E.what());
        throw;
    }
    Line.reset(); // the link goes before the last line
    LineLog(SteadyMs(), LogLine(TSentence::Stopped, {}));
}

} // namespace emu
