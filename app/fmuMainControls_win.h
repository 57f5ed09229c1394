#pragma once
// How the Win32 view names the window and its controls to the system: for
// the view, and for programs that drive the window from outside.
#include "fmuMainControls.h"

#include <iterator>
#include <optional>

// The window class.
inline constexpr const wchar_t* MainWindowClass = L"TfmMain";

// The controls' child-window identifiers follow the table's order from here,
// past those the dialog manager gives a meaning (IDOK for Enter, IDCANCEL for
// Esc...), so that no key reads as a click.
inline constexpr int FirstControlWinId = 100;

constexpr int ControlWinId(TControlId Id) {
    return FirstControlWinId + static_cast<int>(Id);
}

constexpr std::optional<TControlId> ControlOfWinId(int WinId) {
    for (const TControlSpec& C : Controls)
        if (ControlWinId(C.Id) == WinId)
            return C.Id;
    return std::nullopt;
}
