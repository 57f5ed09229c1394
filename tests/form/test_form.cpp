// The main window's behaviour, which the Qt and the Win32 window share,
// through a view that records what the form asks of it; runs in virtual time
// against the emulated register and the stand-in driver.
#include "RunLog.h"
#include "VirtualRegister.h"
#include "fmuMain.h"
#include "untFrames.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A form on its own line to the rig's register and on the rig's clock, in the
// rig's window.
struct TWindow {
    TWindow() {
        View.AskClose = [this] { return fmMain.FormClose(); };
    }
    TVirtualRig Rig{{.MaxTimeout = 500}};
    TTestView& View = Rig.View;
    std::unique_ptr<TVirtualLine> OwnLine = std::make_unique<TVirtualLine>(Rig.Register);
    TVirtualLine& Line = *OwnLine;
    TfmMain fmMain{View, std::move(OwnLine), Rig.Register};
};

class Form : public ::testing::Test, protected TWindow {};

// The Qt window's test closes it during a run whose restore succeeds.
TEST_F(Form, ClosedDuringARunAFailedRestoreIsShownBeforeTheWindowCloses) {
    Rig.Driver->Forced["SetExchangeParam"] = {0, -6};
    // Closed twice while the 1000 ms probe waits: hidden, not closed.
    View.OnMessages = [this, Closed = false]() mutable {
        if (!Closed && View.Lines.Lines.back() == runlog::Probe(1000)) {
            Closed = true;
            fmMain.Click(ciClose);
            EXPECT_FALSE(fmMain.FormClose());
        }
    };
    fmMain.Click(ciStart);
    const std::string Failure = "Ошибка драйвера: (-6) Сбой SetExchangeParam";
    EXPECT_EQ(View.Lines.Lines,
              Join({Head, {Ok(100), Cut(1000), Separator, runlog::SettingTimeout(150), Failure}}));
    EXPECT_EQ(TLines(View.Trace.end() - 3, View.Trace.end()),
              (TLines{"focus btnStart", "error " + Failure, "closed"}));
    EXPECT_EQ(std::count(View.Trace.begin(), View.Trace.end(), "hide"), 2);
}

// "Драйвер..." during a run is "Прервать" first, and the dialog opens once
// the run has restored the register, whenever it was pressed: the restore
// goes to the register the run raised, not to a port saved in the dialog,
// which the next run uses.
TEST(FormDriver, DuringARunStopsItAndOpensAfterTheRestore) {
    const std::string Command = BuildFrame(ProbeCommand());
    // What happens at each of the window's message handlings while the log
    // ends with the 1000 ms probe's line; the first comes before the probe.
    const struct {
        const char* Name;
        std::function<void(TWindow&, int Call)> Messages;
    } Cases[] = {
        {"before the probe",
         [](TWindow& W, int Call) {
             if (Call == 1)
                 W.fmMain.Click(ciDriver);
         }},
        {"in the hold",
         [](TWindow& W, int Call) {
             if (Call == 2)
                 W.fmMain.Click(ciDriver);
         }},
        {"waiting for a silent register",
         [&Command](TWindow& W, int Call) {
             if (Call == 1)
                 W.Rig.Register.Replies[Command] = "";
             if (Call == 50)
                 W.fmMain.Click(ciDriver);
         }},
    };
    const TLines Stopped = Join({Head, {Ok(100), Cut(1000)}, Restore});
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TWindow W;
        int Dialogs = 0;
        W.Rig.Dialog = [&](TSettingTexts& Settings) {
            ++Dialogs;
            EXPECT_FALSE(W.fmMain.Running());
            EXPECT_FALSE(W.Line.IsOpen());
            EXPECT_EQ(W.View.Lines.Lines, Stopped);
            EXPECT_EQ(W.Rig.Register.Core.RequestedTimeout(), 150u);
            Settings["ComNumber"] = "9";
            return true;
        };
        int Calls = 0;
        W.View.OnMessages = [&] {
            if (W.View.Lines.Lines.back() == runlog::Probe(1000))
                C.Messages(W, ++Calls);
        };
        W.fmMain.Click(ciStart);
        EXPECT_EQ(Dialogs, 1);
        EXPECT_EQ(W.Rig.Store->Saved.at("ComNumber"), "9");
        EXPECT_EQ(std::count(W.View.Trace.begin(), W.View.Trace.end(), "input on"), 1);
    }
}

// The system stays awake from Start to the end of the restore, with the
// precise timer, also when Stop ends it.
TEST_F(Form, AwakeThroughARun) {
    bool StepTimerInHold = false, PreciseInRun = false;
    View.OnMessages = [&] {
        StepTimerInHold |= static_cast<bool>(View.Step);
        PreciseInRun |= Rig.Register.Precise;
        if (View.Lines.Lines.back() == runlog::Probe(1000))
            fmMain.Click(ciStop);
    };
    View.Lines.Add("Отключение от ФР"); // an earlier run's, cleared by Start
    fmMain.Click(ciStart);
    EXPECT_TRUE(StepTimerInHold);
    EXPECT_FALSE(View.Step);
    EXPECT_TRUE(PreciseInRun);
    EXPECT_FALSE(Rig.Register.Precise);
    EXPECT_EQ(View.Lines.Lines, Join({Head, {Ok(100), Cut(1000)}, Restore}));
    EXPECT_EQ(View.Trace,
              (TLines{"disable btnStart", "enable btnStop", "focus btnStop", "awake", "may sleep",
                      "disable btnStop", "enable btnStart", "focus btnStart"}));
}

} // namespace
