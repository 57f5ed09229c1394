#include "fmuStandInProps_win.h"

#include "untProtocol.h"
#include "untStandInResource.h"
#include "untWinText.h"

#include <shlobj.h>

#include <exception>
#include <iterator>

namespace {

constexpr const wchar_t* Section = L"General";
// No INI value: a control character that a text editor does not write.
constexpr const wchar_t* Absent = L"\x01";

// A field's text; any valid value is short, and a longer one is refused cut.
std::string ItemText(HWND Dialog, int Id) {
    wchar_t Text[256] = {};
    GetDlgItemTextW(Dialog, Id, Text, std::size(Text));
    return WideToUtf8(Text);
}

void ShowError(HWND Dialog, const std::string& Error) {
    SetDlgItemTextW(Dialog, IDC_ERROR, Utf8ToWide(Error).c_str());
}

TSettingTexts Edited(HWND Dialog, const TSettingTexts& Settings) {
    const LRESULT Index = SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_GETCURSEL, 0, 0);
    return EditedStandInSettings(Settings, ItemText(Dialog, IDC_COMNUMBER),
                                 Index == CB_ERR ? -1 : static_cast<int>(Index),
                                 ItemText(Dialog, IDC_TIMEOUT));
}

// What the dialog edits, and a failure of its procedure for the caller.
struct TDialogState {
    TSettingTexts& Settings;
    std::exception_ptr Failure;
};

INT_PTR HandleProperties(HWND Dialog, UINT Message, WPARAM WParam, TDialogState& State) {
    TSettingTexts& Settings = State.Settings;
    switch (Message) {
    case WM_INITDIALOG: {
        SetDlgItemTextW(Dialog, IDC_COMNUMBER, Utf8ToWide(Settings[dmComNumber]).c_str());
        SetDlgItemTextW(Dialog, IDC_TIMEOUT, Utf8ToWide(Settings[dmTimeout]).c_str());
        for (const uint32_t Rate : BaudRates)
            SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(std::to_wstring(Rate).c_str()));
        const std::string Baudrate = Settings[dmBaudrate];
        // A refused index selects nothing; the line below names it.
        if (StandInSettingError(dmBaudrate, Baudrate).empty())
            SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_SETCURSEL, std::stoi(Baudrate), 0);
        ShowError(Dialog, StandInSettingsError(Settings));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(WParam) == IDOK) {
            const TSettingTexts Texts = Edited(Dialog, Settings);
            const std::string Error = StandInSettingsError(Texts);
            ShowError(Dialog, Error);
            if (Error.empty()) {
                Settings = Texts;
                EndDialog(Dialog, IDOK);
            } else {
                MessageBeep(MB_ICONWARNING);
            }
            return TRUE;
        }
        if (LOWORD(WParam) == IDCANCEL) {
            EndDialog(Dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// No exception may cross into the system's dialog code: a failure ends the
// dialog as cancelled, and the caller raises it.
INT_PTR CALLBACK PropertiesProc(HWND Dialog, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == WM_INITDIALOG)
        SetWindowLongPtrW(Dialog, DWLP_USER, LParam);
    auto* State = reinterpret_cast<TDialogState*>(GetWindowLongPtrW(Dialog, DWLP_USER));
    if (!State)
        return FALSE; // a message before WM_INITDIALOG
    try {
        return HandleProperties(Dialog, Message, WParam, *State);
    } catch (...) {
        State->Failure = std::current_exception();
        EndDialog(Dialog, IDCANCEL);
        return TRUE;
    }
}

// Key's value, or Absent when the file has no such key (its name is
// compared without regard to case). Any valid value is short: a longer one
// is cut, and refused all the same.
std::wstring ProfileString(const wchar_t* Key, const std::wstring& FileName) {
    wchar_t Value[256] = {};
    GetPrivateProfileStringW(Section, Key, Absent, Value, std::size(Value), FileName.c_str());
    return Value;
}

} // namespace

TWinIniSettingsStore::TWinIniSettingsStore(std::wstring FileName)
    : FFileName(std::move(FileName)) {}

std::wstring TWinIniSettingsStore::DefaultFileName() {
    const wchar_t* Name = L"ORMANT_DRIVER_INI";
    std::wstring Env(GetEnvironmentVariableW(Name, nullptr, 0), L'\0');
    Env.resize(GetEnvironmentVariableW(Name, Env.data(), static_cast<DWORD>(Env.size())));
    if (!Env.empty()) {
        // A relative name is the current folder's, not the Windows folder
        // where the profile functions would look for it.
        std::wstring Full(GetFullPathNameW(Env.c_str(), 0, nullptr, nullptr), L'\0');
        if (Full.empty())
            throw std::runtime_error("Неверное имя файла настроек драйвера " + WideToUtf8(Env) +
                                     ": " + SystemErrorText(GetLastError()));
        Full.resize(
            GetFullPathNameW(Env.c_str(), static_cast<DWORD>(Full.size()), Full.data(), nullptr));
        return Full;
    }
    wchar_t AppData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, AppData)))
        throw std::runtime_error("Не найдена папка данных приложений пользователя");
    return std::wstring(AppData) + L"\\Ormant\\driver.ini";
}

TSettingTexts TWinIniSettingsStore::LoadTexts() {
    TSettingTexts Texts;
    for (const char* Key : StandInSettingKeys)
        if (const std::wstring Value = ProfileString(Utf8ToWide(Key).c_str(), FFileName);
            Value != Absent)
            Texts[Key] = WideToUtf8(Value);
    return Texts;
}

void TWinIniSettingsStore::SaveTexts(const TSettingTexts& Texts) {
    // The folder: there already, or the write says why.
    if (const std::size_t Slash = FFileName.find_last_of(L"\\/"); Slash != std::wstring::npos)
        CreateDirectoryW(FFileName.substr(0, Slash).c_str(), nullptr);
    for (const auto& [Key, Text] : Texts)
        if (!WritePrivateProfileStringW(Section, Utf8ToWide(Key).c_str(), Utf8ToWide(Text).c_str(),
                                        FFileName.c_str()))
            throw std::runtime_error("Не удалось сохранить настройки драйвера в " +
                                     WideToUtf8(FFileName) + ": " +
                                     SystemErrorText(GetLastError()));
}

bool ShowStandInPropertiesWin(HINSTANCE Module, HWND Owner, TSettingTexts& Settings) {
    TDialogState State{Settings, nullptr};
    const INT_PTR Result = DialogBoxParamW(Module, MAKEINTRESOURCEW(IDD_STANDIN_PROPS), Owner,
                                           PropertiesProc, reinterpret_cast<LPARAM>(&State));
    if (Result == -1)
        throw std::runtime_error("Не удалось открыть окно свойств драйвера: " +
                                 SystemErrorText(GetLastError()));
    if (State.Failure)
        std::rethrow_exception(State.Failure);
    return Result == IDOK;
}
