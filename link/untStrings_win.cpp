// The string table from the Windows resources of the module that holds this
// code: the program's (app/ormant.rc) or the stand-in driver DLL's.
#include "untError.h"
#include "untWinText.h"

#include <windows.h>

namespace {

// The module this code is linked into: the program, or a DLL that carries the
// same table (in a DLL, GetModuleHandle(nullptr) is the program that loaded it).
HMODULE OwnModule() {
    static const char Anchor = 0;
    HMODULE Module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Anchor), &Module);
    return Module;
}

} // namespace

std::string LoadResString(unsigned Id) {
    // With no buffer LoadStringW hands back the resource's own text, which
    // has no terminating zero: only its length tells where it ends.
    const wchar_t* Text = nullptr;
    const int Length = LoadStringW(OwnModule(), Id, reinterpret_cast<LPWSTR>(&Text), 0);
    if (Length <= 0 || !Text)
        throw std::runtime_error("Нет строки ресурса " + std::to_string(Id) +
                                 " в ресурсах программы");
    return WideToUtf8(Text, Length);
}
