#include "fmuStandInProps.h"

#include "untDriver.h"
#include "untProtocol.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>

TIniSettingsStore::TIniSettingsStore(QString FileName) : FFileName(std::move(FileName)) {}

QString TIniSettingsStore::DefaultFileName() {
    const QByteArray Env = qgetenv("ORMANT_DRIVER_INI");
    if (!Env.isEmpty())
        return QString::fromLocal8Bit(Env);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/ormant/driver.ini";
}

TStandInSettings TIniSettingsStore::Load() {
    QSettings Ini(FFileName, QSettings::IniFormat);
    TStandInSettings S;
    S.ComNumber = Ini.value("ComNumber", S.ComNumber).toInt();
    S.Baudrate = Ini.value("Baudrate", S.Baudrate).toInt();
    S.Timeout = Ini.value("Timeout", S.Timeout).toInt();
    return S;
}

void TIniSettingsStore::Save(const TStandInSettings& Settings) {
    QSettings Ini(FFileName, QSettings::IniFormat);
    Ini.setValue("ComNumber", Settings.ComNumber);
    Ini.setValue("Baudrate", Settings.Baudrate);
    Ini.setValue("Timeout", Settings.Timeout);
    Ini.sync();
    if (Ini.status() != QSettings::NoError)
        throw std::runtime_error("Не удалось сохранить настройки драйвера в " +
                                 FFileName.toStdString());
}

bool ShowStandInProperties(TStandInSettings& Settings) {
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName("dlgStandInProps");
    Dialog.setWindowTitle(QString::fromUtf8("Свойства драйвера ФР"));
    auto* Form = new QFormLayout(&Dialog);

    auto* sedComNumber = new QSpinBox(&Dialog);
    sedComNumber->setObjectName("sedComNumber");
    sedComNumber->setRange(1, 256);
    sedComNumber->setValue(Settings.ComNumber);
    Form->addRow(QString::fromUtf8("СOM порт:"), sedComNumber);

    auto* cbBaudrate = new QComboBox(&Dialog);
    cbBaudrate->setObjectName("cbBaudrate");
    for (const uint32_t Rate : BaudRates)
        cbBaudrate->addItem(QString::number(Rate));
    cbBaudrate->setCurrentIndex(Settings.Baudrate);
    Form->addRow(QString::fromUtf8("Скорость, бод:"), cbBaudrate);

    auto* sedTimeout = new QSpinBox(&Dialog);
    sedTimeout->setObjectName("sedTimeout");
    sedTimeout->setRange(0, 100000);
    sedTimeout->setSuffix(QString::fromUtf8(" мс"));
    sedTimeout->setValue(Settings.Timeout);
    Form->addRow(QString::fromUtf8("Таймаут:"), sedTimeout);

    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    Form->addRow(Buttons);

    if (Dialog.exec() != QDialog::Accepted)
        return false;
    Settings.ComNumber = sedComNumber->value();
    Settings.Baudrate = cbBaudrate->currentIndex();
    Settings.Timeout = sedTimeout->value();
    return true;
}

void RegisterStandInDriver() {
    RegisterAutoClass(DriverProgId, [] {
        return std::make_shared<TStandInDriver>(
            std::make_shared<TIniSettingsStore>(TIniSettingsStore::DefaultFileName()),
            ShowStandInProperties);
    });
}
