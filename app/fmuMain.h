#pragma once
// The main window: the log, the buttons and the state of the test.
#include "ui_fmuMain.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untTestHost.h"
#include "untTimeoutTest.h"

#include <QWidget>
#include <memory>

class TClock;

// The log kept in the window's multi-line text control, one entry a line.
class TMemoLog final : public TLog {
public:
    explicit TMemoLog(QPlainTextEdit& AMemo) : FMemo(AMemo) {}
    void Clear() override;
    void Add(const std::string& Line) override;
    int Count() const override;
    std::string Line(int Index) const override;
    void SetLine(int Index, const std::string& Line) override;
    void Repaint() override;

private:
    QPlainTextEdit& FMemo;
};

class TfmMain : public QWidget, public Ui::fmMain, private TTestHost {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* Owner = nullptr);
    ~TfmMain() override;

    TAutoObject GetDriver() override;
    void CheckResult(int32_t Code) override;
    void RunTest() { FTest.RunTest(); }
    void TestTimeout(uint32_t Delay) { FTest.TestTimeout(Delay); }

    bool Stopped() const override { return FStopped; }
    bool Running() const { return FRunning; }
    // The clock the probe waits on; the system's unless a test sets another.
    void SetClock(TClock& Clock) { FClock = &Clock; }

public slots:
    void btnStartClick();
    void btnStopClick();
    void btnClearClick();
    void btnCloseClick();
    void btnDriverClick();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void FormCreate();
    void FormClose();

    TSerialLine& ComPort() override { return *FComPort; }
    void SetStopped(bool Value) override { FStopped = Value; }
    TLog& Log() override { return FLog; }
    void ProcessMessages() override;
    bool DetectTimeout() const override { return chbDetectTimeout->isChecked(); }
    TClock& Clock() override { return *FClock; }

    std::unique_ptr<TComPort> FComPort;
    TDriverHolder FDriver;
    bool FStopped = false;
    bool FRunning = false;
    TMemoLog FLog;
    TTimeoutTest FTest;
    TClock* FClock;
    QSize FDesignSize;
};
