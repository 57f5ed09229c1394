#pragma once
// The main window's behaviour, free of any toolkit: the port, the driver, the
// stop flag, the running state and the handlers. A view (Qt or Win32) makes
// the controls, forwards their events here and does what the form asks.
#include "fmuMainControls.h"
#include "untClock.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untTimeoutRun.h"

#include <memory>

inline constexpr const char* ApplicationTitle = "Тест таймаута ФР";

class TfmMain final {
public:
    // ComPort and Clock stand in for the serial port and the system's clock
    // in tests.
    explicit TfmMain(TMainView& View,
                     std::unique_ptr<TSerialLine> ComPort = std::make_unique<TComPort>(),
                     TClock& Clock = SystemClock());
    TfmMain(const TfmMain&) = delete;
    TfmMain& operator=(const TfmMain&) = delete;

    bool Running() const { return FRunning; }

    void FormCreate();
    // A click on Control, as each view forwards it.
    void Click(TControlId Control);
    // The session ends or the system goes to sleep, and may end or freeze
    // the program once the window has handled that: a run under way stops
    // and restores the register before this returns.
    void StopAndRestore() noexcept { FTest.StopAndRestore(); }
    // Sets the stop flag. True when the window may close now; during a run it
    // is hidden instead and closes once the run has restored the register.
    bool FormClose();

private:
    void btnStartClick();
    void btnStopClick();
    void btnClearClick();
    void btnCloseClick();
    void btnDriverClick();

    TMainView& FView;
    // Before the port: the port closes before the driver goes.
    TDriverHolder FDriver;
    std::unique_ptr<TSerialLine> FComPort;
    bool FStopped = false;
    bool FRunning = false;
    bool FCloseWhenIdle = false;
    bool FDriverWhenIdle = false;
    TClock& FClock;
    TTimeoutRun FTest;
};
