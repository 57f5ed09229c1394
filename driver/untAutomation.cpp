// Platform-independent part of the automation layer: values, error texts and
// the guard of an empty reference.
#include "untAutomation.h"
#include "untAutoRegistry.h"

#include <charconv>
#include <cstdio>

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
    if (const auto* Number = std::get_if<int32_t>(&FValue))
        return *Number;
    if (IsEmpty())
        RaiseNotInteger("(пусто)");
    const std::string& Text = std::get<std::string>(FValue);
    const std::size_t First = Text.find_first_not_of(" \t");
    const char* End = Text.data() + Text.find_last_not_of(" \t") + 1;
    int32_t Value = 0;
    if (First != std::string::npos) {
        const auto [Ptr, Ec] = std::from_chars(Text.data() + First, End, Value);
        if (Ec == std::errc() && Ptr == End)
            return Value;
    }
    RaiseNotInteger("\"" + Text + "\"");
}

std::string TAutoValue::AsString() const {
    if (const auto* Number = std::get_if<int32_t>(&FValue))
        return std::to_string(*Number);
    if (const auto* Text = std::get_if<std::string>(&FValue))
        return *Text;
    return {};
}
