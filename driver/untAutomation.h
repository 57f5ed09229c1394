#pragma once
// Late-bound automation: objects created from a programmatic identifier and
// called by member name. On Windows this is OLE Automation (IDispatch);
// elsewhere an in-process registry of classes (untAutoRegistry.h).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

// HRESULTs that the layer raises or names in its texts.
enum : uint32_t {
    hrFail = 0x80004005u,
    hrNoInterface = 0x80004002u,
    hrClassString = 0x800401F3u,
    hrClassNotReg = 0x80040154u,
    // What Wine answers for a class registered for the other bitness only.
    hrKeyMissing = 0x80040152u,
    hrNotInitialized = 0x800401F0u,
    hrUnknownName = 0x80020006u,
    hrMemberNotFound = 0x80020003u,
    hrTypeMismatch = 0x80020005u,
    hrException = 0x80020009u,
    hrBadParamCount = 0x8002000Eu,
    hrParamNotOptional = 0x8002000Fu,
    hrOverflow = 0x8002000Au,
};

// A failure of an automation call or of creating an object. The text always
// names the code, because some systems have no description for it.
class EOleError : public std::runtime_error {
public:
    EOleError(uint32_t AResult, const std::string& Text)
        : std::runtime_error(Text), Result(AResult) {}
    uint32_t Result;
};

// A value that does not convert to what the caller needs.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "<description> (0x800401F3 CO_E_CLASSSTRING)": the system's description
// where it has one, else ours, followed by the code and its name where known.
std::string OleErrorText(uint32_t Result, const std::string& SystemText = {});
[[noreturn]] void RaiseOleError(uint32_t Result, const std::string& SystemText = {},
                                const std::string& Subject = {});

// The result of a call: empty, a 32-bit integer or text (UTF-8), all that
// the driver's members give.
class TAutoValue {
public:
    using TStorage = std::variant<std::monostate, int32_t, std::string>;
    TAutoValue() = default;
    TAutoValue(int32_t V) : FValue(V) {}
    TAutoValue(std::string V) : FValue(std::move(V)) {}
    TAutoValue(const char* V) : FValue(std::string(V)) {}

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(FValue); }
    const TStorage& Storage() const { return FValue; }
    // The integer, or the decimal integer the text holds (spaces around it
    // allowed), else EConvertError.
    int32_t AsInt32() const;
    // Text of the value; empty for an empty value.
    std::string AsString() const;

private:
    TStorage FValue;
};

// A reference to an automation object; copies share the object, the last one
// releases it.
class TAutoObject {
public:
    TAutoObject() = default;
    // Creates the object registered under ProgId, or raises EOleError.
    static TAutoObject Create(const std::string& ProgId);

    bool IsEmpty() const { return !FImpl; }
    // One invocation by name with no arguments that serves a method call and a
    // property read alike.
    TAutoValue Get(const std::string& Name) const;
    // Property write of one 32-bit integer.
    void Put(const std::string& Name, int32_t Value) const;

    struct TImpl;

private:
    explicit TAutoObject(std::shared_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}
    const TImpl& Impl() const;
    std::shared_ptr<TImpl> FImpl;
};

// Initialises automation for the calling thread for its lifetime (OLE on
// Windows; nothing elsewhere).
class TAutomationScope {
public:
    TAutomationScope();
    ~TAutomationScope();
    TAutomationScope(const TAutomationScope&) = delete;
    TAutomationScope& operator=(const TAutomationScope&) = delete;

private:
    bool FInitialised = false;
};
