#pragma once
// The stand-in driver's Windows side: its settings in an INI file and its
// Win32 settings dialog.
#include "untStandInDriver.h"

#include <windows.h>

// Settings in an INI file, section [General]: ORMANT_DRIVER_INI when set,
// else %APPDATA%\Ormant\driver.ini.
class TWinIniSettingsStore final : public TStandInSettingsStore {
public:
    explicit TWinIniSettingsStore(std::wstring FileName);
    TSettingTexts LoadTexts() override;
    void SaveTexts(const TSettingTexts& Texts) override;
    static std::wstring DefaultFileName();

private:
    std::wstring FFileName;
};

// The modal settings dialog from Module's resources over Owner; true when
// the operator pressed OK on values the driver accepts. A refused value is
// shown as it is, and OK stays refused with the reason until it is corrected.
bool ShowStandInPropertiesWin(HINSTANCE Module, HWND Owner, TSettingTexts& Settings);
