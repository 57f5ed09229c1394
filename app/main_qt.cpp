// The program on Linux: the Qt window, with the stand-in driver in place of
// the register's own, which exists only on Windows.
#include "fmuMain_qt.h"
#include "fmuStandInProps_qt.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication Application(argc, argv);
    Application.setApplicationName("ormant-timeout");
    Application.setApplicationDisplayName(QString::fromUtf8(ApplicationTitle));
    Application.setApplicationVersion("1.1.0.0");
    RegisterStandInDriver();
    TQtMainView fmMain;
    fmMain.show();
    return Application.exec();
}
