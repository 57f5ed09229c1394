#pragma once
// A stand-in for the register's automation driver, for systems without it:
// the same members under the same identifier, speaking the register's link
// protocol over its own connection to the line.
#include "untAutoRegistry.h"
#include "untComPort.h"

#include <functional>
#include <map>

// A stored ComNumber has no default (see StandInSettingError); the 1 here
// is only what a formatted TStandInSettings{} carries.
struct TStandInSettings {
    int32_t ComNumber = 1;
    int32_t Baudrate = 2;  // index into the seven rates, 9600
    int32_t Timeout = 150; // ms, the register's exchange timeout
};

// The driver's three settings: each is a property of that name and a key of
// the stored settings.
inline constexpr char skComNumber[] = "ComNumber";
inline constexpr char skBaudrate[] = "Baudrate";
inline constexpr char skTimeout[] = "Timeout";
inline constexpr const char* StandInSettingKeys[] = {skComNumber, skBaudrate, skTimeout};

// The settings as stored: the text of each key present. Texts, so that a
// value that is not a valid number can be named and shown as it is.
using TSettingTexts = std::map<std::string, std::string>;

// "" when Text is a valid value of Key, else the Russian text that names the
// key, the value and what is allowed. Whole decimal numbers only: ComNumber
// 1-255, Baudrate 0-6, Timeout 0-2147483647. An empty ComNumber is refused
// as not set: the port is the operator's to choose.
std::string StandInSettingError(const std::string& Key, const std::string& Text);
// The first refusal among Texts, or "" when every present key is valid.
std::string StandInSettingsError(const TSettingTexts& Texts);
// Every key's text: Settings formatted.
TSettingTexts FormatStandInSettings(const TStandInSettings& Settings);

class TStandInSettingsStore {
public:
    virtual ~TStandInSettingsStore() = default;
    // The texts of the keys present in the store; an absent Baudrate or
    // Timeout takes its default, an absent ComNumber is not set. Reading
    // never writes.
    virtual TSettingTexts LoadTexts() = 0;
    virtual void SaveTexts(const TSettingTexts& Texts) = 0;
    void Save(const TStandInSettings& Settings) { SaveTexts(FormatStandInSettings(Settings)); }
};

// Shows the settings dialog over every key's stored text, a refused one as
// it was stored; true, with the texts as edited, when the operator confirmed
// values that StandInSettingsError accepts. Cancel leaves the texts alone.
using TPropertiesDialog = std::function<bool(TSettingTexts&)>;

// What a dialog opened on Opened gives back for the operator's fields, each
// trimmed of spaces. A rate list with nothing chosen (BaudIndex < 0) keeps
// the refused index that it was opened with.
TSettingTexts EditedStandInSettings(TSettingTexts Opened, const std::string& ComNumber,
                                    int BaudIndex, const std::string& Timeout);

// Result codes of the stand-in; a positive code is the register's own error.
enum : int32_t {
    sdOk = 0,
    sdNoLink = -1,
    sdPortNotAvailable = -2,
    sdPortBusy = -3,
    sdBadAnswer = -4,
    sdBadBaudrate = -5,
    sdBadTimeout = -6,
    sdSystemError = -7,
    sdBadComNumber = -8,
};

class TStandInDriver final : public TAutoServer {
public:
    // Line is the driver's own connection to the register; a TComPort unless
    // given.
    TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store, TPropertiesDialog Dialog,
                   std::unique_ptr<TSerialLine> Line = {});
    ~TStandInDriver() override;

    // A property read of a setting whose stored text was refused raises
    // EStandInFailure with the refusal's text.
    TAutoValue Invoke(const std::string& Name) override;
    // Changes a setting for the life of this object only; out of range raises.
    void Put(const std::string& Name, const TAutoValue& Value) override;

private:
    int32_t Connect();
    int32_t Disconnect();
    int32_t SetExchangeParam();
    int32_t ShowProperties();
    // Runs Body, turning its failures into a result code and description.
    int32_t Guarded(const std::function<void()>& Body);
    // The value of Key, or EStandInFailure with the refusal of its text.
    int32_t Setting(const std::string& Key) const;
    void OpenLine();
    // Sends one command and checks that the register answered it without
    // an error.
    void Exchange(const std::string& Command);
    void Fail(int32_t Code, const std::string& Description);

    std::shared_ptr<TStandInSettingsStore> FStore;
    TPropertiesDialog FDialog;
    // The keys' texts as stored (defaults for an absent Baudrate or Timeout,
    // none for ComNumber) and now.
    TSettingTexts StoredTexts() const;
    // The keys' texts: as stored, then as Put and the dialog change them.
    TSettingTexts FSettings;
    std::unique_ptr<TSerialLine> FPort;
    bool FConnected = false;
    int32_t FResultCode = sdOk;
    std::string FResultDescription;
};

// The register's answer to a command was an error or made no sense, or a
// setting the call needs was refused.
class EStandInFailure : public std::runtime_error {
public:
    EStandInFailure(int32_t ACode, const std::string& Text)
        : std::runtime_error(Text), Code(ACode) {}
    int32_t Code;
};

std::string StandInErrorDescription(int32_t Code);
