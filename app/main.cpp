#include "fmuMain.h"
#include "untAutomation.h"
#include "untPlatform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Automation (OLE on Windows) for the user-interface thread, which is the
    // only thread that calls the driver.
    TAutomationScope Automation;
    QApplication Application(argc, argv);
    Application.setApplicationName("ormant-timeout");
    Application.setApplicationDisplayName(QString::fromUtf8("Тест таймаута ФР"));
    Application.setApplicationVersion("1.1.0.0");
    RegisterPlatformDrivers();
    TfmMain fmMain;
    fmMain.show();
    return Application.exec();
}
