#pragma once
// In-process automation classes, where the system has no OLE: a server object
// answers calls by member name, and a registry maps programmatic identifiers
// to factories of such objects.
#include "untAutomation.h"

#include <functional>

class TAutoServer {
public:
    virtual ~TAutoServer() = default;
    // Method call or property read by name. Raise EOleError with
    // hrUnknownName for a name the object does not have; any other
    // exception reaches the caller as the server's failure with its text.
    virtual TAutoValue Invoke(const std::string& Name) = 0;
    virtual void Put(const std::string& Name, const TAutoValue& Value) = 0;
};

[[noreturn]] void RaiseUnknownName(const std::string& Name);

using TAutoFactory = std::function<std::shared_ptr<TAutoServer>()>;
// Registers (or replaces) the class behind ProgId.
void RegisterAutoClass(const std::string& ProgId, TAutoFactory Factory);
void UnregisterAutoClass(const std::string& ProgId);
