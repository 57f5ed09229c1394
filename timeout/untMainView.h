#pragma once
// The main window as the form and the run ask it, free of any toolkit: the Qt
// and the Win32 window each implement it once.
#include <cstdint>
#include <functional>
#include <string>

// The window's controls; their texts and places are the form's
// (fmuMainControls.h).
enum TControlId : int { ciMemo, ciDetectTimeout, ciStart, ciStop, ciDriver, ciClear, ciClose };

// How far a run has come, as the taskbar button shows it.
enum class TRunProgress {
    None,    // no run, or one that ended without a failure
    Waiting, // on the register, the driver or the restore: no end known
    Holding, // the ACK held back: Done of Total ms
    Failed,  // the run ended with a failure, until the next one starts
};

// The log: one entry a line.
class TLog {
public:
    virtual ~TLog() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& Line) = 0;
    virtual int Count() const = 0;
    virtual std::string Line(int Index) const = 0;
    virtual void SetLine(int Index, const std::string& Line) = 0;
    virtual void Repaint() = 0;
};

class TMainView {
public:
    virtual ~TMainView() = default;
    virtual TLog& Log() = 0;
    // Whether the check box Control is ticked now.
    virtual bool Checked(TControlId Control) const = 0;
    virtual void SetCaption(const std::string& Caption) = 0;
    virtual void EnableControl(TControlId Control, bool Enabled) = 0;
    virtual void FocusControl(TControlId Control) = 0;
    // The standard display of a failure no handler took: a message box.
    virtual void ShowError(const std::string& Text) = 0;
    // Takes the window off the screen while a run finishes after a close.
    virtual void Hide() = 0;
    // Closes the window as the operator does; the toolkit asks the form.
    virtual void Close() = 0;
    // Handles what is pending (clicks, close, repaint) and returns.
    virtual void ProcessMessages() = 0;
    // Until given nullptr, calls Step every WaitStepMs from the window's
    // message handling, also while ProcessMessages cannot return (the Win32
    // view tells when). Step never raises.
    virtual void SetStepTimer(std::function<void()> Step) = 0;
    // The whole window takes input again, or refuses it while another
    // program's window (the driver's dialog) is in charge.
    virtual void EnableInput(bool Enabled) = 0;
    // While On, the system and the display stay on (a run can last minutes).
    virtual void KeepAwake(bool On) = 0;
    // Shows on the window's taskbar button how far the run has come, where
    // the desktop has a place for it; Done and Total count only while
    // Holding. Called from the probe's step: it never raises, and a value it
    // showed already costs nothing.
    virtual void ShowProgress(TRunProgress Progress, uint32_t Done = 0, uint32_t Total = 0) = 0;
    // The run has ended: a window that is not in front draws the operator's
    // eye until it is brought forward. Never raises.
    virtual void Alert() = 0;
};
