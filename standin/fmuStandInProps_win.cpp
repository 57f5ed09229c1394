#include "fmuStandInProps_win.h"

#include "untProtocol.h"
#include "untStandInResource.h"
#include "untWinText.h"

#include <shlobj.h>

#include <cwchar>

namespace {

constexpr const wchar_t* Section = L"General";

std::wstring EnvironmentVariable(const wchar_t* Name) {
    std::wstring Value(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Length =
            GetEnvironmentVariableW(Name, Value.data(), static_cast<DWORD>(Value.size()));
        if (Length < Value.size()) {
            Value.resize(Length);
            return Value;
        }
        Value.resize(Length);
    }
}

std::wstring FolderOf(const std::wstring& FileName) {
    const std::size_t Slash = FileName.find_last_of(L"\\/");
    return Slash == std::wstring::npos ? std::wstring() : FileName.substr(0, Slash);
}

std::wstring ItemText(HWND Dialog, int Id) {
    const HWND Item = GetDlgItem(Dialog, Id);
    std::wstring Text(static_cast<std::size_t>(GetWindowTextLengthW(Item)) + 1, L'\0');
    Text.resize(
        static_cast<std::size_t>(GetWindowTextW(Item, Text.data(), static_cast<int>(Text.size()))));
    return Text;
}

void ShowError(HWND Dialog, const std::string& Error) {
    SetDlgItemTextW(Dialog, IDC_ERROR, Utf8ToWide(Error).c_str());
}

TSettingTexts Edited(HWND Dialog, const TSettingTexts& Settings) {
    const LRESULT Index = SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_GETCURSEL, 0, 0);
    return EditedStandInSettings(Settings, WideToUtf8(ItemText(Dialog, IDC_COMNUMBER)),
                                 Index == CB_ERR ? -1 : static_cast<int>(Index),
                                 WideToUtf8(ItemText(Dialog, IDC_TIMEOUT)));
}

INT_PTR CALLBACK PropertiesProc(HWND Dialog, UINT Message, WPARAM WParam, LPARAM LParam) {
    auto* Settings = reinterpret_cast<TSettingTexts*>(GetWindowLongPtrW(Dialog, DWLP_USER));
    switch (Message) {
    case WM_INITDIALOG: {
        Settings = reinterpret_cast<TSettingTexts*>(LParam);
        SetWindowLongPtrW(Dialog, DWLP_USER, LParam);
        SetDlgItemTextW(Dialog, IDC_COMNUMBER, Utf8ToWide((*Settings)[skComNumber]).c_str());
        SetDlgItemTextW(Dialog, IDC_TIMEOUT, Utf8ToWide((*Settings)[skTimeout]).c_str());
        for (const uint32_t Rate : BaudRates)
            SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(std::to_wstring(Rate).c_str()));
        const std::string Baudrate = (*Settings)[skBaudrate];
        // A refused index selects nothing; the line below names it.
        if (StandInSettingError(skBaudrate, Baudrate).empty())
            SendDlgItemMessageW(Dialog, IDC_BAUDRATE, CB_SETCURSEL, std::stoi(Baudrate), 0);
        ShowError(Dialog, StandInSettingsError(*Settings));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(WParam) == IDOK) {
            const TSettingTexts Texts = Edited(Dialog, *Settings);
            const std::string Error = StandInSettingsError(Texts);
            ShowError(Dialog, Error);
            if (!Error.empty()) {
                MessageBeep(MB_ICONWARNING);
                return TRUE;
            }
            *Settings = Texts;
            EndDialog(Dialog, IDOK);
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

// Key's value, or with no Key the section's keys, each ended by a NUL. Too
// small a buffer shows as a length of its size less one (less two for the
// list of keys).
std::wstring ProfileString(const wchar_t* Key, const std::wstring& FileName) {
    std::wstring Value(64, L'\0');
    for (;;) {
        const DWORD Length = GetPrivateProfileStringW(
            Section, Key, L"", Value.data(), static_cast<DWORD>(Value.size()), FileName.c_str());
        if (Length + 2 < Value.size()) {
            Value.resize(Length);
            return Value;
        }
        Value.resize(Value.size() * 2);
    }
}

} // namespace

TWinIniSettingsStore::TWinIniSettingsStore(std::wstring FileName)
    : FFileName(std::move(FileName)) {}

std::wstring TWinIniSettingsStore::DefaultFileName() {
    // A relative name is the current folder's, not the Windows folder where
    // the profile functions would look for it.
    if (const std::wstring Env = EnvironmentVariable(L"ORMANT_DRIVER_INI"); !Env.empty()) {
        std::wstring Full(MAX_PATH, L'\0');
        for (;;) {
            const DWORD Length = GetFullPathNameW(Env.c_str(), static_cast<DWORD>(Full.size()),
                                                  Full.data(), nullptr);
            if (Length == 0)
                throw std::runtime_error("Неверное имя файла настроек драйвера " + WideToUtf8(Env) +
                                         ": " + SystemErrorText(GetLastError()));
            if (Length < Full.size()) {
                Full.resize(Length);
                return Full;
            }
            Full.resize(Length);
        }
    }
    wchar_t AppData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, AppData)))
        throw std::runtime_error("Не найдена папка данных приложений пользователя");
    return std::wstring(AppData) + L"\\Ormant\\driver.ini";
}

TSettingTexts TWinIniSettingsStore::LoadTexts() {
    // A key is present when the section lists it, an empty value too; its
    // name as Windows compares them, without regard to case.
    const std::wstring Keys = ProfileString(nullptr, FFileName);
    const auto Present = [&](const std::wstring& Key) {
        for (std::size_t At = 0; At < Keys.size(); At += wcslen(Keys.c_str() + At) + 1)
            if (CompareStringOrdinal(Keys.c_str() + At, -1, Key.c_str(), -1, TRUE) == CSTR_EQUAL)
                return true;
        return false;
    };
    TSettingTexts Texts;
    for (const char* Key : StandInSettingKeys)
        if (const std::wstring WideKey = Utf8ToWide(Key); Present(WideKey))
            Texts[Key] = WideToUtf8(ProfileString(WideKey.c_str(), FFileName));
    return Texts;
}

void TWinIniSettingsStore::SaveTexts(const TSettingTexts& Texts) {
    if (const std::wstring Folder = FolderOf(FFileName); !Folder.empty())
        CreateDirectoryW(Folder.c_str(), nullptr); // there already, or the write says why
    for (const auto& [Key, Text] : Texts)
        if (!WritePrivateProfileStringW(Section, Utf8ToWide(Key).c_str(), Utf8ToWide(Text).c_str(),
                                        FFileName.c_str()))
            throw std::runtime_error("Не удалось сохранить настройки драйвера в " +
                                     WideToUtf8(FFileName) + ": " +
                                     SystemErrorText(GetLastError()));
}

bool ShowStandInPropertiesWin(HINSTANCE Module, HWND Owner, TSettingTexts& Settings) {
    const INT_PTR Result = DialogBoxParamW(Module, MAKEINTRESOURCEW(IDD_STANDIN_PROPS), Owner,
                                           PropertiesProc, reinterpret_cast<LPARAM>(&Settings));
    if (Result == -1)
        throw std::runtime_error("Не удалось открыть окно свойств драйвера: " +
                                 SystemErrorText(GetLastError()));
    return Result == IDOK;
}
