// The stand-in driver as an in-process OLE Automation server, "Addin.Ormant":
// a hand-written IDispatch over the driver's core, its class factory and its
// registration (regsvr32). Only for machines without the register's own
// driver, which is registered under the same identifier.
#include "fmuStandInProps_win.h"
#include "untDriver.h"
#include "untStandInDriver.h"
#include "untVariant_win.h"
#include "untWinText.h"

#include <olectl.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <string_view>

namespace {

HINSTANCE Module = nullptr;
LONG Objects = 0; // live driver objects
LONG Locks = 0;   // IClassFactory::LockServer

// {248862DF-015E-45F1-9F31-9AEA84753B11}: the stand-in's own class; the
// register's driver has another.
constexpr CLSID StandInClsid = {
    0x248862df, 0x015e, 0x45f1, {0x9f, 0x31, 0x9a, 0xea, 0x84, 0x75, 0x3b, 0x11}};
constexpr const wchar_t* StandInClsidText = L"{248862DF-015E-45F1-9F31-9AEA84753B11}";
constexpr const wchar_t* StandInDescription = L"Ormant register driver stand-in";

// A member's DISPID is its index here plus one.
constexpr const char* Members[] = {
    dmShowProperties, dmConnect,   dmDisconnect, dmSetExchangeParam,      dmTimeout,
    dmBaudrate,       dmComNumber, dmResultCode, dmResultCodeDescription,
};
constexpr DISPID MemberCount = static_cast<DISPID>(std::size(Members));

// Name is Member's, in any case; the members' names are ASCII.
bool IsMemberName(const wchar_t* Name, const char* Member) {
    for (; *Name && *Member; ++Name, ++Member)
        if (*Name > 0x7F || std::tolower(*Name) != std::tolower(*Member))
            return false;
    return *Name == *Member;
}

// A failure of the call: its text reaches the caller as the exception's
// description. Called from a catch: nothing may escape it.
HRESULT RaiseException(EXCEPINFO* Info, const char* Text) noexcept try {
    if (Info) {
        *Info = EXCEPINFO{};
        Info->scode = DISP_E_EXCEPTION;
        Info->bstrDescription = SysAllocString(Utf8ToWide(Text).c_str());
    }
    return DISP_E_EXCEPTION;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

class TStandInDispatch final : public IDispatch {
public:
    TStandInDispatch() { InterlockedIncrement(&Objects); }
    ~TStandInDispatch() { InterlockedDecrement(&Objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
        if (!Object)
            return E_POINTER;
        if (Iid == IID_IUnknown || Iid == IID_IDispatch) {
            *Object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&FRefs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG Refs = InterlockedDecrement(&FRefs);
        if (Refs == 0)
            delete this;
        return static_cast<ULONG>(Refs);
    }

    // No type library: callers bind late, by name.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
        if (!Count)
            return E_POINTER;
        *Count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override {
        if (Info)
            *Info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID,
                                            DISPID* Ids) override {
        if (Iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!Names || !Ids)
            return E_POINTER;
        // Names after the first would be those of arguments, and no member
        // takes any.
        for (UINT I = 0; I < Count; ++I)
            Ids[I] = DISPID_UNKNOWN;
        for (DISPID Id = 0; Count == 1 && Names[0] && Id < MemberCount; ++Id)
            if (IsMemberName(Names[0], Members[Id]))
                Ids[0] = Id + 1;
        return Count == 1 && Ids[0] != DISPID_UNKNOWN ? S_OK : DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID Id, REFIID Iid, LCID, WORD Flags, DISPPARAMS* Params,
                                     VARIANT* Result, EXCEPINFO* Info, UINT* ArgError) override {
        if (Iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (Id < 1 || Id > MemberCount)
            return DISP_E_MEMBERNOTFOUND;
        if (!Params)
            return E_INVALIDARG;
        const char* const Member = Members[Id - 1];
        try {
            if (Flags & DISPATCH_PROPERTYPUT) {
                // Only the settings can be written.
                if (std::count(std::begin(StandInSettingKeys), std::end(StandInSettingKeys),
                               Member) == 0)
                    return DISP_E_MEMBERNOTFOUND;
                if (Params->cArgs != 1)
                    return DISP_E_BADPARAMCOUNT;
                // A reference is followed to its value.
                TVariant Value;
                if (const HRESULT Hr = VariantChangeType(&Value.V, &Params->rgvarg[0], 0, VT_I4);
                    FAILED(Hr)) {
                    if (ArgError)
                        *ArgError = 0;
                    return Hr;
                }
                Driver().Put(Member, static_cast<int32_t>(Value.V.lVal));
                return S_OK;
            }
            if (Params->cArgs != 0)
                return DISP_E_BADPARAMCOUNT;
            const TAutoValue Value = Driver().Invoke(Member);
            if (!Result)
                return S_OK;
            VariantInit(Result);
            if (const auto* Number = std::get_if<int32_t>(&Value.Storage())) {
                Result->vt = VT_I4;
                Result->lVal = *Number;
                return S_OK;
            }
            Result->vt = VT_BSTR;
            Result->bstrVal = SysAllocString(Utf8ToWide(Value.AsString()).c_str());
            return Result->bstrVal ? S_OK : E_OUTOFMEMORY;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::exception& E) {
            return RaiseException(Info, E.what());
        }
    }

private:
    // The caller's active window. ORMANT_STANDIN_DIALOG_OWNER=none shows the
    // dialog without an owner, as some drivers do: the program must keep its
    // window from input all the same.
    static HWND DialogOwner() {
        wchar_t Value[8] = {};
        const DWORD Length =
            GetEnvironmentVariableW(L"ORMANT_STANDIN_DIALOG_OWNER", Value, std::size(Value));
        return Length > 0 && std::wstring_view(Value, Length) == L"none" ? nullptr
                                                                         : GetActiveWindow();
    }

    // Made at the first call, not in CreateInstance: a settings file that
    // cannot be found then fails that call with its text, not as a bare
    // E_FAIL of the creation.
    TStandInDriver& Driver() {
        if (!FDriver)
            FDriver = std::make_unique<TStandInDriver>(
                std::make_shared<TWinIniSettingsStore>(TWinIniSettingsStore::DefaultFileName()),
                [](TSettingTexts& Settings) {
                    return ShowStandInPropertiesWin(Module, DialogOwner(), Settings);
                });
        return *FDriver;
    }

    LONG FRefs = 1;
    std::unique_ptr<TStandInDriver> FDriver;
};

class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
        if (!Object)
            return E_POINTER;
        if (Iid == IID_IUnknown || Iid == IID_IClassFactory) {
            *Object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory; the server stays loaded by its locks and objects.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) override {
        if (!Object)
            return E_POINTER;
        *Object = nullptr;
        if (Outer)
            return CLASS_E_NOAGGREGATION;
        auto* Driver = new (std::nothrow) TStandInDispatch;
        if (!Driver)
            return E_OUTOFMEMORY;
        const HRESULT Hr = Driver->QueryInterface(Iid, Object);
        Driver->Release();
        return Hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL Lock) override {
        if (Lock)
            InterlockedIncrement(&Locks);
        else
            InterlockedDecrement(&Locks);
        return S_OK;
    }
};

TClassFactory Factory;

// Where a class registration goes: the machine's classes when the user may
// write them (an administrator; always under Wine), else the user's own,
// which Windows merges into HKEY_CLASSES_ROOT for that user.
const HKEY ClassRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
const std::wstring ProgIdKey = L"Software\\Classes\\" + Utf8ToWide(DriverProgId);
const std::wstring ClassKey = std::wstring(L"Software\\Classes\\CLSID\\") + StandInClsidText;

LSTATUS SetValue(HKEY Root, const std::wstring& Key, const wchar_t* Name,
                 const std::wstring& Value) {
    return RegSetKeyValueW(Root, Key.c_str(), Name, REG_SZ, Value.c_str(),
                           static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t)));
}

enum TProgIdOwner { poNone, poOurs, poForeign };

// Whose "Addin.Ormant" Root holds. Ours only with our class as its CLSID: a
// key without one (only a CurVer, say) is someone else's all the same.
TProgIdOwner ProgIdOwner(HKEY Root) {
    wchar_t Value[64] = {};
    DWORD Size = sizeof Value;
    if (RegGetValueW(Root, (ProgIdKey + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, Value,
                     &Size) == ERROR_SUCCESS)
        return CompareStringOrdinal(Value, -1, StandInClsidText, -1, TRUE) == CSTR_EQUAL
                   ? poOurs
                   : poForeign;
    HKEY Key = nullptr;
    const LSTATUS Status = RegOpenKeyExW(Root, ProgIdKey.c_str(), 0, KEY_QUERY_VALUE, &Key);
    if (Status == ERROR_SUCCESS)
        RegCloseKey(Key);
    return Status == ERROR_FILE_NOT_FOUND ? poNone : poForeign; // unreadable: not known ours
}

// A key that was not there is no refusal.
LSTATUS Deleted(LSTATUS Status) {
    return Status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : Status;
}

LSTATUS Register(HKEY Root) {
    wchar_t Path[MAX_PATH] = {};
    const DWORD Length = GetModuleFileNameW(Module, Path, MAX_PATH);
    if (Length == 0 || Length >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    for (const LSTATUS Status : {
             SetValue(Root, ProgIdKey, nullptr, StandInDescription),
             SetValue(Root, ProgIdKey + L"\\CLSID", nullptr, StandInClsidText),
             SetValue(Root, ClassKey, nullptr, StandInDescription),
             SetValue(Root, ClassKey + L"\\ProgID", nullptr, Utf8ToWide(DriverProgId)),
             SetValue(Root, ClassKey + L"\\InprocServer32", nullptr, Path),
             SetValue(Root, ClassKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
         })
        if (Status != ERROR_SUCCESS)
            return Status;
    return ERROR_SUCCESS;
}

// 32-bit and 64-bit classes are registered apart, each by its own regsvr32
// in its own view of the registry; the identifier "Addin.Ormant" is one key
// for both. This is the view of the other bitness (on a 32-bit Windows the
// flag is ignored, and it is our own).
constexpr REGSAM OtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool OtherBitnessRegistered(HKEY Root) {
    HKEY Key = nullptr;
    if (RegOpenKeyExW(Root, (ClassKey + L"\\InprocServer32").c_str(), 0,
                      KEY_QUERY_VALUE | OtherView, &Key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(Key);
    return true;
}

// Removes our class, and the identifier only where it names our class and
// the other bitness's class is not registered beside it, so that it goes
// with the last registration; the first delete refused, if any.
LSTATUS Unregister(HKEY Root) {
    const LSTATUS Class = Deleted(RegDeleteTreeW(Root, ClassKey.c_str()));
    LSTATUS Status = ERROR_SUCCESS;
    if (ProgIdOwner(Root) == poOurs && !OtherBitnessRegistered(Root))
        Status = Deleted(RegDeleteTreeW(Root, ProgIdKey.c_str()));
    return Status != ERROR_SUCCESS ? Status : Class;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID) {
    if (Reason == DLL_PROCESS_ATTACH)
        Module = Instance;
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID Clsid, REFIID Iid, void** Object) {
    if (!Object)
        return E_POINTER;
    *Object = nullptr;
    if (Clsid != StandInClsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(Iid, Object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return Objects == 0 && Locks == 0 ? S_OK : S_FALSE;
}

// Refuses where any "Addin.Ormant" key is not ours, in the machine's classes
// or the user's: the register's own driver is installed there and must be
// neither shadowed nor written into.
HRESULT STDAPICALLTYPE DllRegisterServer() {
    for (const HKEY Root : ClassRoots)
        if (ProgIdOwner(Root) == poForeign)
            return SELFREG_E_CLASS;
    // Denied the machine's classes, the first write fails, and nothing is
    // left to undo.
    LSTATUS Status = Register(HKEY_LOCAL_MACHINE);
    if (Status == ERROR_ACCESS_DENIED)
        Status = Register(HKEY_CURRENT_USER);
    return HRESULT_FROM_WIN32(Status);
}

// Leaves the other bitness's registration working. Fails when a delete was
// refused (a machine-wide registration and no right to remove it), so that
// regsvr32 /u does not report it gone.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
    LSTATUS Status = ERROR_SUCCESS;
    for (const HKEY Root : ClassRoots)
        if (const LSTATUS Removed = Unregister(Root); Status == ERROR_SUCCESS)
            Status = Removed;
    return HRESULT_FROM_WIN32(Status);
}

} // extern "C"
