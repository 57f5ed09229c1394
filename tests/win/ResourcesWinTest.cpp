// The program's version resource, compiled from app/ormant.rc into this test
// program. Its strings are the port tests' and the stand-in's texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

TEST(Resources, Version) {
    wchar_t Path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, Path, MAX_PATH), 0u);
    std::vector<char> Info(GetFileVersionInfoSizeW(Path, nullptr));
    ASSERT_TRUE(!Info.empty() && GetFileVersionInfoW(Path, 0, Info.size(), Info.data()));
    // The value at Key, as text where it is one; nullptr where there is none.
    const auto Value = [&](const std::wstring& Key) {
        void* Data = nullptr; // left so where there is no value
        UINT Length = 0;
        VerQueryValueW(Info.data(), Key.c_str(), &Data, &Length);
        return static_cast<const wchar_t*>(Data);
    };
    const auto* Fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(Value(L"\\"));
    EXPECT_TRUE(Fixed && Fixed->dwFileVersionMS == 0x00010001 && Fixed->dwFileVersionLS == 0 &&
                Fixed->dwProductVersionMS == 0x00010000 && Fixed->dwProductVersionLS == 0);
    const auto* Translation = reinterpret_cast<const WORD*>(Value(L"\\VarFileInfo\\Translation"));
    EXPECT_TRUE(Translation && Translation[0] == 0x0419 && Translation[1] == 1251);
    const std::wstring Strings = L"\\StringFileInfo\\041904E3\\";
    EXPECT_STREQ(Value(Strings + L"FileDescription"), L"Тест таймаута ФР");
    EXPECT_STREQ(Value(Strings + L"FileVersion"), L"1.1.0.0");
    EXPECT_STREQ(Value(Strings + L"ProductVersion"), L"1.0.0.0");
}
