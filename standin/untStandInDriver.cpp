#include "untStandInDriver.h"

#include "untComPort.h"
#include "untError.h"
#include "untFrames.h"
#include "untProtocol.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace {

struct TSettingRule {
    const char* Key;
    int64_t Min;
    int64_t Max;
    int32_t Code; // the result code of a call that needs the setting
};

// COM1-COM255 as Windows numbers its ports; the seven rates; any timeout the
// driver's signed 32-bit property carries, the run's 100000 ms among them.
// Whether the register takes it is the register's to answer.
constexpr TSettingRule SettingRules[] = {
    {skComNumber, 1, 255, sdBadComNumber},
    {skBaudrate, 0, BaudRateCount - 1, sdBadBaudrate},
    {skTimeout, 0, std::numeric_limits<int32_t>::max(), sdBadTimeout},
};

// The link timeout of the driver's own exchanges, which are short ones.
constexpr uint32_t LinkTimeoutMs = 1000;

const TSettingRule* FindRule(const std::string& Key) {
    for (const auto& Rule : SettingRules)
        if (Key == Rule.Key)
            return &Rule;
    return nullptr;
}

const TSettingRule& RuleOf(const std::string& Key) {
    if (const TSettingRule* Rule = FindRule(Key))
        return *Rule;
    throw std::logic_error("Нет настройки драйвера " + Key);
}

// Whole decimal numbers only: no sign but a minus, no spaces, no fraction.
bool ParseSetting(const TSettingRule& Rule, const std::string& Text, int32_t& Value) {
    const char* First = Text.data();
    const char* Last = First + Text.size();
    int64_t V = 0;
    const auto [Ptr, Ec] = std::from_chars(First, Last, V);
    if (Text.empty() || Ec != std::errc() || Ptr != Last || V < Rule.Min || V > Rule.Max)
        return false;
    Value = static_cast<int32_t>(V);
    return true;
}

std::string RefusalText(const TSettingRule& Rule, const std::string& Text) {
    const std::string Allowed = ": допустимо целое число от " + std::to_string(Rule.Min) + " до " +
                                std::to_string(Rule.Max);
    // The port has no default: absent or empty, the operator has not chosen one.
    if (Text.empty() && Rule.Code == sdBadComNumber)
        return std::string("Не задана настройка драйвера ") + Rule.Key + Allowed;
    // An INI line can be of any length; the start of it names it well enough.
    constexpr std::size_t Shown = 40;
    std::string Value = Text;
    if (Value.size() > Shown) {
        std::size_t Cut = Shown;
        while (Cut > 0 && (static_cast<uint8_t>(Value[Cut]) & 0xC0) == 0x80)
            --Cut; // not inside a UTF-8 character
        Value = Value.substr(0, Cut) + "…";
    }
    return std::string("Неверная настройка драйвера ") + Rule.Key + "=\"" + Value + "\"" + Allowed;
}

std::string TextOf(const TSettingTexts& Texts, const std::string& Key) {
    const auto It = Texts.find(Key);
    return It == Texts.end() ? std::string() : It->second;
}

// Raises the refusal of the first bad setting among all keys of Texts.
TStandInSettings ParseSettings(const TSettingTexts& Texts) {
    TStandInSettings S;
    int32_t* const Values[] = {&S.ComNumber, &S.Baudrate, &S.Timeout};
    for (std::size_t I = 0; I < std::size(SettingRules); ++I) {
        const std::string Text = TextOf(Texts, SettingRules[I].Key);
        if (!ParseSetting(SettingRules[I], Text, *Values[I]))
            throw EStandInFailure(SettingRules[I].Code, RefusalText(SettingRules[I], Text));
    }
    return S;
}

std::string RegisterErrorText(int32_t Code) {
    switch (Code) {
    case reBadParameters:
        return "неверные параметры команды";
    case reNotSupported:
        return "команда не поддерживается";
    case reWrongPassword:
        return "неверный пароль";
    }
    return "неизвестная ошибка";
}

std::string Hex(uint8_t Byte) {
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "0x%02X", Byte);
    return Buf;
}

} // namespace

std::string StandInSettingError(const std::string& Key, const std::string& Text) {
    const TSettingRule& Rule = RuleOf(Key);
    int32_t Value = 0;
    return ParseSetting(Rule, Text, Value) ? std::string() : RefusalText(Rule, Text);
}

std::string StandInSettingsError(const TSettingTexts& Texts) {
    try {
        ParseSettings(Texts);
        return {};
    } catch (const EStandInFailure& E) {
        return E.what();
    }
}

TSettingTexts EditedStandInSettings(TSettingTexts Opened, const std::string& ComNumber,
                                    int BaudIndex, const std::string& Timeout) {
    const auto Trimmed = [](const std::string& Text) {
        constexpr const char* Spaces = " \t\r\n";
        const std::size_t First = Text.find_first_not_of(Spaces);
        return First == std::string::npos
                   ? std::string()
                   : Text.substr(First, Text.find_last_not_of(Spaces) - First + 1);
    };
    Opened[skComNumber] = Trimmed(ComNumber);
    if (BaudIndex >= 0)
        Opened[skBaudrate] = std::to_string(BaudIndex);
    Opened[skTimeout] = Trimmed(Timeout);
    return Opened;
}

TSettingTexts FormatStandInSettings(const TStandInSettings& Settings) {
    return {{skComNumber, std::to_string(Settings.ComNumber)},
            {skBaudrate, std::to_string(Settings.Baudrate)},
            {skTimeout, std::to_string(Settings.Timeout)}};
}

// The codes whose text is made here; the port's failures and the refused
// settings come with their own.
std::string StandInErrorDescription(int32_t Code) {
    switch (Code) {
    case sdOk:
        return "Ошибок нет";
    case sdBadAnswer:
        return "Неверный ответ ФР";
    case sdSystemError:
        return "Системная ошибка";
    }
    if (Code > 0 && Code <= 0xFF)
        return "ФР: " + RegisterErrorText(Code) + " (" + Hex(static_cast<uint8_t>(Code)) + ")";
    return "Неизвестная ошибка";
}

namespace {

// The port has none: a port the operator never chose is never written to,
// and the call that needs it fails as "not set" until the dialog sets it.
TSettingTexts DefaultTexts() {
    TSettingTexts Texts = FormatStandInSettings({});
    Texts.erase(skComNumber);
    return Texts;
}

} // namespace

TStandInDriver::TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store,
                               TPropertiesDialog Dialog, std::unique_ptr<TSerialLine> Line)
    : FStore(std::move(Store)), FDialog(std::move(Dialog)), FSettings(StoredTexts()),
      FPort(Line ? std::move(Line) : std::make_unique<TComPort>()),
      FResultDescription(StandInErrorDescription(sdOk)) {}

TSettingTexts TStandInDriver::StoredTexts() const {
    // Kept as stored, a refused text too: the calls that need it fail naming
    // it, and the dialog shows it for the operator to correct.
    TSettingTexts Texts = DefaultTexts();
    const TSettingTexts Stored = FStore->LoadTexts();
    for (const auto& Rule : SettingRules)
        if (const auto It = Stored.find(Rule.Key); It != Stored.end())
            Texts[Rule.Key] = It->second;
    return Texts;
}

TStandInDriver::~TStandInDriver() = default;

TAutoValue TStandInDriver::Invoke(const std::string& Name) {
    if (Name == "Connect")
        return Connect();
    if (Name == "Disconnect")
        return Disconnect();
    if (Name == "SetExchangeParam")
        return SetExchangeParam();
    if (Name == "ShowProperties")
        return ShowProperties();
    if (FindRule(Name))
        return Setting(Name);
    if (Name == "ResultCode")
        return FResultCode;
    if (Name == "ResultCodeDescription")
        return FResultDescription;
    RaiseUnknownName(Name);
}

void TStandInDriver::Put(const std::string& Name, const TAutoValue& Value) {
    if (!FindRule(Name))
        RaiseUnknownName(Name);
    // Not saved: a run that raises the timeout and is killed before putting
    // it back must not leave the raised value as the operator's setting.
    const std::string Text = std::to_string(Value.AsInt32());
    if (const std::string Error = StandInSettingError(Name, Text); !Error.empty())
        throw EStandInFailure(RuleOf(Name).Code, Error);
    FSettings[Name] = Text;
}

int32_t TStandInDriver::Setting(const std::string& Key) const {
    const TSettingRule& Rule = RuleOf(Key);
    const std::string Text = TextOf(FSettings, Key);
    int32_t Value = 0;
    if (!ParseSetting(Rule, Text, Value))
        throw EStandInFailure(Rule.Code, RefusalText(Rule, Text));
    return Value;
}

void TStandInDriver::Fail(int32_t Code, const std::string& Description) {
    FResultCode = Code;
    FResultDescription = Description;
}

// The system's own words stay out of the description, which names the port's
// failure exactly; they are traced instead.
int32_t TStandInDriver::Guarded(const std::function<void()>& Body) {
    Fail(sdOk, StandInErrorDescription(sdOk));
    try {
        Body();
    } catch (const EDriverError& E) {
        TraceSystemDetail(E);
        Fail(E.Code, E.what());
    } catch (const EStandInFailure& E) {
        Fail(E.Code, E.what());
    } catch (const EOSError& E) {
        TraceSystemDetail(E);
        // Its text begins with the same words already.
        Fail(sdSystemError, E.what());
    } catch (const std::exception& E) {
        Fail(sdSystemError, StandInErrorDescription(sdSystemError) + ": " + E.what());
    }
    if (FResultCode != sdOk && FConnected)
        Disconnect();
    return FResultCode;
}

void TStandInDriver::OpenLine() {
    const int32_t ComNumber = Setting(skComNumber);
    FPort->BaudRate = BaudRates[Setting(skBaudrate)];
    FPort->ComNumber = static_cast<uint32_t>(ComNumber);
    FPort->Timeout = LinkTimeoutMs;
    FPort->Open();
}

void TStandInDriver::Exchange(const std::string& Command) {
    const auto BadAnswer = [](const std::string& What) {
        throw EStandInFailure(sdBadAnswer, StandInErrorDescription(sdBadAnswer) + ": " + What);
    };
    // The data of the answer frame, its start and checksum verified.
    const auto DataOf = [&](const std::string& Frame) {
        if (static_cast<uint8_t>(Frame[0]) != STX)
            BadAnswer("нет STX");
        if (!ChecksumMatches(Frame))
            BadAnswer("неверная контрольная сумма");
        return FrameData(Frame);
    };
    // An answer the register still holds from someone else's exchange is
    // taken off the line and acknowledged first, so it is not read as ours.
    const THeldAnswer Held = AskForHeldAnswer(*FPort, true);
    if (Held.Reply == ACK) {
        DataOf(Held.Frame);
        FPort->Write(ControlByte(ACK));
    } else if (Held.Reply != NAK) {
        BadAnswer("на ENQ принят " + Hex(Held.Reply));
    }
    FPort->Write(BuildFrame(Command));
    const uint8_t Reply = FPort->ReadByte();
    if (Reply != ACK)
        BadAnswer("команда не принята, " + Hex(Reply));
    const std::string Answer = DataOf(ReadFrame(*FPort, true));
    FPort->Write(ControlByte(ACK));
    if (Answer.size() < 2 || Answer[0] != Command[0])
        BadAnswer("ответ не на ту команду");
    if (const auto Error = static_cast<uint8_t>(Answer[1]); Error != reOk)
        throw EStandInFailure(Error, StandInErrorDescription(Error));
}

int32_t TStandInDriver::Connect() {
    return Guarded([&] {
        OpenLine();
        FConnected = true;
        Exchange(ShortStatusCommand());
    });
}

int32_t TStandInDriver::Disconnect() {
    FPort->Close();
    FConnected = false;
    return sdOk;
}

int32_t TStandInDriver::SetExchangeParam() {
    const bool WasConnected = FConnected;
    const int32_t Code = Guarded([&] {
        const int32_t Timeout = Setting(skTimeout);
        OpenLine();
        Exchange(SetExchangeTimeoutCommand(static_cast<uint32_t>(Timeout)));
    });
    // Connected for this call only: give the line back.
    if (!WasConnected)
        Disconnect();
    return Code;
}

int32_t TStandInDriver::ShowProperties() {
    return Guarded([&] {
        // The dialog edits what is stored, not this object's values: the
        // timeout the program writes for its run (100000 ms during a probe)
        // is not the operator's, and OK must not save it as theirs.
        TSettingTexts Opened = StoredTexts();
        for (const char* Key : StandInSettingKeys)
            Opened.try_emplace(Key); // a port not set shows empty
        TSettingTexts Edited = Opened;
        if (!FDialog || !FDialog(Edited))
            return;
        // The dialog lets only valid values through; checked again here, so
        // that no dialog can ever save a refused one.
        const TSettingTexts Valid = FormatStandInSettings(ParseSettings(Edited));
        // Only what the operator changed is saved, and it applies here at
        // once; the rest keeps both its stored text and its value here.
        TSettingTexts Changed;
        for (const auto& [Key, Text] : Edited)
            if (Text != Opened[Key])
                Changed[Key] = Valid.at(Key);
        if (Changed.empty())
            return;
        FStore->SaveTexts(Changed);
        for (const auto& [Key, Text] : Changed)
            FSettings[Key] = Text;
    });
}
