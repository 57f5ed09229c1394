// Automation through OLE: IDispatch objects created from their ProgID and
// called by member name.
#include "untAutomation.h"

#include "untVariant_win.h"
#include "untWinText.h"

#include <windows.h>

#include <cstdio>

struct TAutoObject::TImpl {
    explicit TImpl(IDispatch* ADispatch) : Dispatch(ADispatch) {}
    ~TImpl() { Dispatch->Release(); }
    TImpl(const TImpl&) = delete;
    TImpl& operator=(const TImpl&) = delete;
    IDispatch* Dispatch;
};

namespace {

std::string BstrToUtf8(BSTR Text) {
    return WideToUtf8(Text, static_cast<int>(SysStringLen(Text)));
}

[[noreturn]] void RaiseResult(HRESULT Result, const std::string& Subject) {
    RaiseOleError(static_cast<uint32_t>(Result), SystemErrorText(static_cast<DWORD>(Result)),
                  Subject);
}

// The server's own account of its failure; the BSTRs it filled in are ours
// to free.
[[noreturn]] void RaiseServerException(EXCEPINFO& Info, const std::string& Name) {
    // Freed however this ends, a failed conversion too.
    struct TStrings {
        EXCEPINFO& Info;
        ~TStrings() {
            SysFreeString(Info.bstrSource);
            SysFreeString(Info.bstrDescription);
            SysFreeString(Info.bstrHelpFile);
        }
    } Strings{Info};
    if (Info.pfnDeferredFillIn)
        Info.pfnDeferredFillIn(&Info);
    const std::string Source = BstrToUtf8(Info.bstrSource);
    std::string Text = BstrToUtf8(Info.bstrDescription);
    if (!Source.empty())
        Text = Text.empty() ? Source : Source + ": " + Text;
    const uint32_t Result =
        FAILED(Info.scode) ? static_cast<uint32_t>(Info.scode) : uint32_t{hrException};
    RaiseOleError(Result, Text, Name);
}

void Invoke(IDispatch* Dispatch, const std::string& Name, WORD Flags, DISPPARAMS& Params,
            VARIANT* Result) {
    std::wstring WideName = Utf8ToWide(Name);
    LPOLESTR Names[] = {WideName.data()};
    DISPID Id = DISPID_UNKNOWN;
    HRESULT Hr = Dispatch->GetIDsOfNames(IID_NULL, Names, 1, LOCALE_USER_DEFAULT, &Id);
    if (FAILED(Hr))
        RaiseResult(Hr, Name);
    EXCEPINFO Info{};
    UINT ArgError = 0;
    Hr = Dispatch->Invoke(Id, IID_NULL, LOCALE_USER_DEFAULT, Flags, &Params, Result, &Info,
                          &ArgError);
    if (Hr == DISP_E_EXCEPTION)
        RaiseServerException(Info, Name);
    if (FAILED(Hr))
        RaiseResult(Hr, Name);
}

// What the driver's members give: nothing, text, or a number as an integer.
TAutoValue ToAutoValue(VARIANT& Value) {
    if (Value.vt == VT_EMPTY || Value.vt == VT_NULL)
        return {};
    if (Value.vt == VT_BSTR)
        return BstrToUtf8(Value.bstrVal);
    TVariant Number;
    const HRESULT Hr = VariantChangeType(&Number.V, &Value, 0, VT_I4);
    if (FAILED(Hr)) {
        char Code[8];
        std::snprintf(Code, sizeof Code, "0x%04X", static_cast<unsigned>(Value.vt));
        throw EConvertError(
            "Значение типа " + std::string(Code) + " не преобразуется в простое значение: " +
            OleErrorText(static_cast<uint32_t>(Hr), SystemErrorText(static_cast<DWORD>(Hr))));
    }
    return static_cast<int32_t>(Number.V.lVal);
}

} // namespace

TAutoObject TAutoObject::Create(const std::string& ProgId) {
    const std::wstring WideProgId = Utf8ToWide(ProgId);
    CLSID Clsid{};
    HRESULT Hr = CLSIDFromProgID(WideProgId.c_str(), &Clsid);
    if (FAILED(Hr))
        RaiseResult(Hr, ProgId);
    IDispatch* Dispatch = nullptr;
    Hr = CoCreateInstance(Clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&Dispatch));
    if (FAILED(Hr))
        RaiseResult(Hr, ProgId);
    return TAutoObject(std::make_shared<TImpl>(Dispatch));
}

TAutoValue TAutoObject::Get(const std::string& Name) const {
    DISPPARAMS NoArguments{};
    TVariant Result;
    Invoke(Impl().Dispatch, Name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, NoArguments, &Result.V);
    return ToAutoValue(Result.V);
}

void TAutoObject::Put(const std::string& Name, int32_t Value) const {
    VARIANT Argument;
    VariantInit(&Argument);
    Argument.vt = VT_I4;
    Argument.lVal = Value;
    DISPID Named = DISPID_PROPERTYPUT;
    DISPPARAMS Params{&Argument, &Named, 1, 1};
    Invoke(Impl().Dispatch, Name, DISPATCH_PROPERTYPUT, Params, nullptr);
}

TAutomationScope::TAutomationScope() {
    // S_FALSE (already initialised here) must be balanced too. A thread that
    // already runs another apartment model fails here yet can still create
    // objects; a real failure shows at Create as CO_E_NOTINITIALIZED.
    FInitialised = SUCCEEDED(OleInitialize(nullptr));
}

TAutomationScope::~TAutomationScope() {
    if (FInitialised)
        OleUninitialize();
}
