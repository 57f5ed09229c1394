#pragma once
// The stand-in driver's Qt side: its settings storage and settings dialog, and
// its registration under the driver's programmatic identifier.
#include "untStandInDriver.h"

#include <QString>

// Settings in an INI file: ORMANT_DRIVER_INI when set, else the user's
// configuration folder (ormant/driver.ini).
class TIniSettingsStore final : public TStandInSettingsStore {
public:
    explicit TIniSettingsStore(QString FileName);
    TStandInSettings Load() override;
    void Save(const TStandInSettings& Settings) override;
    static QString DefaultFileName();

private:
    QString FFileName;
};

// The modal settings dialog; true when the operator pressed OK.
bool ShowStandInProperties(TStandInSettings& Settings);

// Registers the stand-in driver as "Addin.Ormant" with the INI store and the
// dialog above.
void RegisterStandInDriver();
