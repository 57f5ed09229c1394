// The string table from the program's Windows resources (app/ormant.rc).
#include "untError.h"
#include "untWinText.h"

#include <windows.h>

std::string LoadResString(unsigned Id) {
    // With no buffer LoadStringW hands back the resource's own text, which
    // has no terminating zero: only its length tells where it ends.
    const wchar_t* Text = nullptr;
    const int Length =
        LoadStringW(GetModuleHandleW(nullptr), Id, reinterpret_cast<LPWSTR>(&Text), 0);
    if (Length <= 0 || !Text)
        throw std::runtime_error("Нет строки ресурса " + std::to_string(Id) +
                                 " в ресурсах программы");
    return WideToUtf8(Text, Length);
}
