#include "fmuStandInProps_qt.h"

#include "untDriver.h"
#include "untProtocol.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>

QString TIniSettingsStore::DefaultFileName() {
    if (QString Env = qEnvironmentVariable("ORMANT_DRIVER_INI"); !Env.isEmpty())
        return Env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/ormant/driver.ini";
}

TSettingTexts TIniSettingsStore::LoadTexts() {
    const QSettings Ini(FFileName, QSettings::IniFormat);
    TSettingTexts Texts;
    // An unquoted comma makes the value a list; read as written.
    for (const char* Key : StandInSettingKeys)
        if (Ini.contains(Key))
            Texts[Key] = Ini.value(Key).toStringList().join(',').toStdString();
    return Texts;
}

void TIniSettingsStore::SaveTexts(const TSettingTexts& Texts) {
    QSettings Ini(FFileName, QSettings::IniFormat);
    for (const auto& [Key, Text] : Texts)
        Ini.setValue(QString::fromStdString(Key), QString::fromStdString(Text));
    Ini.sync();
    if (Ini.status() != QSettings::NoError)
        throw std::runtime_error("Не удалось сохранить настройки драйвера в " +
                                 FFileName.toStdString());
}

bool ShowStandInProperties(TSettingTexts& Settings) {
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName("dlgStandInProps");
    Dialog.setWindowTitle(QString::fromUtf8("Свойства драйвера ФР"));
    auto* Form = new QFormLayout(&Dialog);

    // Plain text fields, so that a refused value shows as it was stored.
    auto* edtComNumber = new QLineEdit(QString::fromStdString(Settings[dmComNumber]), &Dialog);
    edtComNumber->setObjectName("edtComNumber");
    Form->addRow(QString::fromUtf8("СOM порт:"), edtComNumber);

    auto* cbBaudrate = new QComboBox(&Dialog);
    cbBaudrate->setObjectName("cbBaudrate");
    for (const uint32_t Rate : BaudRates)
        cbBaudrate->addItem(QString::number(Rate));
    const std::string Baudrate = Settings[dmBaudrate];
    // A refused index selects nothing and shows itself in the empty list.
    cbBaudrate->setPlaceholderText(QString::fromStdString(Baudrate));
    cbBaudrate->setCurrentIndex(
        StandInSettingError(dmBaudrate, Baudrate).empty() ? std::stoi(Baudrate) : -1);
    Form->addRow(QString::fromUtf8("Скорость, бод:"), cbBaudrate);

    auto* edtTimeout = new QLineEdit(QString::fromStdString(Settings[dmTimeout]), &Dialog);
    edtTimeout->setObjectName("edtTimeout");
    Form->addRow(QString::fromUtf8("Таймаут, мс:"), edtTimeout);

    auto* lblError = new QLabel(QString::fromStdString(StandInSettingsError(Settings)), &Dialog);
    lblError->setObjectName("lblError");
    lblError->setWordWrap(true);
    Form->addRow(lblError);

    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, [&] {
        const TSettingTexts Edited =
            EditedStandInSettings(Settings, edtComNumber->text().toStdString(),
                                  cbBaudrate->currentIndex(), edtTimeout->text().toStdString());
        const std::string Error = StandInSettingsError(Edited);
        lblError->setText(QString::fromStdString(Error));
        if (!Error.empty())
            return;
        Settings = Edited;
        Dialog.accept();
    });
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    Form->addRow(Buttons);

    return Dialog.exec() == QDialog::Accepted;
}

void RegisterStandInDriver() {
    RegisterAutoClass(DriverProgId, [] {
        return std::make_shared<TStandInDriver>(
            std::make_shared<TIniSettingsStore>(TIniSettingsStore::DefaultFileName()),
            ShowStandInProperties);
    });
}
