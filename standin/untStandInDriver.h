#pragma once
// A stand-in for the register's automation driver, for systems without it:
// the members of untDriver.h under the same identifier, speaking the
// register's link protocol over its own connection to the line.
#include "untAutoRegistry.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untError.h"

#include <functional>
#include <map>

// A stored ComNumber has no default (see StandInSettingError); the 1 here
// is only what a formatted TStandInSettings{} carries.
struct TStandInSettings {
    int32_t ComNumber = 1;
    int32_t Baudrate = 2;  // index into the seven rates, 9600
    int32_t Timeout = 150; // ms, the register's exchange timeout
};

// The driver's three settings: each a property and a key of the stored
// settings, of the same name.
inline constexpr const char* StandInSettingKeys[] = {dmComNumber, dmBaudrate, dmTimeout};

// The settings as stored: the text of each key present. Texts, so that a
// value that is not a valid number can be named and shown as it is.
using TSettingTexts = std::map<std::string, std::string>;

// "" when Text is a valid value of Key, else the Russian text that names the
// key, the value and what is allowed. Whole decimal numbers only: ComNumber
// 1-255, Baudrate 0-6, Timeout 0-2147483647. An empty ComNumber is refused
// as not set: the port is the operator's to choose.
std::string StandInSettingError(const std::string& Key, const std::string& Text);
// The first refusal among the three keys of Texts (an absent one is empty),
// or "".
std::string StandInSettingsError(const TSettingTexts& Texts);
TSettingTexts FormatStandInSettings(const TStandInSettings& Settings);

class TStandInSettingsStore {
public:
    virtual ~TStandInSettingsStore() = default;
    // The texts of the keys present in the store. Reading never writes.
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

// Result codes of the stand-in beside those of its port, which are
// EDriverError's (peNoLink...); a positive code is the register's own error.
enum : int32_t {
    sdOk = 0,
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

    // A property read of a setting whose stored text was refused raises
    // EDriverError with the refusal's code and text, as the calls fail.
    TAutoValue Invoke(const std::string& Name) override;
    // Changes a setting for the life of this object only; out of range raises.
    void Put(const std::string& Name, const TAutoValue& Value) override;

private:
    int32_t Connect();
    int32_t Disconnect();
    int32_t SetExchangeParam();
    int32_t ShowProperties();
    // Runs Body, turning its failures into the result code and description.
    int32_t Guarded(const std::function<void()>& Body);
    // The value of Key, or EDriverError with the refusal of its text.
    int32_t Setting(const std::string& Key) const;
    // The stored texts, an absent Baudrate or Timeout taking its default.
    TSettingTexts StoredTexts() const;
    void OpenLine();
    // Sends one command and checks that the register answered it without
    // an error.
    void Exchange(const std::string& Command);

    std::shared_ptr<TStandInSettingsStore> FStore;
    TPropertiesDialog FDialog;
    // The keys' texts: as stored, then as Put and the dialog change them.
    TSettingTexts FSettings;
    std::unique_ptr<TSerialLine> FPort;
    bool FConnected = false;
    int32_t FResultCode = sdOk;
    std::string FResultDescription;
};
