#pragma once
// The main window in Qt, for Linux: makes the controls of the form's table,
// forwards their events to the form and does what the form asks of them.
#include "fmuMain.h"

#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>

class TQtMainView final : public QWidget, private TMainView {
    Q_OBJECT
public:
    explicit TQtMainView(QWidget* Owner = nullptr);
    ~TQtMainView() override;

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    TLog& Log() override { return *FLog; }
    void SetCaption(const std::string& Caption) override;
    void EnableControl(TControlId Control, bool Enabled) override;
    void FocusControl(TControlId Control) override;
    bool Checked(TControlId Control) const override;
    void ShowError(const std::string& Text) override;
    void Hide() override { hide(); }
    void Close() override { close(); }
    void ProcessMessages() override;
    void SetStepTimer(std::function<void()> Step) override;
    void EnableInput(bool Enabled) override { setEnabled(Enabled); }
    // Nothing here: the Linux program is the bench's, and desktops offer
    // this only through D-Bus, a dependency it would carry for nothing else.
    void KeepAwake(bool) override {}
    // Nothing here either: Qt 6 has no portable taskbar progress, and the
    // desktops that show one take it over D-Bus.
    void ShowProgress(TRunProgress, uint32_t, uint32_t) override {}
    void Alert() override;
    QWidget* Control(TControlId Id) const { return FControls.at(Id); }

    std::map<TControlId, QWidget*> FControls;
    QTimer FStepTimer;
    std::function<void()> FStep;
    std::unique_ptr<TLog> FLog;
    std::unique_ptr<TfmMain> FForm;
};
