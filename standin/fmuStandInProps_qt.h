#pragma once
// The stand-in driver's Qt side: its settings storage and settings dialog, and
// its registration under the driver's programmatic identifier.
#include "untStandInDriver.h"

#include <QString>

class QWidget;

// Settings in an INI file, section [General]: ORMANT_DRIVER_INI when set,
// else the user's configuration folder (ormant/driver.ini).
class TIniSettingsStore final : public TStandInSettingsStore {
public:
    explicit TIniSettingsStore(QString FileName);
    TSettingTexts LoadTexts() override;
    void SaveTexts(const TSettingTexts& Texts) override;
    static QString DefaultFileName();

private:
    QString FFileName;
};

// The modal settings dialog over Parent; true when the operator pressed OK
// on values the driver accepts. A refused value is shown as it is, and OK
// stays refused with the reason until it is corrected.
bool ShowStandInProperties(TSettingTexts& Settings, QWidget* Parent = nullptr);

// Registers the stand-in driver as "Addin.Ormant" with the INI store and the
// dialog above.
void RegisterStandInDriver();
