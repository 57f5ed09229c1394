#pragma once
// The main window as the form and the run ask it, free of any toolkit: the Qt
// and the Win32 window each implement it once.
#include <functional>
#include <string>

// The window's controls; their texts and places are the form's
// (fmuMainControls.h).
enum TControlId : int { ciMemo, ciDetectTimeout, ciStart, ciStop, ciDriver, ciClear, ciClose };

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
};
