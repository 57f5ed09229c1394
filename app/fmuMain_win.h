#pragma once
// The main window in Win32, for Windows: makes the controls at their pixel
// positions, forwards their events to the form and does what the form asks.
#include "fmuMain.h"
#include "fmuMainControls_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shobjidl.h>

// Shown by the system beside the window when a run holds up a log-off,
// restart or shutdown.
inline constexpr const char* EndSessionReason =
    "Идёт тест: программа возвращает ФР его таймаут и закроется сама.";

// The shell's side of the window's taskbar button: the system's, or a test's
// stand-in that records what the window asks of it.
struct TTaskbarShell {
    // A taskbar list object of the caller's, or nullptr where the system has
    // none (before Windows 7).
    std::function<ITaskbarList3*()> Create;
    std::function<void(FLASHWINFO&)> Flash;
};
TTaskbarShell SystemTaskbarShell();

class TWinMainView final : private TMainView {
public:
    explicit TWinMainView(HINSTANCE Instance, TTaskbarShell Shell = SystemTaskbarShell());
    ~TWinMainView() override;
    TWinMainView(const TWinMainView&) = delete;
    TWinMainView& operator=(const TWinMainView&) = delete;

    void Show(int CmdShow);
    // One message as the main loop takes it: keyboard navigation between
    // the controls, then the window procedure.
    void Dispatch(MSG& Msg);

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM W, LPARAM L);
    LRESULT HandleMessage(UINT Message, WPARAM W, LPARAM L);
    void CreateControls(HINSTANCE Instance);
    void LayOut();
    int Scale(int Pixels96) const { return MulDiv(Pixels96, FDpi, 96); }

    TLog& Log() override { return *FLog; }
    void SetCaption(const std::string& Caption) override;
    void EnableControl(TControlId Control, bool Enabled) override;
    void FocusControl(TControlId Control) override;
    bool Checked(TControlId Control) const override;
    void ShowError(const std::string& Text) override;
    void Hide() override;
    void Close() override;
    void ProcessMessages() override;
    void SetStepTimer(std::function<void()> Step) override;
    void EnableInput(bool Enabled) override;
    void KeepAwake(bool On) override;
    void ShowProgress(TRunProgress Progress, uint32_t Done, uint32_t Total) override;
    void Alert() override;
    // The shell has made the window's button, or made it anew after a restart.
    void TaskbarButtonCreated();
    // Asks the button for what it should show and does not yet.
    void ShowOnButton();
    // A failed call of the taskbar list: the window goes without it.
    void DropTaskbar(const char* Call, HRESULT Result);
    HWND Control(TControlId Id) const { return GetDlgItem(FHandle, ControlWinId(Id)); }

    HWND FHandle = nullptr;
    int FDpi = 96;
    HFONT FFont = nullptr;
    HFONT FLogFont = nullptr;
    HWND FFocused = nullptr;
    std::unique_ptr<TLog> FLog;
    std::function<void()> FStep;
    TTaskbarShell FShell;
    const UINT FButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    struct TRelease {
        void operator()(IUnknown* Object) const { Object->Release(); }
    };
    std::unique_ptr<ITaskbarList3, TRelease> FTaskbar;
    // A progress state of the button and its share of ProgressScale: what
    // the run asked for, and what the button was told.
    struct TButtonProgress {
        TBPFLAG State = TBPF_NOPROGRESS;
        ULONGLONG Share = 0;
        bool operator==(const TButtonProgress&) const = default;
    } FWanted, FShown;
    std::unique_ptr<TfmMain> FForm;
};
