#include "untAppErrors.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace {

void MessageBox(const std::string& Text) {
    QMessageBox::critical(QApplication::activeWindow(), QGuiApplication::applicationDisplayName(),
                          QString::fromStdString(Text));
}

TExceptionDisplay& CurrentDisplay() {
    static TExceptionDisplay D = MessageBox;
    return D;
}

} // namespace

void ShowException(const std::exception& E) {
    CurrentDisplay()(E.what());
}

TExceptionDisplay SetExceptionDisplay(TExceptionDisplay NewDisplay) {
    return std::exchange(CurrentDisplay(), std::move(NewDisplay));
}
