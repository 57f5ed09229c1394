// The stand-in driver DLL through OLE, as the program reaches it: registered
// for the test, created from "Addin.Ormant", its settings in an INI file of
// the test's own (ORMANT_DRIVER_INI). It registers the DLL for its run and
// removes it after, so it must not run beside tests that rely on the same
// registration.
#include "../support/Failure.h"
#include "untDriver.h"
#include "untError.h"
#include "untWinText.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <process.h>

namespace {

// The file that a variable of the environment names; "" when unset.
std::wstring PathFromEnvironment(const wchar_t* Name) {
    wchar_t Full[MAX_PATH] = {};
    const wchar_t* Value = _wgetenv(Name);
    return Value && *Value && _wfullpath(Full, Value, MAX_PATH) ? Full : L"";
}

// regsvr32 /s on Dll, and Flag (/u, or /s again), as an operator runs it: for
// a DLL of the other bitness it starts its other self. Its exit code.
intptr_t RegSvr32(const std::wstring& Dll, const wchar_t* Flag) {
    wchar_t Folder[MAX_PATH] = {};
    GetSystemDirectoryW(Folder, MAX_PATH); // _wspawnlp finds it only once under Wine
    return _wspawnl(_P_WAIT, (Folder + std::wstring(L"\\regsvr32.exe")).c_str(), L"regsvr32", L"/s",
                    Flag, Dll.c_str(), nullptr);
}

class StandInServer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring Path = PathFromEnvironment(L"ORMANT_STANDIN_DLL");
        Dll = LoadLibraryW(Path.c_str());
        ASSERT_NE(Dll, nullptr) << "no stand-in DLL at ORMANT_STANDIN_DLL=" << WideToUtf8(Path);
        ASSERT_EQ(Call("DllRegisterServer"), S_OK);
        // A relative name: the current folder's, not the Windows folder.
        SetEnvironmentVariableW(L"ORMANT_DRIVER_INI", Ini.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ORMANT_DRIVER_INI", nullptr);
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

    TAutomationScope Scope;
    HMODULE Dll = nullptr;
    const std::wstring Ini =
        L"ormant-standin-test-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
};

// Keys and members as an operator and automation may spell them; an absent
// key takes its default, a refused one fails the property read with its text.
TEST_F(StandInServer, ReadsTheIniAndRefusesBadValues) {
    std::ofstream(std::filesystem::path(Ini), std::ios::binary)
        << "[General]\r\ncomNumber=255\r\nTimeout=abc\r\n";
    TAutoObject Driver = TAutoObject::Create(DriverProgId);
    EXPECT_EQ(Driver.Get("baudrate").AsInt32(), 2);
    EXPECT_EQ(Driver.Get(dmComNumber).AsInt32(), 255);
    // The port's text from the DLL's own string table, whatever the host.
    EXPECT_EQ(Driver.Get(dmConnect).AsInt32(), pePortNotAvailable);
    EXPECT_EQ(Driver.Get(dmResultCodeDescription).AsString(), "СOM порт не доступен");
    EXPECT_EQ(FailureOf<EOleError>([&] { Driver.Get("НетТакого"); }).Result, hrUnknownName);
    const std::string Raised = FailureOf<EOleError>([&] { Driver.Get(dmTimeout); }).what();
    EXPECT_TRUE(Raised.starts_with("Неверная настройка драйвера Timeout=\"abc\": допустимо целое "
                                   "число от 0 до 2147483647"))
        << Raised;
}

// An "Addin.Ormant" that does not name our class (here one with only a
// CurVer, in the user's classes) is neither written into nor removed. Each
// bitness registered by its own regsvr32: unregistering one leaves
// "Addin.Ormant" to the other, and the last one takes it along.
TEST_F(StandInServer, RegistrationLeavesOthersAlone) {
    const wchar_t* Foreign = L"Software\\Classes\\Addin.Ormant\\CurVer";
    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, Foreign, nullptr, REG_SZ, L"Addin.Ormant.1",
                              sizeof L"Addin.Ormant.1"),
              ERROR_SUCCESS);
    EXPECT_EQ(Call("DllRegisterServer"), SELFREG_E_CLASS);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, Foreign), ERROR_SUCCESS) << "removed";
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Addin.Ormant"), ERROR_SUCCESS);
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);

    const std::wstring OtherDll = PathFromEnvironment(L"ORMANT_STANDIN_DLL_OTHER");
    // Left out only where the machine cannot run the other bitness at all.
    if (OtherDll.empty())
        GTEST_SKIP() << "ORMANT_STANDIN_DLL_OTHER names no DLL of the other bitness";
    CLSID Clsid{};
    ASSERT_EQ(RegSvr32(OtherDll, L"/s"), 0) << WideToUtf8(OtherDll);
    ASSERT_EQ(RegSvr32(OtherDll, L"/u"), 0);
    EXPECT_NO_THROW(TAutoObject::Create(DriverProgId));
    ASSERT_EQ(RegSvr32(OtherDll, L"/s"), 0);
    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(CLSIDFromProgID(L"Addin.Ormant", &Clsid), S_OK);
    ASSERT_EQ(RegSvr32(OtherDll, L"/u"), 0);
    EXPECT_EQ(CLSIDFromProgID(L"Addin.Ormant", &Clsid), CO_E_CLASSSTRING);
}

} // namespace
