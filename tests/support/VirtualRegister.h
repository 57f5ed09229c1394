#pragma once
// A register emulated in virtual time, and what the timeout test needs around
// it: lines to it, a clock that drives it, the stand-in driver on its own line
// and a window with a plain log. No real time passes in tests built on this.
#include "untAutoRegistry.h"
#include "untClock.h"
#include "untComPort.h"
#include "untDriver.h"
#include "untError.h"
#include "untMainView.h"
#include "untRegisterCore.h"
#include "untRegisterLog.h"
#include "untStandInDriver.h"
#include "untTimeoutRun.h"

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

// The register is also the program's clock: a sleep is time passing for it.
class TVirtualRegister final : public TClock {
public:
    explicit TVirtualRegister(emu::TRegisterOptions Options = {}, uint32_t TickOffset = 1000);
    TVirtualRegister(const TVirtualRegister&) = delete;
    TVirtualRegister& operator=(const TVirtualRegister&) = delete;
    void Advance(uint64_t Ms);
    void HostWrites(const std::string& Bytes);
    uint32_t GetTickCount() override { return static_cast<uint32_t>(Now + FTickOffset); }
    void Sleep(uint32_t Ms) override { Advance(Ms); }
    void SetPrecise(bool On) override { Precise = On; }
    // The register's last ACK as it logged it: in time (the answer delivered)
    // or late, and how long after the answer.
    std::optional<emu::TLogLine> LastAck() const;

    emu::TRegisterCore Core;
    std::vector<std::string> Log;
    uint64_t Now = 0;
    // Bytes on their way to the host; one buffer whoever holds the line, as
    // with a pseudo-terminal.
    std::string Input;
    // Replies that stand in for the register's own to chosen host writes ("" for
    // none).
    std::map<std::string, std::string> Replies;
    // The device is gone: the system fails every write to it.
    bool Unplugged = false;
    // The program's process stops this long in its next wait for the line
    // (a paused virtual machine, Ctrl+Z).
    uint64_t Frozen = 0;
    bool Precise = false;

private:
    uint32_t FTickOffset;
};

class TVirtualLine final : public TSerialLine {
public:
    explicit TVirtualLine(TVirtualRegister& Register) : FRegister(Register) {}
    bool IsOpen() const override { return FOpen; }
    void Open() override;
    void Close() noexcept override { FOpen = false; }
    void Write(const std::string& Data) override;
    // Missing bytes cost the time the real port would wait for them, in
    // slices while a wait hook is set; bytes come only from the hook then.
    // Every wait is told to the hook, as the real ports tell it.
    void Read(uint32_t Count, std::string& Data) override;
    void PurgeInput() override;

    int Opens = 0;
    std::string Written;

private:
    TVirtualRegister& FRegister;
    bool FOpen = false;
    uint32_t FTimeout = 0;
};

// Settings as numbers until a save, which they then are.
class TMemoryStore final : public TStandInSettingsStore {
public:
    TSettingTexts LoadTexts() override {
        return Saved.empty() ? FormatStandInSettings(Settings) : Saved;
    }
    void SaveTexts(const TSettingTexts& Texts) override { Saved = Texts; }
    TStandInSettings Settings;
    TSettingTexts Saved;
};

// Wraps a driver to force result codes of chosen calls and to record calls.
class TScriptedDriver final : public TAutoServer {
public:
    // The real driver is made on first use, so settings a test puts in its
    // store before that are the ones it loads.
    explicit TScriptedDriver(std::function<std::shared_ptr<TAutoServer>()> MakeInner)
        : FMakeInner(std::move(MakeInner)) {}
    TAutoValue Invoke(const std::string& Name) override;
    void Put(const std::string& Name, const TAutoValue& Value) override;

    // The next calls of Name return these codes in turn (0: call through).
    std::map<std::string, std::deque<int32_t>> Forced;
    std::vector<std::string> Calls;

private:
    TAutoServer& Inner();
    std::function<std::shared_ptr<TAutoServer>()> FMakeInner;
    std::shared_ptr<TAutoServer> FInner;
    std::string FForcedDescription;
};

class TVectorLog final : public TLog {
public:
    void Clear() override { Lines.clear(); }
    void Add(const std::string& Line) override { Lines.push_back(Line); }
    int Count() const override { return static_cast<int>(Lines.size()); }
    std::string Line(int Index) const override { return Lines.at(Index); }
    void SetLine(int Index, const std::string& Line) override { Lines.at(Index) = Line; }
    void Repaint() override {}
    std::vector<std::string> Lines;
};

// The window as a test sees it: a plain log, the check boxes it ticked, and a
// trace of what the form asked of the rest.
class TTestView final : public TMainView {
public:
    TLog& Log() override { return Lines; }
    bool Checked(TControlId Control) const override { return Ticked.count(Control) > 0; }
    void SetCaption(const std::string& Caption) override { Trace.push_back("caption " + Caption); }
    void EnableControl(TControlId Control, bool Enabled) override;
    void FocusControl(TControlId Control) override;
    void ShowError(const std::string& Text) override { Trace.push_back("error " + Text); }
    void Hide() override { Trace.push_back("hide"); }
    // As a toolkit does: the form decides whether the close proceeds.
    void Close() override {
        if (AskClose && AskClose())
            Trace.push_back("closed");
    }
    void ProcessMessages() override {
        if (OnMessages)
            OnMessages();
    }
    void SetStepTimer(std::function<void()> AStep) override { Step = std::move(AStep); }
    void EnableInput(bool Enabled) override { Trace.push_back(Enabled ? "input on" : "input off"); }
    void KeepAwake(bool On) override { Trace.push_back(On ? "awake" : "may sleep"); }
    // What the taskbar button shows, a change an entry.
    void ShowProgress(TRunProgress P, uint32_t Done, uint32_t Total) override;
    void Alert() override { ++Alerts; }

    TVectorLog Lines;
    std::set<TControlId> Ticked;
    std::vector<std::string> Trace;
    std::vector<std::string> Progress;
    int Alerts = 0;
    // Called whenever the test lets the window process its messages.
    std::function<void()> OnMessages;
    std::function<bool()> AskClose;
    // The waiting probe's step, which the window's step timer calls.
    std::function<void()> Step;
};

// The register, the program's line and clock, and the stand-in driver on a
// line of its own, registered as the driver for the lifetime of the rig.
class TVirtualRig final {
public:
    explicit TVirtualRig(emu::TRegisterOptions Options = {}, uint32_t TickOffset = 1000);
    ~TVirtualRig();
    TVirtualRig(const TVirtualRig&) = delete;
    TVirtualRig& operator=(const TVirtualRig&) = delete;

    // The probe and the run on this rig's window, line, driver and clock.
    TTimeoutRun Run() { return {View, Line, Holder, StopFlag, Register}; }

    TVirtualRegister Register;
    TVirtualLine Line{Register};
    std::shared_ptr<TMemoryStore> Store = std::make_shared<TMemoryStore>();
    std::shared_ptr<TScriptedDriver> Driver;
    int Creations = 0; // of the driver's automation object
    TDriverHolder Holder;
    TTestView View;
    bool StopFlag = false;
    // The stand-in's settings dialog, as the operator fills it in.
    TPropertiesDialog Dialog;
};
