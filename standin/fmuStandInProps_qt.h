#pragma once
// The stand-in's Qt side: its INI file, its settings dialog, its registration.
#include "untStandInDriver.h"

#include <QString>

class TIniSettingsStore final : public TStandInSettingsStore {
public:
    explicit TIniSettingsStore(QString FileName) : FFileName(std::move(FileName)) {}
    TSettingTexts LoadTexts() override;
    void SaveTexts(const TSettingTexts& Texts) override;
    static QString DefaultFileName();

private:
    QString FFileName;
};

// A TPropertiesDialog over the active window.
bool ShowStandInProperties(TSettingTexts& Settings);

// As "Addin.Ormant", with the INI store and the dialog above.
void RegisterStandInDriver();
