// The Win32 window's start-up: a failure while its controls are made leaves
// no window behind for the failure's message box to dispatch to; and its
// taskbar button. Needs a display (the end-to-end scenario "startfail" runs
// it).
#include "fmuMain_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Refuses the window's controls, as a system out of window handles would.
LRESULT CALLBACK RefuseControls(int Code, WPARAM W, LPARAM L) {
    if (Code == HCBT_CREATEWND && reinterpret_cast<CBT_CREATEWNDW*>(L)->lpcs->style & WS_CHILD)
        return 1;
    return CallNextHookEx(nullptr, Code, W, L);
}

TEST(MainWindow, AFailedStartLeavesNoWindowAndPostsNoQuit) {
    const HHOOK Hook = SetWindowsHookExW(WH_CBT, RefuseControls, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(Hook);
    EXPECT_THROW({ TWinMainView View(GetModuleHandleW(nullptr)); }, std::runtime_error);
    UnhookWindowsHookEx(Hook);
    EXPECT_EQ(FindWindowW(MainWindowClass, nullptr), nullptr);
    // A quit would close the failure's message box at once.
    MSG Msg;
    EXPECT_FALSE(PeekMessageW(&Msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

using TCalls = std::vector<std::string>;

// Records what the window asks of the taskbar, and refuses what the system's
// object refuses: any call before HrInit, and the button of another window.
class TRecordingTaskbar final : public ITaskbarList3 {
public:
    TRecordingTaskbar(TCalls& Calls, HWND Window) : FCalls(Calls), FWindow(Window) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Object) override {
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--FReferences > 0)
            return FReferences;
        FCalls.push_back("release");
        delete this;
        return 0;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override {
        FInitialised = true;
        return Record("init", FWindow);
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND W, TBPFLAG State) override {
        return Record("state " + std::to_string(State), W);
    }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND W, ULONGLONG Done, ULONGLONG Total) override {
        return Record("value " + std::to_string(Done) + "/" + std::to_string(Total), W);
    }
    // None of the rest is the window's to call.
#define REFUSE(Name, ...)                                                                          \
    HRESULT STDMETHODCALLTYPE Name(__VA_ARGS__) override {                                         \
        return Record(#Name);                                                                      \
    }
    // clang-format off
    REFUSE(AddTab, HWND); REFUSE(DeleteTab, HWND); REFUSE(ActivateTab, HWND);
    REFUSE(SetActiveAlt, HWND); REFUSE(MarkFullscreenWindow, HWND, WINBOOL);
    REFUSE(RegisterTab, HWND, HWND); REFUSE(UnregisterTab, HWND); REFUSE(SetTabOrder, HWND, HWND);
    REFUSE(SetTabActive, HWND, HWND, DWORD); REFUSE(ThumbBarAddButtons, HWND, UINT, LPTHUMBBUTTON);
    REFUSE(ThumbBarUpdateButtons, HWND, UINT, LPTHUMBBUTTON);
    REFUSE(ThumbBarSetImageList, HWND, HIMAGELIST); REFUSE(SetOverlayIcon, HWND, HICON, LPCWSTR);
    REFUSE(SetThumbnailTooltip, HWND, LPCWSTR); REFUSE(SetThumbnailClip, HWND, RECT*);
    // clang-format on
#undef REFUSE

private:
    HRESULT Record(std::string Call, HWND Window = nullptr) {
        const bool Refused = !FInitialised || Window != FWindow;
        FCalls.push_back(Call + (Refused ? " refused" : ""));
        return Refused ? E_UNEXPECTED : S_OK;
    }
    TCalls& FCalls;
    HWND FWindow;
    ULONG FReferences = 1;
    bool FInitialised = false;
};

// Nothing is asked of the taskbar before the shell has made the button (Wine
// never does), then the run's states go to the window's own button, and to
// the new one after the shell restarted. The end of a run flashes the button
// only while the window is not in front.
TEST(MainWindow, TheTaskbarButtonShowsTheRunOnceTheShellHasMadeIt) {
    TCalls Calls;
    HWND Window = nullptr;
    TWinMainView View(GetModuleHandleW(nullptr),
                      {[&] { return new TRecordingTaskbar(Calls, Window); },
                       [&](FLASHWINFO& Info) {
                           Calls.push_back(Info.hwnd == Window
                                               ? "flash " + std::to_string(Info.dwFlags)
                                               : "flash elsewhere");
                       }});
    Window = FindWindowW(MainWindowClass, nullptr);
    ASSERT_TRUE(Window);
    View.Show(SW_SHOWNORMAL);
    const UINT ButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    // Without OLE in this process the driver cannot be made: every run fails
    // at once.
    const auto After = [&](UINT Message, WPARAM W) {
        Calls.clear();
        SendMessageW(Window, Message, W, 0);
        return Calls;
    };
    const auto Run = [&](int Show) {
        ShowWindow(Window, Show);
        return After(WM_COMMAND, MAKEWPARAM(ControlWinId(ciStart), BN_CLICKED));
    };
    const std::string Flash = "flash " + std::to_string(FLASHW_TRAY | FLASHW_TIMERNOFG);
    EXPECT_EQ(Run(SW_SHOWNORMAL), TCalls{});
    EXPECT_EQ(Run(SW_MINIMIZE), TCalls{Flash});
    EXPECT_EQ(After(ButtonCreated, 0), (TCalls{"init", "state 4", "value 1000/1000"}));
    EXPECT_EQ(Run(SW_RESTORE), (TCalls{"state 1", "state 4", "value 1000/1000"}));
    EXPECT_EQ(After(ButtonCreated, 0), (TCalls{"release", "init", "state 4", "value 1000/1000"}));
}

} // namespace
