// The program's resources, compiled from app/ormant.rc into this test program.
#include "untError.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

TEST(Resources, StringsAndVersion) {
    EXPECT_EQ(LoadResString(IDS_NO_LINK), TEXT_NO_LINK);
    EXPECT_EQ(LoadResString(IDS_PORT_NOT_AVAILABLE), TEXT_PORT_NOT_AVAILABLE);
    EXPECT_EQ(LoadResString(IDS_PORT_BUSY), TEXT_PORT_BUSY);

    wchar_t Path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, Path, MAX_PATH), 0u);
    std::vector<char> Info(GetFileVersionInfoSizeW(Path, nullptr));
    ASSERT_TRUE(!Info.empty() && GetFileVersionInfoW(Path, 0, Info.size(), Info.data()));
    // The value at Key.
    const auto Value = [&](const wchar_t* Key) {
        void* Data = nullptr;
        UINT Length = 0;
        EXPECT_TRUE(VerQueryValueW(Info.data(), Key, &Data, &Length)) << Key;
        return Data;
    };
    const auto* Fixed = static_cast<const VS_FIXEDFILEINFO*>(Value(L"\\"));
    EXPECT_TRUE(Fixed && Fixed->dwFileVersionMS == 0x00010001 && Fixed->dwFileVersionLS == 0 &&
                Fixed->dwProductVersionMS == 0x00010000 && Fixed->dwProductVersionLS == 0);
    const auto Text = [&](const std::wstring& Name) {
        return static_cast<const wchar_t*>(Value((L"\\StringFileInfo\\041904E3\\" + Name).c_str()));
    };
    EXPECT_STREQ(Text(L"FileDescription"), L"Тест таймаута ФР");
    EXPECT_STREQ(Text(L"FileVersion"), L"1.1.0.0");
    EXPECT_STREQ(Text(L"ProductVersion"), L"1.0.0.0");
    const auto* Translation = static_cast<const WORD*>(Value(L"\\VarFileInfo\\Translation"));
    EXPECT_TRUE(Translation && Translation[0] == 0x0419 && Translation[1] == 1251);
}
