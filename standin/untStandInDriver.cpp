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
    int32_t Code; // the result code of a call that needs the setting
};

// COM1-COM255 as Windows numbers its ports; the seven rates; any timeout the
// driver's signed 32-bit property carries, the run's 100000 ms among them.
// Whether the register takes it is the register's to answer.
constexpr TSettingRule SettingRules[] = {
    {dmComNumber, 1, 255, sdBadComNumber},
    {dmBaudrate, 0, BaudRateCount - 1, sdBadBaudrate},
    {dmTimeout, 0, std::numeric_limits<int32_t>::max(), sdBadTimeout},
};

// The link timeout of the driver's own exchanges, which are short ones.
constexpr uint32_t LinkTimeoutMs = 1000;

const TSettingRule* FindRule(const std::string& Key) {
    for (const auto& Rule : SettingRules)
        if (Key == Rule.Key)
            return &Rule;
    return nullptr;
}

std::string TextOf(const TSettingTexts& Texts, const std::string& Key) {
    const auto It = Texts.find(Key);
    return It == Texts.end() ? std::string() : It->second;
}

// Text as a value of Rule's key, or EDriverError naming it. Whole decimal
// numbers only: no sign but a minus, no spaces, no fraction.
int32_t ParseSetting(const TSettingRule& Rule, const std::string& Text) {
    int64_t V = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Ec] = std::from_chars(Text.data(), End, V);
    if (!Text.empty() && Ec == std::errc() && Ptr == End && V >= Rule.Min && V <= Rule.Max)
        return static_cast<int32_t>(V);
    const std::string Allowed = ": допустимо целое число от " + std::to_string(Rule.Min) + " до " +
                                std::to_string(Rule.Max);
    // The port has no default: absent or empty, the operator has not chosen one.
    if (Text.empty() && Rule.Code == sdBadComNumber)
        throw EDriverError(Rule.Code,
                           std::string("Не задана настройка драйвера ") + Rule.Key + Allowed);
    throw EDriverError(Rule.Code, std::string("Неверная настройка драйвера ") + Rule.Key + "=\"" +
                                      Text + "\"" + Allowed);
}

TStandInSettings ParseSettings(const TSettingTexts& Texts) {
    int32_t Values[std::size(SettingRules)];
    for (std::size_t I = 0; I < std::size(SettingRules); ++I)
        Values[I] = ParseSetting(SettingRules[I], TextOf(Texts, SettingRules[I].Key));
    return {Values[0], Values[1], Values[2]};
}

std::string Hex(uint8_t Byte) {
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "0x%02X", Byte);
    return Buf;
}

std::string RegisterErrorText(uint8_t Code) {
    const char* Text = "неизвестная ошибка";
    if (Code == reBadParameters)
        Text = "неверные параметры команды";
    else if (Code == reNotSupported)
        Text = "команда не поддерживается";
    else if (Code == reWrongPassword)
        Text = "неверный пароль";
    return std::string("ФР: ") + Text + " (" + Hex(Code) + ")";
}

const char* const NoErrorText = "Ошибок нет";

} // namespace

std::string StandInSettingError(const std::string& Key, const std::string& Text) {
    try {
        ParseSetting(*FindRule(Key), Text);
        return {};
    } catch (const EDriverError& E) {
        return E.what();
    }
}

std::string StandInSettingsError(const TSettingTexts& Texts) {
    try {
        ParseSettings(Texts);
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
    : FStore(std::move(Store)), FDialog(std::move(Dialog)), FSettings(StoredTexts()),
      FPort(Line ? std::move(Line) : std::make_unique<TComPort>()),
      FResultDescription(NoErrorText) {}

TSettingTexts TStandInDriver::StoredTexts() const {
    // A refused text is kept as stored: the calls that need it fail naming
    // it, and the dialog shows it for the operator to correct. The port has
    // no default, so that none is written to before the operator chose it.
    TSettingTexts Texts = FStore->LoadTexts();
    const TSettingTexts Defaults = FormatStandInSettings({});
    Texts.try_emplace(dmBaudrate, Defaults.at(dmBaudrate));
    Texts.try_emplace(dmTimeout, Defaults.at(dmTimeout));
    return Texts;
}

TAutoValue TStandInDriver::Invoke(const std::string& Name) {
    if (Name == dmConnect)
        return Connect();
    if (Name == dmDisconnect)
        return Disconnect();
    if (Name == dmSetExchangeParam)
        return SetExchangeParam();
    if (Name == dmShowProperties)
        return ShowProperties();
    if (FindRule(Name))
        return Setting(Name);
    if (Name == dmResultCode)
        return FResultCode;
    if (Name == dmResultCodeDescription)
        return FResultDescription;
    RaiseUnknownName(Name);
}

void TStandInDriver::Put(const std::string& Name, const TAutoValue& Value) {
    const TSettingRule* Rule = FindRule(Name);
    if (!Rule)
        RaiseUnknownName(Name);
    // Not saved: a run that raises the timeout and is killed before putting
    // it back must not leave the raised value as the operator's setting.
    const std::string Text = std::to_string(Value.AsInt32());
    ParseSetting(*Rule, Text);
    FSettings[Name] = Text;
}

int32_t TStandInDriver::Setting(const std::string& Key) const {
    return ParseSetting(*FindRule(Key), TextOf(FSettings, Key));
}

// The system's own words stay out of the description, which names the port's
// failure exactly; they are traced instead.
int32_t TStandInDriver::Guarded(const std::function<void()>& Body) {
    FResultCode = sdOk;
    FResultDescription = NoErrorText;
    try {
        Body();
    } catch (const EDriverError& E) {
        TraceSystemDetail(E);
        FResultCode = E.Code;
        FResultDescription = E.what();
    } catch (const EOSError& E) {
        TraceSystemDetail(E);
        FResultCode = sdSystemError;
        FResultDescription = E.what(); // "Системная ошибка..." already
    } catch (const std::exception& E) {
        FResultCode = sdSystemError;
        FResultDescription = std::string("Системная ошибка: ") + E.what();
    }
    if (FResultCode != sdOk && FConnected)
        Disconnect();
    return FResultCode;
}

void TStandInDriver::OpenLine() {
    const int32_t ComNumber = Setting(dmComNumber);
    FPort->BaudRate = BaudRates[Setting(dmBaudrate)];
    FPort->ComNumber = static_cast<uint32_t>(ComNumber);
    FPort->Timeout = LinkTimeoutMs;
    FPort->Open();
}

void TStandInDriver::Exchange(const std::string& Command) {
    const auto BadAnswer = [](const std::string& What) {
        throw EDriverError(sdBadAnswer, "Неверный ответ ФР: " + What);
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
        throw EDriverError(Error, RegisterErrorText(Error));
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
        const int32_t Timeout = Setting(dmTimeout);
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
        // timeout the program puts for its run (100000 ms during a probe) is
        // not the operator's, and OK must not save it as theirs. OK saves
        // all three, and they apply here at once.
        TSettingTexts Edited = StoredTexts();
        Edited.try_emplace(dmComNumber); // a port not set shows empty
        if (!FDialog || !FDialog(Edited))
            return;
        // Checked again, so that no dialog can ever save a refused value.
        const TSettingTexts Valid = FormatStandInSettings(ParseSettings(Edited));
        FStore->SaveTexts(Valid);
        FSettings = Valid;
    });
}
