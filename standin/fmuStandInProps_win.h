#pragma once
// The stand-in's Windows side: its INI file and its Win32 settings dialog.
#include "untStandInDriver.h"

#include <windows.h>

class TWinIniSettingsStore final : public TStandInSettingsStore {
public:
    explicit TWinIniSettingsStore(std::wstring FileName);
    TSettingTexts LoadTexts() override;
    void SaveTexts(const TSettingTexts& Texts) override;
    static std::wstring DefaultFileName();

private:
    std::wstring FFileName;
};

// The dialog from Module's resources: a TPropertiesDialog.
bool ShowStandInPropertiesWin(HINSTANCE Module, HWND Owner, TSettingTexts& Settings);
