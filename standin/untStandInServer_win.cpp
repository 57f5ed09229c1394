// The stand-in as an in-process OLE Automation server: a hand-written
// IDispatch over the core, its class factory and regsvr32's entry points.
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

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The DLL's own, not its host's: its resources are here.
const auto Module = reinterpret_cast<HINSTANCE>(&__ImageBase);
LONG Holds = 0; // live objects and LockServer locks

// The register's driver has a class of its own.
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

// IUnknown::QueryInterface of Self, which implements Iface and IUnknown only.
HRESULT QueryFor(IUnknown* Self, REFIID Iface, REFIID Iid, void** Object) {
    if (!Object)
        return E_POINTER;
    *Object = Iid == IID_IUnknown || Iid == Iface ? Self : nullptr;
    if (!*Object)
        return E_NOINTERFACE;
    Self->AddRef();
    return S_OK;
}

// Null when out of memory, as SysAllocString's own failure.
BSTR NewBstr(const std::string& Text) noexcept try {
    return SysAllocString(Utf8ToWide(Text).c_str());
} catch (const std::bad_alloc&) {
    return nullptr;
}

class TStandInDispatch final : public IDispatch {
public:
    TStandInDispatch() { InterlockedIncrement(&Holds); }
    ~TStandInDispatch() { InterlockedDecrement(&Holds); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
        return QueryFor(this, IID_IDispatch, Iid, Object);
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

    // Names after the first would be arguments', and no member takes any.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID,
                                            DISPID* Ids) override {
        if (Iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!Names || !Ids)
            return E_POINTER;
        std::fill_n(Ids, Count, DISPID_UNKNOWN);
        for (DISPID Id = 1; Count == 1 && Names[0] && Id <= MemberCount; ++Id)
            if (IsMemberName(Names[0], Members[Id - 1]))
                Ids[0] = Id;
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
            const bool Put = Flags & DISPATCH_PROPERTYPUT;
            if (Put && std::count(std::begin(StandInSettingKeys), std::end(StandInSettingKeys),
                                  Member) == 0)
                return DISP_E_MEMBERNOTFOUND;
            if (Params->cArgs != (Put ? 1u : 0u))
                return DISP_E_BADPARAMCOUNT;
            if (Put) {
                TVariant Value; // a reference is followed to its value
                if (const HRESULT Hr = VariantChangeType(&Value.V, &Params->rgvarg[0], 0, VT_I4);
                    FAILED(Hr)) {
                    if (ArgError)
                        *ArgError = 0;
                    return Hr;
                }
                Driver().Put(Member, static_cast<int32_t>(Value.V.lVal));
                return S_OK;
            }
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
            Result->bstrVal = NewBstr(Value.AsString());
            return Result->bstrVal ? S_OK : E_OUTOFMEMORY;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::exception& E) {
            if (Info) {
                *Info = EXCEPINFO{};
                Info->scode = DISP_E_EXCEPTION;
                Info->bstrDescription = NewBstr(E.what());
            }
            return DISP_E_EXCEPTION;
        }
    }

private:
    // Made at the first call, not in CreateInstance, so that a settings file
    // that cannot be found fails that call with its text, not as a bare
    // E_FAIL of the creation.
    TStandInDriver& Driver() {
        if (!FDriver)
            FDriver = std::make_unique<TStandInDriver>(
                std::make_shared<TWinIniSettingsStore>(TWinIniSettingsStore::DefaultFileName()),
                [](TSettingTexts& Settings) {
                    // ORMANT_STANDIN_DIALOG_OWNER=none: no owner, as some
                    // drivers do; the program must keep its window from input.
                    wchar_t Value[8] = {};
                    const DWORD Length = GetEnvironmentVariableW(L"ORMANT_STANDIN_DIALOG_OWNER",
                                                                 Value, std::size(Value));
                    const bool Owned = std::wstring_view(Value, Length) != L"none";
                    return ShowStandInPropertiesWin(Module, Owned ? GetActiveWindow() : nullptr,
                                                    Settings);
                });
        return *FDriver;
    }

    LONG FRefs = 1;
    std::unique_ptr<TStandInDriver> FDriver;
};

// One static factory: the server stays loaded by its objects and locks.
class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
        return QueryFor(this, IID_IClassFactory, Iid, Object);
    }
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
        Lock ? InterlockedIncrement(&Holds) : InterlockedDecrement(&Holds);
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

// ERROR_SUCCESS when Key is there, ERROR_FILE_NOT_FOUND or why it cannot be opened.
LSTATUS Probe(HKEY Root, const std::wstring& Key, REGSAM View = 0) {
    HKEY Opened = nullptr;
    const LSTATUS Status = RegOpenKeyExW(Root, Key.c_str(), 0, KEY_QUERY_VALUE | View, &Opened);
    if (Status == ERROR_SUCCESS)
        RegCloseKey(Opened);
    return Status;
}

// Only with our class as its CLSID: a key without one (only a CurVer, say)
// is someone else's all the same.
bool ProgIdIsOurs(HKEY Root) {
    wchar_t Value[64] = {};
    DWORD Size = sizeof Value;
    return RegGetValueW(Root, (ProgIdKey + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                        Value, &Size) == ERROR_SUCCESS &&
           CompareStringOrdinal(Value, -1, StandInClsidText, -1, TRUE) == CSTR_EQUAL;
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

} // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID Clsid, REFIID Iid, void** Object) {
    if (!Object)
        return E_POINTER;
    *Object = nullptr;
    if (Clsid != StandInClsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(Iid, Object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return Holds == 0 ? S_OK : S_FALSE;
}

// The register's own driver, wherever installed, is neither shadowed nor
// written into.
HRESULT STDAPICALLTYPE DllRegisterServer() {
    for (const HKEY Root : ClassRoots)
        if (Probe(Root, ProgIdKey) != ERROR_FILE_NOT_FOUND && !ProgIdIsOurs(Root))
            return SELFREG_E_CLASS;
    // Denied the machine's classes, nothing was written there to undo.
    LSTATUS Status = Register(HKEY_LOCAL_MACHINE);
    if (Status == ERROR_ACCESS_DENIED)
        Status = Register(HKEY_CURRENT_USER);
    return HRESULT_FROM_WIN32(Status);
}

// Fails when a delete was refused, so that regsvr32 /u does not report it gone.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
    LSTATUS Status = ERROR_SUCCESS; // the first refusal
    const auto Delete = [&](HKEY Root, const std::wstring& Key) {
        const LSTATUS Deleted = RegDeleteTreeW(Root, Key.c_str());
        if (Status == ERROR_SUCCESS && Deleted != ERROR_FILE_NOT_FOUND)
            Status = Deleted;
    };
    // Each bitness's class is in its own view of the registry, the ProgID in
    // both: it goes with the last class, and only where it names ours.
    constexpr REGSAM OtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    for (const HKEY Root : ClassRoots) {
        Delete(Root, ClassKey);
        if (ProgIdIsOurs(Root) &&
            Probe(Root, ClassKey + L"\\InprocServer32", OtherView) != ERROR_SUCCESS)
            Delete(Root, ProgIdKey);
    }
    return HRESULT_FROM_WIN32(Status);
}

} // extern "C"
