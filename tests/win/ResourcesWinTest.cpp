// The program's resources, compiled from app/ormant.rc into this test program.
#include "untError.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace {

std::string Utf8(const wchar_t* Text) {
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, -1, nullptr, 0, nullptr, nullptr);
    std::string Result(Size > 0 ? Size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text, -1, Result.data(), Size, nullptr, nullptr);
    return Result;
}

class ResourcesVersion : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t Path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, Path, MAX_PATH), 0u);
        DWORD Ignored = 0;
        const DWORD Size = GetFileVersionInfoSizeW(Path, &Ignored);
        ASSERT_GT(Size, 0u) << "no VERSIONINFO";
        Info.resize(Size);
        ASSERT_TRUE(GetFileVersionInfoW(Path, 0, Size, Info.data()));
    }

    std::string Value(const wchar_t* Name) {
        std::wstring Key = L"\\StringFileInfo\\041904E3\\";
        Key += Name;
        wchar_t* Text = nullptr;
        UINT Length = 0;
        if (!VerQueryValueW(Info.data(), Key.c_str(), reinterpret_cast<void**>(&Text), &Length))
            return "<missing>";
        return Utf8(Text);
    }

    std::vector<char> Info;
};

} // namespace

TEST(ResourcesStrings, MatchTheTextsOfTheCode) {
    EXPECT_EQ(LoadResString(IDS_NO_LINK), TEXT_NO_LINK);
    EXPECT_EQ(LoadResString(IDS_PORT_NOT_AVAILABLE), TEXT_PORT_NOT_AVAILABLE);
    EXPECT_EQ(LoadResString(IDS_PORT_BUSY), TEXT_PORT_BUSY);
    EXPECT_THROW(LoadResString(IDS_NO_LINK - 1), std::runtime_error);
}

TEST_F(ResourcesVersion, NumbersAndTexts) {
    VS_FIXEDFILEINFO* Fixed = nullptr;
    UINT Length = 0;
    ASSERT_TRUE(VerQueryValueW(Info.data(), L"\\", reinterpret_cast<void**>(&Fixed), &Length));
    EXPECT_EQ(Fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(Fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(Fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(Fixed->dwProductVersionLS, 0u);

    EXPECT_EQ(Value(L"FileDescription"), "Тест таймаута ФР");
    EXPECT_EQ(Value(L"FileVersion"), "1.1.0.0");
    EXPECT_EQ(Value(L"ProductVersion"), "1.0.0.0");

    WORD* Translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(Info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&Translation), &Length));
    ASSERT_GE(Length, 4u);
    EXPECT_EQ(Translation[0], 0x0419);
    EXPECT_EQ(Translation[1], 1251);
}
