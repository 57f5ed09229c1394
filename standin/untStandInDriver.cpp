#include "untStandInDriver.h"

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
    int32_t Code; // of a call that needs the setting
};

// COM1-COM255 as Windows numbers its ports; any timeout the signed 32-bit
// property carries (the run's 100000 ms among them): whether the register
// takes it is the register's to answer.
constexpr TSettingRule SettingRules[] = {
    {dmComNumber, 1, 255, rcBadComNumber},
    {dmBaudrate, 0, BaudRateCount - 1, rcBadBaudrate},
    {dmTimeout, 0, std::numeric_limits<int32_t>::max(), rcBadTimeout},
};

const char* const NoErrorText = "Ошибок нет";

const TSettingRule* FindRule(const std::string& Key) {
    for (const auto& Rule : SettingRules)
        if (Key == Rule.Key)
            return &Rule;
    return nullptr;
}

// Whole decimal numbers only: no sign but a minus, no spaces, no fraction.
int32_t ParseSetting(const std::string& Key, const std::string& Text) {
    const TSettingRule& Rule = *FindRule(Key);
    int64_t V = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Ec] = std::from_chars(Text.data(), End, V);
    if (!Text.empty() && Ec == std::errc() && Ptr == End && V >= Rule.Min && V <= Rule.Max)
        return static_cast<int32_t>(V);
    const std::string Allowed = ": допустимо целое число от " + std::to_string(Rule.Min) + " до " +
                                std::to_string(Rule.Max);
    // The port has no default: nothing is written to one the operator did not choose.
    if (Text.empty() && Rule.Code == rcBadComNumber)
        throw EDriverError(Rule.Code,
                           std::string("Не задана настройка драйвера ") + Rule.Key + Allowed);
    throw EDriverError(Rule.Code, std::string("Неверная настройка драйвера ") + Rule.Key + "=\"" +
                                      Text + "\"" + Allowed);
}

int32_t Setting(const TSettingTexts& Texts, const std::string& Key) {
    const auto It = Texts.find(Key);
    return ParseSetting(Key, It == Texts.end() ? "" : It->second);
}

// A refused text is kept as stored, for the calls to name and the dialog to
// show; the port takes no default.
TSettingTexts StoredTexts(TStandInSettingsStore& Store) {
    TSettingTexts Texts = Store.LoadTexts(), Defaults = FormatStandInSettings({});
    Defaults.erase(dmComNumber);
    Texts.merge(Defaults);
    return Texts;
}

std::string Hex(uint8_t Byte) {
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "0x%02X", Byte);
    return Buf;
}

[[noreturn]] void BadAnswer(const std::string& What) {
    throw EDriverError(rcBadAnswer, "Неверный ответ ФР: " + What);
}

std::string VerifiedData(const std::string& Frame) {
    if (static_cast<uint8_t>(Frame[0]) != STX)
        BadAnswer("нет STX");
    if (!ChecksumMatches(Frame))
        BadAnswer("неверная контрольная сумма");
    return FrameData(Frame);
}

void Exchange(TSerialLine& Port, const std::string& Command) {
    // An answer the register still holds from someone else's exchange is
    // taken off the line and acknowledged first, so it is not read as ours.
    const THeldAnswer Held = AskForHeldAnswer(Port, true);
    if (Held.Reply == ACK) {
        VerifiedData(Held.Frame);
        Port.Write(ControlByte(ACK));
    } else if (Held.Reply != NAK) {
        BadAnswer("на ENQ принят " + Hex(Held.Reply));
    }
    Port.Write(BuildFrame(Command));
    if (const uint8_t Reply = Port.ReadByte(); Reply != ACK)
        BadAnswer("команда не принята, " + Hex(Reply));
    const std::string Answer = VerifiedData(ReadFrame(Port, true));
    Port.Write(ControlByte(ACK));
    if (Answer.size() < 2 || Answer[0] != Command[0])
        BadAnswer("ответ не на ту команду");
    const auto Error = static_cast<uint8_t>(Answer[1]);
    if (Error == reOk)
        return;
    const char* Text = Error == reBadParameters ? "неверные параметры команды"
                       : Error == reNotSupported ? "команда не поддерживается"
                       : Error == reWrongPassword ? "неверный пароль"
                                                  : "неизвестная ошибка";
    throw EDriverError(Error, std::string("ФР: ") + Text + " (" + Hex(Error) + ")");
}

} // namespace

std::string StandInSettingError(const std::string& Key, const std::string& Text) {
    try {
        ParseSetting(Key, Text);
        return {};
    } catch (const EDriverError& E) {
        return E.what();
    }
}

std::string StandInSettingsError(const TSettingTexts& Texts) {
    try {
        for (const char* Key : StandInSettingKeys)
            Setting(Texts, Key);
        return {};
    } catch (const EDriverError& E) {
        return E.what();
    }
}

TSettingTexts EditedStandInSettings(TSettingTexts Opened, const std::string& ComNumber,
                                    int BaudIndex, const std::string& Timeout) {
    const auto Trimmed = [](const std::string& Text) {
        const std::size_t First = Text.find_first_not_of(" \t");
        return First == std::string::npos
                   ? std::string()
                   : Text.substr(First, Text.find_last_not_of(" \t") - First + 1);
    };
    Opened[dmComNumber] = Trimmed(ComNumber);
    if (BaudIndex >= 0)
        Opened[dmBaudrate] = std::to_string(BaudIndex);
    Opened[dmTimeout] = Trimmed(Timeout);
    return Opened;
}

TSettingTexts FormatStandInSettings(const TStandInSettings& Settings) {
    return {{dmComNumber, std::to_string(Settings.ComNumber)},
            {dmBaudrate, std::to_string(Settings.Baudrate)},
            {dmTimeout, std::to_string(Settings.Timeout)}};
}

TStandInDriver::TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store,
                               TPropertiesDialog Dialog, std::unique_ptr<TSerialLine> Line)
    : FStore(std::move(Store)), FDialog(std::move(Dialog)), FSettings(StoredTexts(*FStore)),
      FPort(Line ? std::move(Line) : std::make_unique<TComPort>()),
      FResultDescription(NoErrorText) {}

TAutoValue TStandInDriver::Invoke(const std::string& Name) {
    if (Name == dmConnect)
        return Guarded([&] {
            OpenLine();
            Exchange(*FPort, ShortStatusCommand());
        });
    if (Name == dmDisconnect) {
        FPort->Close();
        return rcOk;
    }
    if (Name == dmSetExchangeParam) {
        const bool WasOpen = FPort->IsOpen();
        const int32_t Code = Guarded([&] {
            const int32_t Timeout = Setting(FSettings, dmTimeout);
            OpenLine();
            Exchange(*FPort, SetExchangeTimeoutCommand(static_cast<uint32_t>(Timeout)));
        });
        if (!WasOpen) // opened for this call only
            FPort->Close();
        return Code;
    }
    if (Name == dmShowProperties)
        return Guarded([&] {
            // The stored settings, not this object's: the run's timeout
            // (100000 ms during a probe) is not the operator's to save.
            TSettingTexts Edited = StoredTexts(*FStore);
            Edited.try_emplace(dmComNumber); // a port not set shows empty
            if (!FDialog || !FDialog(Edited))
                return;
            // Checked again, so that no dialog can ever save a refused value.
            TSettingTexts Valid;
            for (const char* Key : StandInSettingKeys)
                Valid[Key] = std::to_string(Setting(Edited, Key));
            FStore->SaveTexts(Valid);
            FSettings = Valid;
        });
    if (FindRule(Name))
        return Setting(FSettings, Name);
    if (Name == dmResultCode)
        return FResultCode;
    if (Name == dmResultCodeDescription)
        return FResultDescription;
    RaiseUnknownName(Name);
}

void TStandInDriver::Put(const std::string& Name, const TAutoValue& Value) {
    if (!FindRule(Name))
        RaiseUnknownName(Name);
    // Not saved: a run killed before putting its raised timeout back must
    // not leave it as the operator's.
    const std::string Text = std::to_string(Value.AsInt32());
    ParseSetting(Name, Text);
    FSettings[Name] = Text;
}

// The system's own words stay out of the description, which names the
// failure exactly; they are traced instead.
int32_t TStandInDriver::Guarded(const std::function<void()>& Body) {
    FResultCode = rcOk;
    FResultDescription = NoErrorText;
    try {
        Body();
    } catch (const EDriverError& E) {
        TraceSystemDetail(E);
        FResultCode = E.Code;
        FResultDescription = E.what();
    } catch (const std::exception& E) {
        TraceSystemDetail(E);
        FResultCode = rcSystemError;
        // An EOSError's text is "Системная ошибка..." already.
        FResultDescription = dynamic_cast<const EOSError*>(&E)
                                 ? E.what()
                                 : std::string("Системная ошибка: ") + E.what();
    }
    if (FResultCode != rcOk)
        FPort->Close();
    return FResultCode;
}

void TStandInDriver::OpenLine() {
    FPort->ComNumber = static_cast<uint32_t>(Setting(FSettings, dmComNumber));
    FPort->BaudRate = BaudRates[Setting(FSettings, dmBaudrate)];
    FPort->Timeout = 1000; // the driver's own exchanges are short ones
    FPort->Open();
}
