// ormant-uictl: drives the program's main window from another process, for
// the end-to-end tests under Wine. It reads one command a line from the
// standard input, as UTF-8 (text on Wine's command line goes through the
// locale's code page, which may have no Cyrillic letters); a command's
// argument is the rest of its line. Every command first waits for the window
// to show; a wait fails after WaitMs. Controls are named as in
// app/fmuMainControls.h ("Stop" or "btnStop").
//   click NAME           post BM_CLICK to a control (returns at once)
//   wait-log NEEDLE      wait until the log holds NEEDLE
//   wait-idle            wait until Start is enabled and Stop disabled
//   log                  print the log
//   layout DPI           print the caption, the frame's styles and the
//                        focused control, then each rectangle (the client
//                        area's, the controls') that is not the table's
//                        scaled from 96 to DPI within a pixel
//   msgbox               wait for a message box, print its caption and text,
//                        press its OK
//   dialog               wait for the driver's dialog, print "owner main" or
//                        "owner none"
//   dialog-cancel        press the driver's dialog's Cancel and wait until
//                        the main window takes input again
//   enabled              print "enabled 1" or "enabled 0": the main window's
//                        input
//   point NAME           print a control's centre in screen pixels ("x y")
//   log-arrow            print the centre of the log's lower scroll arrow
//                        ("x y")
//   suspend              send WM_POWERBROADCAST PBT_APMSUSPEND, as the system
//                        does before it sleeps, and freeze the program's
//                        thread the moment it returns, as the sleep does;
//                        print "handled in N ms"
//   resume               let the frozen thread go on, as after the sleep
//   end-session          send WM_ENDSESSION, as the system does when the
//                        session ends, and end the program the moment it
//                        returns, as the system may; print "handled in N ms"
//   responsive SECONDS   for SECONDS, send WM_NULL to the main window every
//                        50 ms, each to be answered within AnswerMs; print
//                        "answered N in M ms at most"
//   wait-limit SECONDS   how long the waits after it may take (default 20)
// Output is UTF-8; a failed command says why on stderr and exits with 1.
#include "fmuMainControls_win.h"
#include "untWinText.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

// How long a sent message may wait for the program's thread: it answers
// between 20 ms steps of a probe and after each driver call.
constexpr UINT SendTimeoutMs = 10000;
// How soon the window must answer a message while a run waits on the
// register: well within the 5 s after which Windows calls it not responding,
// and soon enough for an operator's click to feel answered.
constexpr UINT AnswerMs = 500;
// Each scenario's time limit is a few times this.
DWORD WaitMs = 20000;

HWND FMain = nullptr;

void Out(const std::string& Text) {
    DWORD Written = 0; // as it is: the C library's stdout would write CR LF
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), Text.data(), DWORD(Text.size()), &Written, nullptr);
}

// Seen: what the waiting saw last, which Done may keep up to date.
void WaitFor(const std::string& What, auto Done, const std::string& Seen = {}) {
    for (const DWORD Start = GetTickCount(); !Done(); Sleep(50))
        if (GetTickCount() - Start >= WaitMs)
            throw std::runtime_error("timed out waiting for " + What + Seen);
}

HWND MainWindow() {
    // The class, not the caption: a message box of the program has that too.
    if (!FMain)
        WaitFor("the main window", [] {
            FMain = FindWindowW(MainWindowClass, nullptr);
            return FMain && IsWindowVisible(FMain);
        });
    return FMain;
}

// The control named Name, as in the code ("btnStop") or by its role alone
// ("Stop"); nullptr for none.
const TControlSpec* FindControl(std::string_view Name) {
    for (const TControlSpec& C : Controls) {
        std::string_view Full = C.Name;
        if (Full == Name)
            return &C;
        const auto Role = Full.find_first_not_of("abcdefghijklmnopqrstuvwxyz");
        if (Role != std::string_view::npos && Role > 0 && Full.substr(Role) == Name)
            return &C;
    }
    return nullptr;
}

HWND Control(TControlId Id) {
    if (HWND Item = GetDlgItem(MainWindow(), ControlWinId(Id)))
        return Item;
    throw std::runtime_error(std::string("no control ") + ControlSpec(Id).Name);
}

// A window's text as UTF-8, the edit control's CR LF as LF, ending in LF.
std::string Text(HWND Window) {
    static wchar_t Buffer[1 << 16];
    DWORD_PTR Copied = 0;
    if (!SendMessageTimeoutW(Window, WM_GETTEXT, std::size(Buffer), LPARAM(Buffer),
                             SMTO_ABORTIFHUNG, SendTimeoutMs, &Copied))
        throw std::runtime_error("the program does not answer WM_GETTEXT");
    std::string Result;
    for (char C : WideToUtf8(Buffer, int(Copied)))
        if (C != '\r')
            Result += C;
    return Result.empty() || Result.back() != '\n' ? Result + '\n' : Result;
}

std::string Layout(int Dpi) {
    HWND Main = MainWindow();
    const LONG_PTR Style = GetWindowLongPtrW(Main, GWL_STYLE);
    const auto Has = [&](LONG_PTR Bit) { return Style & Bit ? " 1" : " 0"; };
    GUITHREADINFO Gui{};
    Gui.cbSize = sizeof Gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &Gui);
    std::string Result = "caption " + Text(Main) + "sysmenu" + Has(WS_SYSMENU) + " minimize" +
                         Has(WS_MINIMIZEBOX) + " maximize" + Has(WS_MAXIMIZEBOX) + " sizable" +
                         Has(WS_THICKFRAME) + "\nfocus " +
                         (Gui.hwndFocus && ControlOfWinId(GetDlgCtrlID(Gui.hwndFocus))
                              ? ControlSpec(*ControlOfWinId(GetDlgCtrlID(Gui.hwndFocus))).Name
                              : "none") +
                         "\n";
    const auto Check = [&](const char* Name, RECT R, std::array<int, 4> Want) {
        const int Got[] = {int(R.left), int(R.top), int(R.right - R.left), int(R.bottom - R.top)};
        for (int I = 0; I < 4; ++I)
            if (const int Scaled = MulDiv(Want[I], Dpi, 96); std::abs(Got[I] - Scaled) > 1)
                Result += std::string(Name) + ' ' +
                          std::array{"left", "top", "width", "height"}[I] + ' ' +
                          std::to_string(Got[I]) + " instead of " + std::to_string(Scaled) + '\n';
    };
    RECT R{};
    GetClientRect(Main, &R);
    Check("client", R, {0, 0, ClientWidth, ClientHeight});
    for (const TControlSpec& C : Controls) {
        GetWindowRect(Control(C.Id), &R);
        MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&R), 2);
        Check(C.Name, R, {C.Left, C.Top, C.Width, C.Height});
    }
    return Result;
}

std::string Point(LONG X, LONG Y) {
    return std::to_string(X) + ' ' + std::to_string(Y) + '\n';
}

// A visible dialog other than a message box (which has a static 0xFFFF).
HWND DriverDialog() {
    HWND Dialog = nullptr;
    WaitFor("the driver's dialog", [&] {
        Dialog = nullptr;
        while ((Dialog = FindWindowExW(nullptr, Dialog, L"#32770", nullptr)))
            if (IsWindowVisible(Dialog) && !GetDlgItem(Dialog, 0xFFFF))
                return true;
        return false;
    });
    return Dialog;
}

void Run(const std::string& Command, const std::string& Argument) {
    if (Command == "click") {
        const TControlSpec* Named = FindControl(Argument);
        if (!Named)
            throw std::runtime_error("no control named " + Argument);
        PostMessageW(Control(Named->Id), BM_CLICK, 0, 0);
    } else if (Command == "wait-log") {
        std::string Log;
        WaitFor(
            '"' + Argument + "\" in the log, which is:\n",
            [&] { return (Log = Text(Control(ciMemo))).find(Argument) != Log.npos; }, Log);
    } else if (Command == "wait-idle") {
        WaitFor("Start enabled and Stop disabled", [] {
            return IsWindowEnabled(Control(ciStart)) && !IsWindowEnabled(Control(ciStop));
        });
    } else if (Command == "log") {
        Out(Text(Control(ciMemo)));
    } else if (Command == "layout") {
        Out(Layout(std::stoi(Argument)));
    } else if (Command == "msgbox") {
        HWND Box = nullptr;
        WaitFor("a message box", [&] {
            // Made hidden, and shown once its text is in.
            while ((Box = FindWindowExW(nullptr, Box, L"#32770", nullptr)) && !IsWindowVisible(Box))
                ;
            return Box != nullptr;
        });
        // 0xFFFF: the message box's text.
        Out("caption " + Text(Box) + "text " + Text(GetDlgItem(Box, 0xFFFF)));
        PostMessageW(Box, WM_COMMAND, IDOK, 0);
    } else if (Command == "dialog") {
        const bool Owned = GetWindow(DriverDialog(), GW_OWNER) == MainWindow();
        Out(std::string("owner ") + (Owned ? "main" : "none") + '\n');
    } else if (Command == "dialog-cancel") {
        PostMessageW(DriverDialog(), WM_COMMAND, IDCANCEL, 0);
        WaitFor("the main window enabled", [] { return IsWindowEnabled(MainWindow()) != FALSE; });
    } else if (Command == "enabled") {
        Out(std::string("enabled ") + (IsWindowEnabled(MainWindow()) ? "1" : "0") + '\n');
    } else if (Command == "point") {
        const TControlSpec* Named = FindControl(Argument);
        if (!Named)
            throw std::runtime_error("no control named " + Argument);
        RECT R{};
        GetWindowRect(Control(Named->Id), &R);
        Out(Point((R.left + R.right) / 2, (R.top + R.bottom) / 2));
    } else if (Command == "log-arrow") {
        // The scroll bar lies right of the log's client area, its arrows as
        // high as it is wide (another process cannot ask for its parts).
        HWND Memo = Control(ciMemo);
        RECT R{};
        GetClientRect(Memo, &R);
        MapWindowPoints(Memo, nullptr, reinterpret_cast<POINT*>(&R), 2);
        const int Width = GetSystemMetrics(SM_CXVSCROLL);
        Out(Point(R.right + Width / 2, R.bottom - GetSystemMetrics(SM_CYVSCROLL) / 2));
    } else if (Command == "wait-limit") {
        WaitMs = static_cast<DWORD>(std::stoul(Argument)) * 1000;
    } else if (Command == "responsive") {
        const DWORD For = static_cast<DWORD>(std::stoul(Argument)) * 1000;
        DWORD Count = 0, Longest = 0;
        for (const DWORD Start = GetTickCount(); GetTickCount() - Start < For; Sleep(50)) {
            const DWORD Sent = GetTickCount();
            DWORD_PTR Answer = 0;
            if (!SendMessageTimeoutW(MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, AnswerMs, &Answer)) {
                const DWORD Error = GetLastError();
                throw std::runtime_error((Error == ERROR_TIMEOUT
                                              ? "the program did not answer WM_NULL within " +
                                                    std::to_string(AnswerMs) + " ms"
                                              : "WM_NULL: " + SystemErrorText(Error)) +
                                         ", after " + std::to_string(Count) + " answers");
            }
            Longest = std::max(Longest, GetTickCount() - Sent);
            ++Count;
        }
        Out("answered " + std::to_string(Count) + " in " + std::to_string(Longest) +
            " ms at most\n");
    } else if (Command == "suspend" || Command == "end-session") {
        const bool Suspend = Command == "suspend";
        DWORD Process = 0;
        const DWORD Thread = GetWindowThreadProcessId(MainWindow(), &Process);
        // Opened first, so that nothing but the handler lies between its
        // return and what the system then does.
        const HANDLE Target = Suspend ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, Thread)
                                      : OpenProcess(PROCESS_TERMINATE, FALSE, Process);
        if (!Target)
            throw std::runtime_error("cannot open the program: " + SystemErrorText(GetLastError()));
        const DWORD Sent = GetTickCount();
        DWORD_PTR Answer = 0;
        if (!SendMessageTimeoutW(MainWindow(), Suspend ? WM_POWERBROADCAST : WM_ENDSESSION,
                                 Suspend ? PBT_APMSUSPEND : TRUE, 0, SMTO_ABORTIFHUNG,
                                 SendTimeoutMs, &Answer))
            throw std::runtime_error("the program does not answer " + Command);
        const bool Done =
            Suspend ? SuspendThread(Target) != DWORD(-1) : TerminateProcess(Target, 1);
        const DWORD Handled = GetTickCount() - Sent;
        CloseHandle(Target);
        if (!Done)
            throw std::runtime_error(Command + ": " + SystemErrorText(GetLastError()));
        Out("handled in " + std::to_string(Handled) + " ms\n");
    } else if (Command == "resume") {
        const HANDLE Target = OpenThread(THREAD_SUSPEND_RESUME, FALSE,
                                         GetWindowThreadProcessId(MainWindow(), nullptr));
        if (!Target || ResumeThread(Target) == DWORD(-1))
            throw std::runtime_error("resume: " + SystemErrorText(GetLastError()));
        CloseHandle(Target);
    } else {
        throw std::runtime_error("unknown command " + Command);
    }
}

} // namespace

int main() {
    // Rectangles in the screen's own pixels, not scaled to 96 dpi for us.
    SetProcessDPIAware();
    try {
        for (std::string Line; std::getline(std::cin, Line);) {
            const auto Space = Line.find(' ');
            Run(Line.substr(0, Space), Space == std::string::npos ? "" : Line.substr(Space + 1));
        }
        return 0;
    } catch (const std::exception& E) {
        std::cerr << "ormant-uictl: " << E.what() << std::endl;
        return 1;
    }
}
