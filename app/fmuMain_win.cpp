#include "fmuMain_win.h"

#include "untError.h"
#include "untWinText.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <cwchar>
#include <initializer_list>

namespace {

// The log in the window's EDIT control: lines joined by CR LF, no line break
// after the last one.
class TEditLog final : public TLog {
public:
    explicit TEditLog(HWND Edit) : FEdit(Edit) {}

    void Clear() override { SetWindowTextW(FEdit, L""); }

    void Add(const std::string& Line) override {
        std::wstring Text = Utf8ToWide(Line);
        const int Length = GetWindowTextLengthW(FEdit);
        if (Length > 0)
            Text.insert(0, L"\r\n");
        Replace(Length, Length, Text);
    }

    int Count() const override {
        // An empty control reports one line; it holds none.
        if (GetWindowTextLengthW(FEdit) == 0)
            return 0;
        return static_cast<int>(Send(EM_GETLINECOUNT));
    }

    std::string Line(int Index) const override {
        const int Start = static_cast<int>(Send(EM_LINEINDEX, Index));
        if (Start < 0)
            return {};
        const int Length = static_cast<int>(Send(EM_LINELENGTH, Start));
        if (Length == 0)
            return {};
        // EM_GETLINE takes the buffer's size in its first character.
        std::wstring Buffer(Length, L'\0');
        Buffer[0] = static_cast<wchar_t>(Length);
        const int Copied =
            static_cast<int>(Send(EM_GETLINE, Index, reinterpret_cast<LPARAM>(Buffer.data())));
        return WideToUtf8(Buffer.data(), Copied);
    }

    void SetLine(int Index, const std::string& Line) override {
        const int Start = static_cast<int>(Send(EM_LINEINDEX, Index));
        if (Start < 0)
            return;
        const int Length = static_cast<int>(Send(EM_LINELENGTH, Start));
        Replace(Start, Start + Length, Utf8ToWide(Line));
    }

    void Repaint() override {
        RedrawWindow(FEdit, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }

private:
    LRESULT Send(UINT Message, WPARAM W = 0, LPARAM L = 0) const {
        return SendMessageW(FEdit, Message, W, L);
    }

    void Replace(int From, int To, const std::wstring& Text) {
        Send(EM_SETSEL, From, To);
        Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Text.c_str()));
        // Keep the view on the last line. The caret goes to the line's start:
        // left at its end, a long line would scroll the log sideways.
        const int Last = static_cast<int>(Send(EM_GETLINECOUNT)) - 1;
        const int LastStart = static_cast<int>(Send(EM_LINEINDEX, Last));
        Send(EM_SETSEL, LastStart, LastStart);
        Send(EM_SCROLLCARET);
    }

    HWND FEdit;
};

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM Found) {
    *reinterpret_cast<bool*>(Found) = true;
    return 0;
}

bool HasCyrillicFace(const wchar_t* Face) {
    LOGFONTW Wanted{};
    Wanted.lfCharSet = RUSSIAN_CHARSET;
    wcsncpy(Wanted.lfFaceName, Face, LF_FACESIZE - 1);
    bool Found = false;
    HDC Screen = GetDC(nullptr);
    EnumFontFamiliesExW(Screen, &Wanted, FaceFound, reinterpret_cast<LPARAM>(&Found), 0);
    ReleaseDC(nullptr, Screen);
    return Found;
}

HFONT MakeFont(const TFontSpec& Item, int Dpi) {
    std::wstring Face;
    for (const char* Candidate : Item.Faces)
        if (Candidate && HasCyrillicFace(Utf8ToWide(Candidate).c_str())) {
            Face = Utf8ToWide(Candidate);
            break;
        }
    // A negative height is the character's height in pixels, without leading.
    return CreateFontW(-MulDiv(Item.PixelHeight, Dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       Item.FixedPitch ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                       Face.c_str());
}

// The Win32 class and style of each kind of control.
const wchar_t* ClassOf(TControlKind Kind) {
    return Kind == TControlKind::Memo ? L"EDIT" : L"BUTTON";
}

DWORD StyleOf(TControlKind Kind) {
    switch (Kind) {
    case TControlKind::Memo:
        return WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN;
    case TControlKind::CheckBox:
        return BS_AUTOCHECKBOX;
    case TControlKind::Button:
        break;
    }
    return BS_PUSHBUTTON;
}

// The probe's step timer (SetStepTimer).
constexpr UINT_PTR StepTimerId = 1;

// A single fixed border, a system menu and a minimise box.
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD WindowExStyle = WS_EX_CONTROLPARENT;

// A function of user32 that older systems lack: nullptr there.
template <typename TFunction> TFunction* UserFunction(const char* Name) {
    return reinterpret_cast<TFunction*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), Name)));
}

// The window's pixels per inch: its monitor's where the system scales per
// monitor (Windows 10), else the screen's.
int DpiOf(HWND Window) {
    static auto* const GetDpiForWindow = UserFunction<UINT WINAPI(HWND)>("GetDpiForWindow");
    if (GetDpiForWindow)
        if (const UINT Dpi = GetDpiForWindow(Window))
            return static_cast<int>(Dpi);
    HDC Screen = GetDC(nullptr);
    const int Dpi = GetDeviceCaps(Screen, LOGPIXELSY);
    ReleaseDC(nullptr, Screen);
    return Dpi > 0 ? Dpi : 96;
}

void RegisterWindowClass(HINSTANCE Instance, WNDPROC Procedure) {
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof Class;
    Class.lpfnWndProc = Procedure;
    Class.hInstance = Instance;
    // IDI_APPLICATION and IDC_ARROW, which the headers spell as narrow
    // resource names unless the whole build is UNICODE.
    Class.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    Class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    Class.lpszClassName = MainWindowClass;
    if (!RegisterClassExW(&Class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("RegisterClassEx: " + SystemErrorText(GetLastError()));
}

// A hold's share on the taskbar button, in thousandths: finer than any button
// is wide, and a 100 s hold tells the shell at every fifth step, not at each.
constexpr ULONGLONG ProgressScale = 1000;

std::string HResultText(HRESULT Result) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08lX", static_cast<unsigned long>(Result));
    return Text;
}

} // namespace

TTaskbarShell SystemTaskbarShell() {
    return {[]() -> ITaskbarList3* {
                ITaskbarList3* List = nullptr;
                const HRESULT Result =
                    // __uuidof, not CLSID_TaskbarList and IID_ITaskbarList3: those
                    // would link in libuuid's table of every identifier, 40 KB.
                    CoCreateInstance(__uuidof(TaskbarList), nullptr, CLSCTX_INPROC_SERVER,
                                     __uuidof(ITaskbarList3), reinterpret_cast<void**>(&List));
                if (FAILED(Result)) {
                    Trace("CoCreateInstance(TaskbarList): " + HResultText(Result));
                    return nullptr;
                }
                return List;
            },
            [](FLASHWINFO& Info) { FlashWindowEx(&Info); }};
}

TWinMainView::TWinMainView(HINSTANCE Instance, TTaskbarShell Shell) : FShell(std::move(Shell)) {
    // Version 6 of the common controls (see the manifest) needs the library
    // loaded before the first button is made.
    INITCOMMONCONTROLSEX Init{sizeof Init, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&Init);
    RegisterWindowClass(Instance, WindowProc);

    // Made first, then sized and centred: its pixels per inch are known only
    // once it is there.
    CreateWindowExW(WindowExStyle, MainWindowClass, L"", WindowStyle, 0, 0, ClientWidth,
                    ClientHeight, nullptr, nullptr, Instance, this);
    if (!FHandle)
        throw std::runtime_error("CreateWindowEx: " + SystemErrorText(GetLastError()));
    // The shell runs unelevated; a program run as administrator gets its
    // message only through this (Windows 7 and later).
    static auto* const AllowMessage =
        UserFunction<BOOL WINAPI(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT)>(
            "ChangeWindowMessageFilterEx");
    if (FButtonCreated && AllowMessage &&
        !AllowMessage(FHandle, FButtonCreated, MSGFLT_ALLOW, nullptr))
        Trace("ChangeWindowMessageFilterEx: " + SystemErrorText(GetLastError()));
    FDpi = DpiOf(FHandle);
    RECT Window, Client;
    GetWindowRect(FHandle, &Window);
    GetClientRect(FHandle, &Client);
    const int Width = Scale(ClientWidth) + (Window.right - Window.left) - Client.right;
    const int Height = Scale(ClientHeight) + (Window.bottom - Window.top) - Client.bottom;
    RECT Desktop;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &Desktop, 0);
    SetWindowPos(FHandle, nullptr, Desktop.left + (Desktop.right - Desktop.left - Width) / 2,
                 Desktop.top + (Desktop.bottom - Desktop.top - Height) / 2, Width, Height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    try {
        CreateControls(Instance);
        FLog = std::make_unique<TEditLog>(Control(ciMemo));
        FForm = std::make_unique<TfmMain>(static_cast<TMainView&>(*this));
        FForm->FormCreate();
    } catch (...) {
        // No destructor runs for us: the window must not outlive this object,
        // or the failure's message box would dispatch its messages to what
        // is gone. Unhooked first, so that its end posts no quit, which would
        // close that message box at once.
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
        DeleteObject(FFont);
        DeleteObject(FLogFont);
        throw;
    }
}

TWinMainView::~TWinMainView() {
    // The form first: it closes the port and releases the driver.
    FForm.reset();
    if (FHandle)
        DestroyWindow(FHandle);
    DeleteObject(FFont);
    DeleteObject(FLogFont);
}

void TWinMainView::CreateControls(HINSTANCE Instance) {
    for (const TControlSpec& C : Controls) {
        HWND Handle = CreateWindowExW(
            C.Kind == TControlKind::Memo ? WS_EX_CLIENTEDGE : 0, ClassOf(C.Kind),
            Utf8ToWide(C.Text).c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | StyleOf(C.Kind) | (C.Enabled ? 0 : WS_DISABLED), 0,
            0, 0, 0, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlWinId(C.Id))),
            Instance, nullptr);
        if (!Handle)
            throw std::runtime_error("CreateWindowEx: " + SystemErrorText(GetLastError()));
    }
    LayOut();
    // No limit on the log's length.
    SendMessageW(Control(ciMemo), EM_SETLIMITTEXT, 0, 0);
    FFocused = Control(FirstFocus);
}

// The controls and their fonts at the window's pixels per inch, from the
// table's 96-dpi values, as a form designed at 96 dpi scales itself.
void TWinMainView::LayOut() {
    HFONT OldFont = FFont, OldLogFont = FLogFont;
    FFont = MakeFont(FormFont, FDpi);
    FLogFont = MakeFont(LogFont, FDpi);
    for (const TControlSpec& C : Controls) {
        HWND Handle = Control(C.Id);
        SetWindowPos(Handle, nullptr, Scale(C.Left), Scale(C.Top), Scale(C.Width), Scale(C.Height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(Handle, WM_SETFONT,
                     reinterpret_cast<WPARAM>(C.Kind == TControlKind::Memo ? FLogFont : FFont),
                     TRUE);
    }
    if (OldFont)
        DeleteObject(OldFont);
    if (OldLogFont)
        DeleteObject(OldLogFont);
}

void TWinMainView::Show(int CmdShow) {
    ShowWindow(FHandle, CmdShow);
    UpdateWindow(FHandle);
    SetFocus(FFocused);
}

void TWinMainView::Dispatch(MSG& Msg) {
    if (FHandle && IsDialogMessageW(FHandle, &Msg))
        return;
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
}

LRESULT CALLBACK TWinMainView::WindowProc(HWND Window, UINT Message, WPARAM W, LPARAM L) {
    if (Message == WM_NCCREATE) {
        auto* Created =
            static_cast<TWinMainView*>(reinterpret_cast<CREATESTRUCTW*>(L)->lpCreateParams);
        Created->FHandle = Window;
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Created));
    }
    auto* View = reinterpret_cast<TWinMainView*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (!View)
        return DefWindowProcW(Window, Message, W, L);
    // No exception may cross the system's code that called us.
    try {
        return View->HandleMessage(Message, W, L);
    } catch (...) {
        View->ShowError(CurrentFailureText());
    }
    return 0;
}

LRESULT TWinMainView::HandleMessage(UINT Message, WPARAM W, LPARAM L) {
    if (Message == FButtonCreated && FButtonCreated) {
        TaskbarButtonCreated();
        return 0;
    }
    switch (Message) {
    case WM_COMMAND:
        if (const auto Id = ControlOfWinId(LOWORD(W)); HIWORD(W) == BN_CLICKED && FForm && Id) {
            FForm->Click(*Id);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (!FForm || FForm->FormClose())
            DestroyWindow(FHandle);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another scale: where the system suggests,
        // with everything inside scaled anew.
        FDpi = HIWORD(W);
        const RECT& Suggested = *reinterpret_cast<const RECT*>(L);
        SetWindowPos(FHandle, nullptr, Suggested.left, Suggested.top,
                     Suggested.right - Suggested.left, Suggested.bottom - Suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut();
        return 0;
    }
    case WM_TIMER:
        if (W == StepTimerId && FStep) {
            FStep();
            return 0;
        }
        break;
    case WM_POWERBROADCAST:
        // The system goes to sleep however we ask it not to (the lid, the
        // power button), and a register held through a sleep waits all of
        // it for its ACK. The system sleeps about two seconds after this,
        // whatever the program does then, and a USB adapter may be gone
        // after resume: the register gets its timeout back before we return,
        // and the probe ends with "Тест прерван".
        if (W == PBT_APMSUSPEND && FForm)
            FForm->StopAndRestore();
        return TRUE;
    case WM_QUERYENDSESSION:
        // Log-off, restart or shutdown during a run: the register must get
        // its timeout back first. The run lies beneath this handler on the
        // stack, so it can only finish after we return: stop it as closing
        // does, refuse the end of the session with a reason the system shows
        // beside the window, and close when the run has restored the
        // register, which lets the session end. The window comes back on
        // screen, so the operator sees what holds the session up and the
        // restore in the log.
        if (FForm && FForm->Running()) {
            FForm->FormClose();
            ShowWindow(FHandle, SW_SHOWNA);
            static auto* const BlockReasonCreate =
                UserFunction<BOOL WINAPI(HWND, LPCWSTR)>("ShutdownBlockReasonCreate");
            if (BlockReasonCreate)
                BlockReasonCreate(FHandle, Utf8ToWide(EndSessionReason).c_str());
            return FALSE;
        }
        return TRUE;
    case WM_ENDSESSION:
        // The session ends, and after this returns the system may end the
        // process at any time. Outside a run: close, so the form gives back
        // the port and the driver. During one (the session forced past our
        // refusal) the register gets its timeout back before we return; the
        // run then unwinds and closes the window, if it is given the time.
        if (W && FForm && !FForm->Running()) {
            DestroyWindow(FHandle);
        } else if (W && FForm) {
            FForm->StopAndRestore();
            FForm->FormClose();
        }
        return 0;
    case WM_DESTROY:
        if (static auto* const BlockReasonDestroy =
                UserFunction<BOOL WINAPI(HWND)>("ShutdownBlockReasonDestroy");
            BlockReasonDestroy)
            BlockReasonDestroy(FHandle);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND Handle = FHandle;
        SetWindowLongPtrW(Handle, GWLP_USERDATA, 0);
        FHandle = nullptr;
        return DefWindowProcW(Handle, Message, W, L);
    }
    case WM_ACTIVATE:
        // The control that had the focus gets it back when the window does.
        if (LOWORD(W) == WA_INACTIVE) {
            HWND Focused = GetFocus();
            if (Focused && IsChild(FHandle, Focused))
                FFocused = Focused;
        } else if (!HIWORD(W) && FFocused) {
            SetFocus(FFocused);
        }
        return 0;
    case WM_SETFOCUS:
        if (FFocused)
            SetFocus(FFocused);
        return 0;
    }
    return DefWindowProcW(FHandle, Message, W, L);
}

void TWinMainView::SetCaption(const std::string& Caption) {
    SetWindowTextW(FHandle, Utf8ToWide(Caption).c_str());
}

void TWinMainView::EnableControl(TControlId Id, bool Enabled) {
    EnableWindow(Control(Id), Enabled);
}

void TWinMainView::FocusControl(TControlId Id) {
    FFocused = Control(Id);
    if (GetActiveWindow() == FHandle)
        SetFocus(FFocused);
}

bool TWinMainView::Checked(TControlId Id) const {
    return SendMessageW(Control(Id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWinMainView::ShowError(const std::string& Text) {
    MessageBoxW(FHandle, Utf8ToWide(Text).c_str(), Utf8ToWide(ApplicationTitle).c_str(),
                MB_OK | MB_ICONERROR);
}

void TWinMainView::Hide() {
    ShowWindow(FHandle, SW_HIDE);
}

void TWinMainView::Close() {
    if (FHandle)
        SendMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TWinMainView::SetStepTimer(std::function<void()> Step) {
    FStep = std::move(Step);
    if (!FStep) {
        KillTimer(FHandle, StepTimerId);
        return;
    }
    // WM_TIMER, because the system's own modal loops dispatch it too: a
    // scroll bar held, the caption dragged and the system menu each keep
    // DispatchMessage from returning, and with it the probe's wait, until
    // the operator lets go. Not coalesced where the system would otherwise
    // put it off to save power (Windows 8 and later).
    static auto* const SetCoalescable =
        UserFunction<UINT_PTR WINAPI(HWND, UINT_PTR, UINT, TIMERPROC, ULONG)>(
            "SetCoalescableTimer");
    const UINT_PTR Set = SetCoalescable ? SetCoalescable(FHandle, StepTimerId, WaitStepMs, nullptr,
                                                         TIMERV_NO_COALESCING)
                                        : SetTimer(FHandle, StepTimerId, WaitStepMs, nullptr);
    if (!Set)
        throw std::runtime_error("SetTimer: " + SystemErrorText(GetLastError()));
}

void TWinMainView::EnableInput(bool Enabled) {
    EnableWindow(FHandle, Enabled);
    // The driver's dialog has gone while we were disabled, so the system gave
    // the activation to some other window; take it back, as the owner of a
    // modal dialog does.
    if (Enabled && IsWindowVisible(FHandle) && GetForegroundWindow() != FHandle)
        SetForegroundWindow(FHandle);
}

void TWinMainView::KeepAwake(bool On) {
    // ES_CONTINUOUS keeps the request until the next call with it; alone it
    // takes the request back. The display as well: a system with modern
    // standby enters it when the display turns off, ES_SYSTEM_REQUIRED or not.
    if (!SetThreadExecutionState(On ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED
                                    : ES_CONTINUOUS))
        Trace("SetThreadExecutionState failed");
}

void TWinMainView::ProcessMessages() {
    MSG Msg;
    while (PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) {
        if (Msg.message == WM_QUIT) {
            // Told to end during a run: as closing, so the run still restores
            // the register and the window then closes and ends the loop.
            if (FForm && FForm->FormClose())
                DestroyWindow(FHandle);
            return;
        }
        Dispatch(Msg);
    }
}

void TWinMainView::ShowProgress(TRunProgress Progress, uint32_t Done, uint32_t Total) {
    switch (Progress) {
    case TRunProgress::None:
        FWanted = {TBPF_NOPROGRESS, 0};
        break;
    case TRunProgress::Waiting:
        FWanted = {TBPF_INDETERMINATE, 0};
        break;
    case TRunProgress::Holding:
        FWanted = {TBPF_NORMAL, Total ? std::min<ULONGLONG>(Done, Total) * ProgressScale / Total
                                      : ProgressScale};
        break;
    case TRunProgress::Failed:
        // The whole bar red: coming from the indeterminate state, the shell
        // would show a share of its own choosing.
        FWanted = {TBPF_ERROR, ProgressScale};
        break;
    }
    ShowOnButton();
}

void TWinMainView::ShowOnButton() {
    if (!FTaskbar || !FHandle || FWanted == FShown)
        return;
    HRESULT Result = S_OK;
    if (FWanted.State != FShown.State &&
        FAILED(Result = FTaskbar->SetProgressState(FHandle, FWanted.State)))
        return DropTaskbar("SetProgressState", Result);
    // Again after a change of state: the indeterminate state keeps no share.
    if ((FWanted.State == TBPF_NORMAL || FWanted.State == TBPF_ERROR) &&
        FAILED(Result = FTaskbar->SetProgressValue(FHandle, FWanted.Share, ProgressScale)))
        return DropTaskbar("SetProgressValue", Result);
    FShown = FWanted;
}

void TWinMainView::TaskbarButtonCreated() {
    // Again after the shell restarted: the old object served a taskbar that
    // is gone, and the new button shows nothing yet.
    FTaskbar.reset();
    FShown = {};
    if (!FShell.Create)
        return;
    FTaskbar.reset(FShell.Create());
    if (!FTaskbar)
        return;
    if (const HRESULT Result = FTaskbar->HrInit(); FAILED(Result))
        return DropTaskbar("HrInit", Result);
    ShowOnButton();
}

void TWinMainView::DropTaskbar(const char* Call, HRESULT Result) {
    Trace(std::string("ITaskbarList3::") + Call + ": " + HResultText(Result));
    FTaskbar.reset();
}

void TWinMainView::Alert() {
    // Hidden, it closes once the run is over; in front (a message box of
    // its own counts), the operator sees the log. Minimised, it may still be
    // the foreground window.
    if (!FHandle || !IsWindowVisible(FHandle) || !FShell.Flash)
        return;
    if (!IsIconic(FHandle) && GetAncestor(GetForegroundWindow(), GA_ROOTOWNER) == FHandle)
        return;
    FLASHWINFO Info{sizeof Info, FHandle, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FShell.Flash(Info);
}
