#pragma once
// A stand-in for the register's automation driver, for systems without it:
// the members of untDriver.h, speaking the register's link protocol itself.
#include "untAutoRegistry.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untError.h"

#include <functional>
#include <map>

// A driver's last result code as a property: the program takes the code each
// method returns, but a driver has it, and the stand-in too.
inline constexpr char dmResultCode[] = "ResultCode";

// A stored ComNumber has no default (see StandInSettingError): the 1 is only
// what a formatted TStandInSettings{} carries.
struct TStandInSettings {
    int32_t ComNumber = 1;
    int32_t Baudrate = 2; // 9600
    int32_t Timeout = 150;
};

inline constexpr const char* StandInSettingKeys[] = {dmComNumber, dmBaudrate, dmTimeout};

// The stored text of each key present: a refused value is shown as written.
using TSettingTexts = std::map<std::string, std::string>;

// "" when Text is a valid value of Key, else the Russian refusal naming both.
std::string StandInSettingError(const std::string& Key, const std::string& Text);
// The first refusal among the three keys (an absent one is empty), or "".
std::string StandInSettingsError(const TSettingTexts& Texts);
TSettingTexts FormatStandInSettings(const TStandInSettings& Settings);

class TStandInSettingsStore {
public:
    virtual ~TStandInSettingsStore() = default;
    virtual TSettingTexts LoadTexts() = 0;
    virtual void SaveTexts(const TSettingTexts& Texts) = 0;
    void Save(const TStandInSettings& Settings) { SaveTexts(FormatStandInSettings(Settings)); }
};

// True, with the texts as edited, on an OK that StandInSettingsError accepts.
using TPropertiesDialog = std::function<bool(TSettingTexts&)>;

// The dialog's fields over Opened, trimmed; no rate chosen keeps the refused one.
TSettingTexts EditedStandInSettings(TSettingTexts Opened, const std::string& ComNumber,
                                    int BaudIndex, const std::string& Timeout);

class TStandInDriver final : public TAutoServer {
public:
    // Line: a TComPort unless given.
    TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store, TPropertiesDialog Dialog,
                   std::unique_ptr<TSerialLine> Line = {});
    TAutoValue Invoke(const std::string& Name) override;
    void Put(const std::string& Name, const TAutoValue& Value) override;

private:
    int32_t Guarded(const std::function<void()>& Body);
    void OpenLine();

    std::shared_ptr<TStandInSettingsStore> FStore;
    TPropertiesDialog FDialog;
    TSettingTexts FSettings; // as stored, then as Put and the dialog change them
    std::unique_ptr<TSerialLine> FPort;
    int32_t FResultCode = rcOk;
    std::string FResultDescription;
};
