// Automation without OLE: classes live in this process, registered under their
// programmatic identifiers. Failures read as OLE's would, so callers and their
// logs see the same texts on every system.
#include "untAutoRegistry.h"

#include <map>
#include <mutex>

struct TAutoObject::TImpl {
    std::shared_ptr<TAutoServer> Server;
};

namespace {

struct TRegistry {
    std::mutex Lock;
    std::map<std::string, TAutoFactory> Classes;
};

TRegistry& Registry() {
    static TRegistry R;
    return R;
}

// A failure inside the server reaches the caller as the server's exception
// with its own text, as an automation client would see it.
template <class TCall> auto CallServer(TCall&& Call) {
    try {
        return Call();
    } catch (const EOleError&) {
        throw;
    } catch (const std::exception& E) {
        throw EOleError(hrException, E.what());
    }
}

} // namespace

void RegisterAutoClass(const std::string& ProgId, TAutoFactory Factory) {
    std::lock_guard G(Registry().Lock);
    Registry().Classes[ProgId] = std::move(Factory);
}

void UnregisterAutoClass(const std::string& ProgId) {
    std::lock_guard G(Registry().Lock);
    Registry().Classes.erase(ProgId);
}

TAutoObject TAutoObject::Create(const std::string& ProgId) {
    TAutoFactory Factory;
    {
        std::lock_guard G(Registry().Lock);
        auto It = Registry().Classes.find(ProgId);
        if (It == Registry().Classes.end())
            RaiseOleError(hrClassString, {}, ProgId);
        Factory = It->second;
    }
    auto Server = CallServer(Factory);
    if (!Server)
        RaiseOleError(hrNoInterface, {}, ProgId);
    return TAutoObject(std::make_shared<TImpl>(TImpl{std::move(Server)}));
}

TAutoValue TAutoObject::Get(const std::string& Name) const {
    auto& Server = *Impl().Server;
    return CallServer([&] { return Server.Invoke(Name); });
}

void TAutoObject::Put(const std::string& Name, int32_t Value) const {
    auto& Server = *Impl().Server;
    CallServer([&] { Server.Put(Name, TAutoValue(Value)); });
}

TAutomationScope::TAutomationScope() = default;
TAutomationScope::~TAutomationScope() = default;
