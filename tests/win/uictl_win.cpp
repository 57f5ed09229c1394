// ormant-uictl: drives the program's main window from another process, for
// the end-to-end tests under Wine. Without arguments it reads its commands
// from the standard input, one word a line, as UTF-8: text on Wine's command
// line goes through the locale's code page, which may have no Cyrillic
// letters. Controls are named as in app/fmuMainControls.h ("Stop" or
// "btnStop").
//   find MS              wait until the main window is there
//   click NAME           post BM_CLICK to a control (returns at once)
//   start MS             click Start and wait until the run has begun
//                        (Start disabled) or already ended (log changed)
//   text NAME            print a control's text
//   wait-text NAME NEEDLE MS   wait until a control's text holds NEEDLE
//   wait-idle MS         wait until Start is enabled and Stop disabled
//   layout DPI           print the caption, the frame's styles and the
//                        focused control; fail unless the client size and
//                        every control's rectangle are the table's scaled
//                        from 96 to DPI (within a pixel)
//   msgbox MS            wait for a message box of the program, print its
//                        caption and text, press its OK
//   close                post WM_CLOSE to the main window
// Output is UTF-8; a failed command says why on stderr and exits with 1.
#include "fmuMainControls.h"
#include "untWinText.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// How long a sent message may wait for the program's thread: it answers
// between 20 ms steps of a probe and after each driver call.
constexpr UINT SendTimeoutMs = 10000;
constexpr DWORD PollMs = 50;

HWND FMain = nullptr;
DWORD FProcessId = 0;

void Write(DWORD Std, const std::string& Text) {
    DWORD Written = 0;
    WriteFile(GetStdHandle(Std), Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
}

std::string ReadInput() {
    std::string Input;
    char Buffer[4096];
    DWORD Read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), Buffer, sizeof Buffer, &Read, nullptr) &&
           Read > 0)
        Input.append(Buffer, Read);
    return Input;
}

HWND MainWindow(DWORD TimeoutMs = 0) {
    if (FMain && IsWindow(FMain))
        return FMain;
    const DWORD Start = GetTickCount();
    // The class, not the caption: a message box of the program has that too.
    while (!(FMain = FindWindowW(L"TfmMain", nullptr))) {
        if (GetTickCount() - Start >= TimeoutMs)
            throw std::runtime_error("no window of class TfmMain");
        Sleep(PollMs);
    }
    GetWindowThreadProcessId(FMain, &FProcessId);
    return FMain;
}

const TControlSpec& Spec(const std::string& Name) {
    if (const TControlSpec* Found = FindControl(Name))
        return *Found;
    throw std::runtime_error("no control named " + Name);
}

HWND Control(TControlId Id) {
    if (HWND Item = GetDlgItem(MainWindow(), Id))
        return Item;
    throw std::runtime_error(std::string("no control ") + ControlSpec(Id).Name);
}

std::wstring WindowText(HWND Window) {
    DWORD_PTR Length = 0, Copied = 0;
    std::wstring Text;
    if (SendMessageTimeoutW(Window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs,
                            &Length)) {
        Text.assign(Length + 1, L'\0');
        if (SendMessageTimeoutW(Window, WM_GETTEXT, Text.size(),
                                reinterpret_cast<LPARAM>(Text.data()), SMTO_ABORTIFHUNG,
                                SendTimeoutMs, &Copied)) {
            Text.resize(Copied);
            return Text;
        }
    }
    throw std::runtime_error("the program does not answer WM_GETTEXT");
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

BOOL CALLBACK FindBox(HWND Window, LPARAM Found) {
    DWORD Owner = 0;
    GetWindowThreadProcessId(Window, &Owner);
    wchar_t Class[16] = {};
    GetClassNameW(Window, Class, 16);
    if (Owner != FProcessId || !IsWindowVisible(Window) || std::wstring(Class) != L"#32770")
        return TRUE;
    *reinterpret_cast<HWND*>(Found) = Window;
    return FALSE;
}

BOOL CALLBACK AddStatic(HWND Window, LPARAM Out) {
    wchar_t Class[16] = {};
    GetClassNameW(Window, Class, 16);
    if (_wcsicmp(Class, L"Static") == 0) {
        const std::wstring Text = WindowText(Window);
        if (!Text.empty())
            *reinterpret_cast<std::string*>(Out) += "text " + Shown(Text);
    }
    return TRUE;
}

void MessageBoxCommand(DWORD TimeoutMs) {
    MainWindow();
    HWND Box = nullptr;
    WaitFor(TimeoutMs, "a message box", [&] {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&Box));
        return Box != nullptr;
    });
    std::string Out = "caption " + Shown(WindowText(Box));
    EnumChildWindows(Box, AddStatic, reinterpret_cast<LPARAM>(&Out));
    Write(STD_OUTPUT_HANDLE, Out);
    PostMessageW(Box, WM_COMMAND, IDOK, 0);
}

void Layout(int Dpi) {
    HWND Main = MainWindow();
    const LONG_PTR Style = GetWindowLongPtrW(Main, GWL_STYLE);
    const auto Has = [&](LONG_PTR Bits) { return (Style & Bits) == Bits ? "1" : "0"; };
    GUITHREADINFO Gui{};
    Gui.cbSize = sizeof Gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &Gui);
    const TControlSpec* Focused = nullptr;
    for (const TControlSpec& C : Controls)
        if (Gui.hwndFocus && GetDlgCtrlID(Gui.hwndFocus) == C.Id)
            Focused = &C;
    Write(STD_OUTPUT_HANDLE, "caption " + Shown(WindowText(Main)) + "sysmenu " + Has(WS_SYSMENU) +
                                 " minimize " + Has(WS_MINIMIZEBOX) + " maximize " +
                                 Has(WS_MAXIMIZEBOX) + " sizable " + Has(WS_THICKFRAME) +
                                 "\nfocus " + (Focused ? Focused->Name : "none") + "\n");

    std::string Wrong;
    const auto Check = [&](const std::string& Name, RECT Found, int Left, int Top, int Width,
                           int Height) {
        const int Want[] = {Left, Top, Width, Height};
        const int Got[] = {int(Found.left), int(Found.top), int(Found.right - Found.left),
                           int(Found.bottom - Found.top)};
        bool Fits = true;
        std::string Line = Name;
        for (int I = 0; I < 4; ++I) {
            const int Scaled = MulDiv(Want[I], Dpi, 96);
            Fits = Fits && std::abs(Got[I] - Scaled) <= 1;
            Line += ' ';
            Line += std::to_string(Got[I]);
            Line += '/';
            Line += std::to_string(Scaled);
        }
        if (!Fits)
            Wrong += Line + "\n";
    };
    RECT Client{};
    GetClientRect(Main, &Client);
    Check("client", Client, 0, 0, ClientWidth, ClientHeight);
    for (const TControlSpec& C : Controls) {
        RECT R{};
        GetWindowRect(Control(C.Id), &R);
        MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&R), 2);
        Check(C.Name, R, C.Left, C.Top, C.Width, C.Height);
    }
    if (!Wrong.empty())
        throw std::runtime_error("at " + std::to_string(Dpi) +
                                 " dpi, left top width height found/expected:\n" + Wrong);
}

void Run(const std::vector<std::string>& Args) {
    for (size_t I = 0; I < Args.size();) {
        const std::string& Command = Args[I++];
        const auto Next = [&]() -> const std::string& {
            if (I >= Args.size())
                throw std::runtime_error(Command + ": an argument is missing");
            return Args[I++];
        };
        const auto Number = [&] { return static_cast<DWORD>(std::stoul(Next())); };
        const auto Named = [&] { return Control(Spec(Next()).Id); };
        if (Command == "find") {
            MainWindow(Number());
        } else if (Command == "click") {
            PostMessageW(Named(), BM_CLICK, 0, 0);
        } else if (Command == "start") {
            // A sent WM_GETTEXT is answered before a posted click is handled,
            // so without this a wait could see the last run's log.
            HWND Start = Control(ciStart), Memo = Control(ciMemo);
            const std::wstring Before = WindowText(Memo);
            PostMessageW(Start, BM_CLICK, 0, 0);
            WaitFor(Number(), "the run to begin",
                    [&] { return !IsWindowEnabled(Start) || WindowText(Memo) != Before; });
        } else if (Command == "text") {
            Write(STD_OUTPUT_HANDLE, Shown(WindowText(Named())));
        } else if (Command == "wait-text") {
            HWND Item = Named();
            const std::string Needle = Next();
            std::wstring Text;
            try {
                WaitFor(Number(), "\"" + Needle + "\"", [&] {
                    Text = WindowText(Item);
                    return Text.find(Utf8ToWide(Needle)) != std::wstring::npos;
                });
            } catch (const std::runtime_error& E) {
                throw std::runtime_error(std::string(E.what()) + "; the text is:\n" + Shown(Text));
            }
        } else if (Command == "wait-idle") {
            HWND Start = Control(ciStart), Stop = Control(ciStop);
            WaitFor(Number(), "Start enabled and Stop disabled",
                    [&] { return IsWindowEnabled(Start) && !IsWindowEnabled(Stop); });
        } else if (Command == "layout") {
            Layout(static_cast<int>(Number()));
        } else if (Command == "msgbox") {
            MessageBoxCommand(Number());
        } else if (Command == "close") {
            PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
        } else {
            throw std::runtime_error("unknown command " + Command);
        }
    }
}

} // namespace

int main() {
    // Rectangles in the screen's own pixels, not scaled to 96 dpi for us.
    SetProcessDPIAware();
    int Argc = 0;
    wchar_t** Argv = CommandLineToArgvW(GetCommandLineW(), &Argc);
    std::vector<std::string> Args;
    for (int I = 1; I < Argc; ++I)
        Args.push_back(WideToUtf8(Argv[I]));
    LocalFree(Argv);
    const std::string Input = Argc > 1 ? std::string() : ReadInput();
    for (size_t From = 0, To; From < Input.size(); From = To + 1) {
        To = Input.find('\n', From);
        if (To == std::string::npos)
            To = Input.size();
        Args.push_back(Input.substr(From, To - From));
    }
    try {
        Run(Args);
        return 0;
    } catch (const std::exception& E) {
        Write(STD_ERROR_HANDLE, std::string("ormant-uictl: ") + E.what() + "\n");
        return 1;
    }
}
