// The program on Windows: the Win32 window and the register's installed
// driver.
#include "fmuMain_win.h"
#include "untAutomation.h"
#include "untWinText.h"

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int CmdShow) {
    // OLE for the user-interface thread, the only thread that calls the
    // driver; it outlives the window, which releases the driver.
    TAutomationScope Automation;
    try {
        TWinMainView fmMain(Instance);
        fmMain.Show(CmdShow);
        MSG Msg;
        while (GetMessageW(&Msg, nullptr, 0, 0) > 0)
            fmMain.Dispatch(Msg);
        return static_cast<int>(Msg.wParam);
    } catch (const std::exception& E) {
        MessageBoxW(nullptr, Utf8ToWide(E.what()).c_str(), Utf8ToWide(ApplicationTitle).c_str(),
                    MB_OK | MB_ICONERROR);
        return 1;
    }
}
