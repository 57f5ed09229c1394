// The stand-in driver DLL through OLE, as the program reaches it: registered
// for the test, created from "Addin.Ormant", its settings in an INI file of
// the test's own (ORMANT_DRIVER_INI). It registers the DLL for its run and
// removes it after, so it must not run beside tests that rely on the same
// registration.
#include "../support/Failure.h"
#include "untAutomation.h"
#include "untWinText.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <filesystem>
#include <fstream>
#include <process.h>

namespace {

// The file that a variable of the environment names, from where the test
// starts; "" when unset.
std::wstring PathFromEnvironment(const wchar_t* Name) {
    wchar_t Value[MAX_PATH] = {}, Full[MAX_PATH] = {};
    if (GetEnvironmentVariableW(Name, Value, MAX_PATH) == 0 ||
        GetFullPathNameW(Value, MAX_PATH, Full, nullptr) == 0)
        return {};
    return Full;
}

// The other bitness's regsvr32 on Dll, as an operator registers that DLL;
// its exit code.
intptr_t OtherRegSvr32(const std::wstring& Dll, bool Unregister) {
    wchar_t Folder[MAX_PATH] = {};
    if (sizeof(void*) == 8)
        GetSystemWow64DirectoryW(Folder, MAX_PATH);
    else
        GetWindowsDirectoryW(Folder, MAX_PATH);
    const std::wstring Exe =
        Folder + std::wstring(sizeof(void*) == 8 ? L"" : L"\\Sysnative") + L"\\regsvr32.exe";
    return Unregister
               ? _wspawnl(_P_WAIT, Exe.c_str(), L"regsvr32", L"/s", L"/u", Dll.c_str(), nullptr)
               : _wspawnl(_P_WAIT, Exe.c_str(), L"regsvr32", L"/s", Dll.c_str(), nullptr);
}

class StandInServer : public ::testing::Test {
protected:
    void SetUp() override {
        // Before the current folder changes below.
        OtherDll = PathFromEnvironment(L"ORMANT_STANDIN_DLL_OTHER");
        const std::wstring Path = PathFromEnvironment(L"ORMANT_STANDIN_DLL");
        Dll = LoadLibraryW(Path.c_str());
        ASSERT_NE(Dll, nullptr) << "no stand-in DLL at ORMANT_STANDIN_DLL=" << WideToUtf8(Path);
        ASSERT_EQ(Call("DllRegisterServer"), S_OK);
        wchar_t Temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, Temp);
        GetCurrentDirectoryW(MAX_PATH, Folder);
        // A relative name: the current folder's, not the Windows folder.
        SetCurrentDirectoryW(Temp);
        const std::wstring Name =
            L"ormant-standin-test-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
        Ini = Temp + Name;
        SetEnvironmentVariableW(L"ORMANT_DRIVER_INI", Name.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ORMANT_DRIVER_INI", nullptr);
        SetCurrentDirectoryW(Folder);
        DeleteFileW(Ini.c_str());
        if (Dll) {
            // Not left registered: other tests see the prefix without it.
            EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
            FreeLibrary(Dll);
        }
    }
    HRESULT Call(const char* Entry) {
        // Through void(*)(), the type that casts to any function type.
        const auto Function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(Dll, Entry)));
        return Function ? Function() : E_NOTIMPL;
    }
    // Keys as an operator may spell them; the timeout's line as given.
    void WriteIni(const std::string& TimeoutLine) {
        std::ofstream(std::filesystem::path(Ini), std::ios::binary)
            << "[General]\r\ncomNumber=255\r\nBaudrate=6\r\n" + TimeoutLine;
    }

    TAutomationScope Scope;
    HMODULE Dll = nullptr;
    wchar_t Folder[MAX_PATH] = {};
    std::wstring Ini;
    std::wstring OtherDll; // the other bitness's, ORMANT_STANDIN_DLL_OTHER
};

TEST_F(StandInServer, ReadsTheIniAndRefusesBadValues) {
    WriteIni(""); // the timeout's default
    {
        TAutoObject Driver = TAutoObject::Create("Addin.Ormant");
        EXPECT_EQ(Driver.Get("Timeout").AsInt32(), 150);
        EXPECT_EQ(Driver.Get("baudrate").AsInt32(), 6); // names as automation has them
        EXPECT_EQ(Driver.Get("ComNumber").AsInt32(), 255);
        // The port's text from the DLL's own string table, whatever the host.
        EXPECT_EQ(Driver.Get("Connect").AsInt32(), -2);
        EXPECT_EQ(Driver.Get("ResultCodeDescription").AsString(), "СOM порт не доступен");
        Driver.Put("Timeout", 100000);
        EXPECT_EQ(Driver.Get("Timeout").AsInt32(), 100000);
        EXPECT_EQ(Driver.Get("Disconnect").AsInt32(), 0);
        EXPECT_THROW(Driver.Get("Beep"), EOleError);
    }
    WriteIni("Timeout=abc\r\n");
    TAutoObject Driver = TAutoObject::Create("Addin.Ormant");
    const std::string Refusal =
        "Неверная настройка драйвера Timeout=\"abc\": допустимо целое число от 0 до 2147483647";
    const auto E = FailureOf<EOleError>([&] { Driver.Get("Timeout"); });
    EXPECT_EQ(E.Result, hrException);
    EXPECT_EQ(std::string(E.what()).rfind(Refusal, 0), 0u) << E.what();
    EXPECT_EQ(Driver.Get("SetExchangeParam").AsInt32(), -6);
    EXPECT_EQ(Driver.Get("ResultCodeDescription").AsString(), Refusal);
}

// Neither written into nor removed: an "Addin.Ormant" that does not name our
// class, here one with only a CurVer, in the user's classes.
TEST_F(StandInServer, LeavesAForeignIdentifierAlone) {
    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    const wchar_t* Foreign = L"Software\\Classes\\Addin.Ormant\\CurVer";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, Foreign, nullptr, REG_SZ, L"Addin.Ormant.1",
                              sizeof L"Addin.Ormant.1"),
              ERROR_SUCCESS);
    EXPECT_EQ(Call("DllRegisterServer"), SELFREG_E_CLASS);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    HKEY Key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Foreign, 0, KEY_READ, &Key), ERROR_SUCCESS);
    RegCloseKey(Key);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Addin.Ormant"), ERROR_SUCCESS);
}

// Both bitnesses registered, each by its own regsvr32: unregistering one
// leaves "Addin.Ormant" to the other, and the last one takes it along.
TEST_F(StandInServer, EachBitnessRegistrationStandsAlone) {
    ASSERT_FALSE(OtherDll.empty()) << "ORMANT_STANDIN_DLL_OTHER names no DLL of the other bitness";
    CLSID Clsid{};
    ASSERT_EQ(OtherRegSvr32(OtherDll, false), 0) << WideToUtf8(OtherDll);
    ASSERT_EQ(OtherRegSvr32(OtherDll, true), 0);
    EXPECT_NO_THROW(TAutoObject::Create("Addin.Ormant"));
    ASSERT_EQ(OtherRegSvr32(OtherDll, false), 0);
    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(CLSIDFromProgID(L"Addin.Ormant", &Clsid), S_OK);
    ASSERT_EQ(OtherRegSvr32(OtherDll, true), 0);
    EXPECT_EQ(CLSIDFromProgID(L"Addin.Ormant", &Clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(Call("DllRegisterServer"), S_OK); // as TearDown expects it
}

} // namespace
