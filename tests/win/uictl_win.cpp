// ormant-uictl: drives the program's main window from another process, for
// the end-to-end tests under Wine. Commands run in order; each finds the main
// window by its class (a message box of the program has the same caption):
//   find TIMEOUT_MS            wait until the main window is there
//   click ID                   post BM_CLICK to a control (returns at once)
//   start MS                   click Start and wait until the run has begun
//                              (Start disabled) or already ended (log changed)
//   text ID                    print a control's text
//   wait-text ID NEEDLE MS     wait until a control's text holds NEEDLE
//   wait-idle MS               wait until Start is enabled and Stop disabled
//   layout                     print the caption, the frame's styles, the
//                              client size, every control's rectangle in
//                              client coordinates and the focused control
//   msgbox MS                  wait for a message box of the program, print
//                              its caption and text, press its OK
//   close                      post WM_CLOSE to the main window
//   wait-exit MS               wait until the program has ended
// Output is UTF-8; a failed command says why on stderr and exits with 1.
#include "untWinText.h"

#include <windows.h>

#include <shellapi.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr wchar_t MainClass[] = L"TfmMain";
constexpr int MemoId = 100, btnStartId = 102, btnStopId = 103;
constexpr int ControlIds[] = {100, 101, 102, 103, 104, 105, 106};
// How long a sent message may wait for the program's thread: it answers
// between 20 ms steps of a probe and after each driver call.
constexpr UINT SendTimeoutMs = 10000;
constexpr DWORD PollMs = 50;

HWND FMain = nullptr;
HANDLE FProcess = nullptr;
DWORD FProcessId = 0;

void Write(HANDLE Handle, const std::string& Text) {
    DWORD Written = 0;
    WriteFile(Handle, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
}

void Print(const std::string& Text) {
    Write(GetStdHandle(STD_OUTPUT_HANDLE), Text);
}

// Finds the main window, waiting up to TimeoutMs; keeps its process open so
// the process can be waited for after the window is gone.
HWND MainWindow(DWORD TimeoutMs = 0) {
    if (FMain && IsWindow(FMain))
        return FMain;
    const DWORD Start = GetTickCount();
    for (;;) {
        if (HWND Found = FindWindowW(MainClass, nullptr)) {
            FMain = Found;
            GetWindowThreadProcessId(Found, &FProcessId);
            if (!FProcess)
                FProcess = OpenProcess(SYNCHRONIZE, FALSE, FProcessId);
            return FMain;
        }
        if (GetTickCount() - Start >= TimeoutMs)
            throw std::runtime_error("no window of class TfmMain");
        Sleep(PollMs);
    }
}

HWND Control(int Id) {
    HWND Item = GetDlgItem(MainWindow(), Id);
    if (!Item)
        throw std::runtime_error("no control " + std::to_string(Id));
    return Item;
}

std::wstring WindowText(HWND Window) {
    DWORD_PTR Length = 0;
    if (!SendMessageTimeoutW(Window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs,
                             &Length))
        throw std::runtime_error("the program does not answer WM_GETTEXTLENGTH");
    std::wstring Text(Length + 1, L'\0');
    DWORD_PTR Copied = 0;
    if (!SendMessageTimeoutW(Window, WM_GETTEXT, Text.size(), reinterpret_cast<LPARAM>(Text.data()),
                             SMTO_ABORTIFHUNG, SendTimeoutMs, &Copied))
        throw std::runtime_error("the program does not answer WM_GETTEXT");
    Text.resize(Copied);
    return Text;
}

// The text as UTF-8 with the edit control's CR LF turned into LF.
std::string Shown(const std::wstring& Text) {
    std::string Result;
    for (char C : WideToUtf8(Text))
        if (C != '\r')
            Result += C;
    if (!Result.empty() && Result.back() != '\n')
        Result += '\n';
    return Result;
}

void WaitFor(DWORD TimeoutMs, const std::string& What, auto Done) {
    const DWORD Start = GetTickCount();
    while (!Done()) {
        if (GetTickCount() - Start >= TimeoutMs)
            throw std::runtime_error("timed out after " + std::to_string(TimeoutMs) +
                                     " ms waiting for " + What);
        Sleep(PollMs);
    }
}

struct TBoxSearch {
    DWORD ProcessId;
    HWND Box;
};

BOOL CALLBACK FindBox(HWND Window, LPARAM Param) {
    auto& Search = *reinterpret_cast<TBoxSearch*>(Param);
    DWORD Owner = 0;
    GetWindowThreadProcessId(Window, &Owner);
    wchar_t Class[16] = {};
    GetClassNameW(Window, Class, 16);
    if (Owner == Search.ProcessId && IsWindowVisible(Window) && std::wstring(Class) == L"#32770") {
        Search.Box = Window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStatic(HWND Window, LPARAM Param) {
    wchar_t Class[16] = {};
    GetClassNameW(Window, Class, 16);
    if (_wcsicmp(Class, L"Static") == 0)
        reinterpret_cast<std::vector<HWND>*>(Param)->push_back(Window);
    return TRUE;
}

// Prints the message box's caption and text, then presses OK.
void MessageBoxCommand(DWORD TimeoutMs) {
    TBoxSearch Search{};
    MainWindow();
    Search.ProcessId = FProcessId;
    WaitFor(TimeoutMs, "a message box", [&] {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&Search));
        return Search.Box != nullptr;
    });
    std::string Out = "caption " + Shown(WindowText(Search.Box));
    std::vector<HWND> Statics;
    EnumChildWindows(Search.Box, CollectStatic, reinterpret_cast<LPARAM>(&Statics));
    for (HWND Static : Statics) {
        const std::wstring Text = WindowText(Static);
        if (!Text.empty())
            Out += "text " + Shown(Text);
    }
    Print(Out);
    PostMessageW(Search.Box, WM_COMMAND, IDOK, 0);
}

void Layout() {
    HWND Main = MainWindow();
    RECT Client{};
    GetClientRect(Main, &Client);
    const LONG_PTR Style = GetWindowLongPtrW(Main, GWL_STYLE);
    const auto Has = [&](LONG_PTR Bits) { return (Style & Bits) == Bits ? "1" : "0"; };
    std::string Out = "caption " + Shown(WindowText(Main)) + "sysmenu " + Has(WS_SYSMENU) +
                      " minimize " + Has(WS_MINIMIZEBOX) + " maximize " + Has(WS_MAXIMIZEBOX) +
                      " sizable " + Has(WS_THICKFRAME) + "\n";
    Out += "client " + std::to_string(Client.right) + " " + std::to_string(Client.bottom) + "\n";
    for (int Id : ControlIds) {
        RECT R{};
        GetWindowRect(Control(Id), &R);
        MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&R), 2);
        Out += std::to_string(Id) + " " + std::to_string(R.left) + " " + std::to_string(R.top) +
               " " + std::to_string(R.right - R.left) + " " + std::to_string(R.bottom - R.top) +
               "\n";
    }
    GUITHREADINFO Gui{};
    Gui.cbSize = sizeof Gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &Gui);
    Out += "focus " + std::to_string(Gui.hwndFocus ? GetDlgCtrlID(Gui.hwndFocus) : 0) + "\n";
    Print(Out);
}

DWORD Number(const std::wstring& Arg) {
    return static_cast<DWORD>(std::stoul(Arg));
}

void Run(const std::vector<std::wstring>& Args) {
    for (size_t I = 0; I < Args.size();) {
        const std::wstring& Command = Args[I++];
        // The command's next argument.
        const auto Next = [&]() -> const std::wstring& {
            if (I >= Args.size())
                throw std::runtime_error(WideToUtf8(Command) + ": an argument is missing");
            return Args[I++];
        };
        if (Command == L"find") {
            MainWindow(Number(Next()));
        } else if (Command == L"click") {
            PostMessageW(Control(static_cast<int>(Number(Next()))), BM_CLICK, 0, 0);
        } else if (Command == L"start") {
            // A sent WM_GETTEXT is answered before a posted click is handled,
            // so without this a wait could see the last run's log.
            HWND Start = Control(btnStartId), Memo = Control(MemoId);
            const std::wstring Before = WindowText(Memo);
            PostMessageW(Start, BM_CLICK, 0, 0);
            WaitFor(Number(Next()), "the run to begin",
                    [&] { return !IsWindowEnabled(Start) || WindowText(Memo) != Before; });
        } else if (Command == L"text") {
            Print(Shown(WindowText(Control(static_cast<int>(Number(Next()))))));
        } else if (Command == L"wait-text") {
            HWND Item = Control(static_cast<int>(Number(Next())));
            const std::wstring Needle = Next();
            std::wstring Text;
            try {
                WaitFor(Number(Next()), "\"" + WideToUtf8(Needle) + "\"", [&] {
                    Text = WindowText(Item);
                    return Text.find(Needle) != std::wstring::npos;
                });
            } catch (const std::runtime_error& E) {
                throw std::runtime_error(std::string(E.what()) + "; the text is:\n" + Shown(Text));
            }
        } else if (Command == L"wait-idle") {
            HWND Start = Control(btnStartId), Stop = Control(btnStopId);
            WaitFor(Number(Next()), "Start enabled and Stop disabled",
                    [&] { return IsWindowEnabled(Start) && !IsWindowEnabled(Stop); });
        } else if (Command == L"layout") {
            Layout();
        } else if (Command == L"msgbox") {
            MessageBoxCommand(Number(Next()));
        } else if (Command == L"close") {
            PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
        } else if (Command == L"wait-exit") {
            MainWindow();
            const DWORD TimeoutMs = Number(Next());
            if (!FProcess || WaitForSingleObject(FProcess, TimeoutMs) != WAIT_OBJECT_0)
                throw std::runtime_error("the program did not end within " +
                                         std::to_string(TimeoutMs) + " ms");
        } else {
            throw std::runtime_error("unknown command " + WideToUtf8(Command));
        }
    }
}

} // namespace

int main() {
    int Count = 0;
    wchar_t** Argv = CommandLineToArgvW(GetCommandLineW(), &Count);
    std::vector<std::wstring> Args(Argv + (Count > 0 ? 1 : 0), Argv + Count);
    LocalFree(Argv);
    try {
        Run(Args);
        return 0;
    } catch (const std::exception& E) {
        Write(GetStdHandle(STD_ERROR_HANDLE), std::string("ormant-uictl: ") + E.what() + "\n");
        return 1;
    }
}
