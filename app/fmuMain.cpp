#include "fmuMain.h"

#include "untError.h"

#include <optional>
#include <utility>

TfmMain::TfmMain(TMainView& View, std::unique_ptr<TSerialLine> ComPort, TClock& Clock)
    : FView(View), FComPort(std::move(ComPort)), FClock(Clock),
      FTest(View, *FComPort, FDriver, FStopped, Clock) {}

void TfmMain::FormCreate() {
    FView.SetCaption(ApplicationTitle);
}

void TfmMain::Click(TControlId Control) {
    // The buttons' handlers; any other control's click (a check box's) is the
    // control's own business, read when the run needs it.
    static constexpr std::pair<TControlId, void (TfmMain::*)()> Handlers[] = {
        {ciStart, &TfmMain::btnStartClick},   {ciStop, &TfmMain::btnStopClick},
        {ciDriver, &TfmMain::btnDriverClick}, {ciClear, &TfmMain::btnClearClick},
        {ciClose, &TfmMain::btnCloseClick},
    };
    for (const auto& [Id, Handler] : Handlers)
        if (Id == Control)
            (this->*Handler)();
}

void TfmMain::btnStartClick() {
    // Start is disabled while a run goes on; a click queued before that must
    // not start a run inside the run.
    if (FRunning)
        return;
    FRunning = true;
    FView.Log().Clear();
    FView.EnableControl(ciStart, false);
    FView.EnableControl(ciStop, true);
    FView.FocusControl(ciStop);
    // A sleep in the middle of a hold would make the register wait all of it
    // for its ACK, while the log names the requested delay. On laptops with
    // modern standby the system sleeps as soon as the display goes off.
    FView.KeepAwake(true);
    FClock.SetPrecise(true);
    std::optional<std::string> Failure;
    try {
        FTest.RunTest();
    } catch (...) {
        Failure = CurrentFailureText();
    }
    FClock.SetPrecise(false);
    FView.KeepAwake(false);
    if (Failure)
        FView.Log().Add(*Failure);
    FView.EnableControl(ciStop, false);
    FView.EnableControl(ciStart, true);
    FView.FocusControl(ciStart);
    FRunning = false;
    const bool Driver = std::exchange(FDriverWhenIdle, false);
    // Closed during the run: the run has tried to restore the register, so
    // close now. A failure would go unseen with the hidden log, and it may be
    // that the register kept the raised timeout: the operator must see it.
    if (FCloseWhenIdle) {
        if (Failure)
            FView.ShowError(*Failure);
        FView.Close();
    } else if (Driver) {
        btnDriverClick();
    }
}

void TfmMain::btnStopClick() {
    FStopped = true;
}

void TfmMain::btnClearClick() {
    FView.Log().Clear();
}

void TfmMain::btnCloseClick() {
    FView.Close();
}

void TfmMain::btnDriverClick() {
    // During a run this is "Прервать" first, and the dialog opens once the
    // run has restored the register: the dialog takes the line, so the hold
    // under way would last as long as the dialog, and a port saved in it
    // would be the one the restore went to, leaving the raised register at
    // 100000 ms.
    if (FRunning) {
        FStopped = true;
        FDriverWhenIdle = true;
        return;
    }
    // Nothing of ours may call the driver while its dialog is open, whatever
    // owner the driver gives that dialog: the window refuses input meanwhile,
    // failures included.
    FView.EnableInput(false);
    std::optional<std::string> Failure;
    try {
        FComPort->Close();
        FDriver.CheckResult(FDriver.GetDriver().Get(dmShowProperties).AsInt32());
    } catch (...) {
        Failure = CurrentFailureText();
    }
    FView.EnableInput(true);
    if (Failure)
        FView.ShowError(*Failure);
}

bool TfmMain::FormClose() {
    FStopped = true;
    if (!FRunning)
        return true;
    FCloseWhenIdle = true;
    FView.Hide();
    return false;
}
