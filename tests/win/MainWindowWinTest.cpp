// The Win32 window's start-up: a failure while its controls are made leaves
// no window behind for the failure's message box to dispatch to. Needs a
// display (the end-to-end scenario "startfail" runs it).
#include "fmuMain_win.h"

#include <gtest/gtest.h>

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

} // namespace
