#include "untWinText.h"

std::string WideToUtf8(const wchar_t* Text, int Length) {
    if (!Text || Length <= 0)
        return {};
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
    std::string Result(Size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text, Length, Result.data(), Size, nullptr, nullptr);
    return Result;
}

std::string WideToUtf8(const std::wstring& Text) {
    return WideToUtf8(Text.data(), static_cast<int>(Text.size()));
}

std::wstring Utf8ToWide(const std::string& Text) {
    if (Text.empty())
        return {};
    const int Length = static_cast<int>(Text.size());
    const int Size = MultiByteToWideChar(CP_UTF8, 0, Text.data(), Length, nullptr, 0);
    std::wstring Result(Size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Text.data(), Length, Result.data(), Size);
    return Result;
}

std::string SystemErrorText(DWORD Code) {
    wchar_t* Buffer = nullptr;
    const DWORD Length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    std::string Text = WideToUtf8(Buffer, static_cast<int>(Length));
    LocalFree(Buffer);
    const auto End = Text.find_last_not_of(" \t\r\n");
    Text.erase(End == std::string::npos ? 0 : End + 1);
    return Text;
}
