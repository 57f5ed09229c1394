// Platform-independent part of the automation layer: values, error texts and
// the guard of an empty reference.
#include "untAutomation.h"
#include "untAutoRegistry.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

struct TKnownResult {
    uint32_t Result;
    const char* Name;
    const char* Description;
};

// Some systems have no description for these codes; the name and our text keep
// the failure readable there.
constexpr TKnownResult KnownResults[] = {
    {hrFail, "E_FAIL", "Неопознанная ошибка"},
    {hrNoInterface, "E_NOINTERFACE", "Интерфейс не поддерживается"},
    {hrClassString, "CO_E_CLASSSTRING", "Недопустимая строка с указанием класса"},
    {hrClassNotReg, "REGDB_E_CLASSNOTREG", "Класс не зарегистрирован"},
    {hrKeyMissing, "REGDB_E_KEYMISSING", "Раздел класса в реестре не найден"},
    {hrNotInitialized, "CO_E_NOTINITIALIZED", "Не был вызван CoInitialize"},
    {hrUnknownName, "DISP_E_UNKNOWNNAME", "Неизвестное имя"},
    {hrMemberNotFound, "DISP_E_MEMBERNOTFOUND", "Член группы не найден"},
    {hrTypeMismatch, "DISP_E_TYPEMISMATCH", "Несовпадение типов"},
    {hrException, "DISP_E_EXCEPTION", "Исключение"},
    {hrBadParamCount, "DISP_E_BADPARAMCOUNT", "Неверное число параметров"},
    {hrParamNotOptional, "DISP_E_PARAMNOTOPTIONAL", "Параметр не является необязательным"},
    {hrOverflow, "DISP_E_OVERFLOW", "Переполнение"},
};

const TKnownResult* FindKnown(uint32_t Result) {
    for (const auto& K : KnownResults)
        if (K.Result == Result)
            return &K;
    return nullptr;
}

[[noreturn]] void RaiseNotInteger(const std::string& Shown) {
    throw EConvertError("Значение " + Shown + " не является допустимым целым числом");
}

} // namespace

std::string OleErrorText(uint32_t Result, const std::string& SystemText) {
    const TKnownResult* Known = FindKnown(Result);
    std::string Text = SystemText;
    if (Text.empty())
        Text = Known ? Known->Description : "Ошибка OLE";
    char Code[16];
    std::snprintf(Code, sizeof Code, "0x%08X", static_cast<unsigned>(Result));
    Text += " (";
    Text += Code;
    if (Known) {
        Text += ' ';
        Text += Known->Name;
    }
    Text += ')';
    return Text;
}

void RaiseOleError(uint32_t Result, const std::string& SystemText, const std::string& Subject) {
    std::string Text = OleErrorText(Result, SystemText);
    if (!Subject.empty())
        Text += ": \"" + Subject + "\"";
    throw EOleError(Result, Text);
}

// Declared with the in-process servers (untAutoRegistry.h); here because a
// server built into a Windows DLL raises it too.
void RaiseUnknownName(const std::string& Name) {
    RaiseOleError(hrUnknownName, {}, Name);
}

const TAutoObject::TImpl& TAutoObject::Impl() const {
    if (!FImpl)
        throw std::logic_error("Объект автоматизации не создан");
    return *FImpl;
}

int32_t TAutoValue::AsInt32() const {
    constexpr int64_t Lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t Hi = std::numeric_limits<int32_t>::max();
    struct TVisitor {
        int32_t operator()(std::monostate) const { RaiseNotInteger("(пусто)"); }
        int32_t operator()(int64_t V) const {
            if (V < Lo || V > Hi)
                RaiseNotInteger(std::to_string(V));
            return static_cast<int32_t>(V);
        }
        int32_t operator()(double V) const {
            // Automation rounds to the nearest, halves to even.
            const double R = std::nearbyint(V);
            if (!std::isfinite(V) || R < double(Lo) || R > double(Hi))
                RaiseNotInteger(TAutoValue(V).AsString());
            return static_cast<int32_t>(R);
        }
        int32_t operator()(bool V) const { return V ? -1 : 0; }
        int32_t operator()(const std::string& S) const {
            std::size_t B = S.find_first_not_of(" \t");
            std::size_t E = S.find_last_not_of(" \t");
            int64_t V = 0;
            if (B != std::string::npos) {
                const char* First = S.data() + B;
                const char* Last = S.data() + E + 1;
                if (*First == '+' && Last - First > 1 && First[1] != '-')
                    ++First;
                auto [Ptr, Ec] = std::from_chars(First, Last, V);
                if (Ec == std::errc() && Ptr == Last && V >= Lo && V <= Hi)
                    return static_cast<int32_t>(V);
            }
            RaiseNotInteger("\"" + S + "\"");
        }
    };
    return std::visit(TVisitor{}, FValue);
}

std::string TAutoValue::AsString() const {
    struct TVisitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(int64_t V) const { return std::to_string(V); }
        std::string operator()(double V) const {
            char Buf[32];
            std::snprintf(Buf, sizeof Buf, "%.15g", V);
            return Buf;
        }
        std::string operator()(bool V) const { return V ? "True" : "False"; }
        std::string operator()(const std::string& S) const { return S; }
    };
    return std::visit(TVisitor{}, FValue);
}
