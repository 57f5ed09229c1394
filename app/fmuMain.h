#pragma once
// The main window's behaviour, free of any toolkit: the port, the driver, the
// stop flag, the running state and the handlers. A view (Qt or Win32) makes
// the controls, forwards their events here and does what the form asks.
#include "fmuMainControls.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untTestHost.h"
#include "untTimeoutRun.h"

#include <memory>

inline constexpr const char* ApplicationTitle = "Тест таймаута ФР";

// What the form asks of the window it runs in.
class TMainView {
public:
    virtual ~TMainView() = default;
    virtual TLog& Log() = 0;
    virtual void SetCaption(const std::string& Caption) = 0;
    virtual void EnableControl(TControlId Control, bool Enabled) = 0;
    virtual void FocusControl(TControlId Control) = 0;
    // Whether "Определять максимальный таймаут" is ticked now.
    virtual bool DetectTimeout() const = 0;
    // The standard display of a failure no handler took: a message box.
    virtual void ShowError(const std::string& Text) = 0;
    // Takes the window off the screen while a run finishes after a close.
    virtual void Hide() = 0;
    // Closes the window as the operator does; the toolkit asks FormClose.
    virtual void Close() = 0;
    // Handles what is pending (clicks, close, repaint) and returns.
    virtual void ProcessMessages() = 0;
    // While On, calls the form's WaitStep about every WaitStepMs from its
    // message handling, the system's own modal loops included.
    virtual void SetStepTimer(bool On) = 0;
    // The whole window takes input again, or refuses it while another
    // program's window (the driver's dialog) is in charge.
    virtual void EnableInput(bool Enabled) = 0;
    // While On, the system and the display stay on (a run can last minutes).
    virtual void KeepAwake(bool On) = 0;
};

class TfmMain final : private TTestHost {
public:
    // ComPort stands in for the serial port in tests.
    explicit TfmMain(TMainView& View,
                     std::unique_ptr<TSerialLine> ComPort = std::make_unique<TComPort>());
    ~TfmMain() override;
    TfmMain(const TfmMain&) = delete;
    TfmMain& operator=(const TfmMain&) = delete;

    TAutoObject GetDriver() override;
    void CheckResult(int32_t Code) override;
    void RunTest() { FTest.RunTest(); }
    void TestTimeout(uint32_t Delay) { FTest.TestTimeout(Delay); }

    bool Stopped() const override { return FStopped; }
    bool Running() const { return FRunning; }
    // The clock the probe waits on; the system's unless a test sets another.
    void SetClock(TClock& Clock) { FClock = &Clock; }

    void FormCreate();
    // The view's step timer: the waiting probe's step.
    void WaitStep();
    // A click on Control, as each view forwards it.
    void Click(TControlId Control);
    void btnStartClick();
    void btnStopClick();
    void btnClearClick();
    void btnCloseClick();
    void btnDriverClick();
    // Sets the stop flag. True when the window may close now; during a run it
    // is hidden instead and closes once the run has restored the register.
    bool FormClose();

private:
    TSerialLine& ComPort() override { return *FComPort; }
    void SetStopped(bool Value) override { FStopped = Value; }
    TLog& Log() override { return FView.Log(); }
    void ProcessMessages() override { FView.ProcessMessages(); }
    void SetWaitStep(std::function<void()> Step) override;
    bool DetectTimeout() const override { return FView.DetectTimeout(); }
    TClock& Clock() override { return *FClock; }
    std::string TakeFailure() override;

    TMainView& FView;
    std::unique_ptr<TSerialLine> FComPort;
    TDriverHolder FDriver;
    bool FStopped = false;
    bool FRunning = false;
    bool FCloseWhenIdle = false;
    std::function<void()> FWaitStep;
    TTimeoutRun FTest;
    TClock* FClock;
};
