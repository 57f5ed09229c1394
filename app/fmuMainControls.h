#pragma once
// The main window's controls, free of any toolkit: both views make them from
// this table, and programs that drive the window from outside find them here.
// Positions are in pixels of a 96-dpi screen.
#include "untMainView.h"

#include <stdexcept>

enum class TControlKind { Memo, CheckBox, Button };

struct TControlSpec {
    TControlId Id;
    const char* Name;
    TControlKind Kind;
    const char* Text;
    int Left, Top, Width, Height;
    bool Enabled; // at creation
};

// In tab order, which is the order of creation.
inline constexpr TControlSpec Controls[] = {
    {ciMemo, "Memo", TControlKind::Memo, "", 8, 8, 337, 289, true},
    {ciDetectTimeout, "chbDetectTimeout", TControlKind::CheckBox, "Определять максимальный таймаут",
     8, 304, 273, 17, true},
    {ciStart, "btnStart", TControlKind::Button, "Начать", 352, 8, 75, 25, true},
    {ciStop, "btnStop", TControlKind::Button, "Прервать", 352, 40, 75, 25, false},
    {ciDriver, "btnDriver", TControlKind::Button, "Драйвер...", 352, 232, 75, 25, true},
    {ciClear, "btnClear", TControlKind::Button, "<- Очистить", 352, 264, 75, 25, true},
    {ciClose, "btnClose", TControlKind::Button, "Закрыть", 352, 296, 75, 25, true},
};

// The control that has the focus when the window opens.
inline constexpr TControlId FirstFocus = ciStart;

inline constexpr int ClientWidth = 431;
inline constexpr int ClientHeight = 326;

struct TFontSpec {
    // The first face that the system has with Cyrillic letters; where none
    // has, the system's own choice of that pitch.
    const char* Faces[3];
    int PixelHeight; // character height, without leading
    bool FixedPitch;
};

// Everything but the log.
inline constexpr TFontSpec FormFont = {
    {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma"}, 11, false};
// Fixed pitch, so the delays padded to six characters stand in one column.
inline constexpr TFontSpec LogFont = {{"Courier", "Courier New", nullptr}, 11, true};

inline constexpr const TControlSpec& ControlSpec(TControlId Id) {
    for (const TControlSpec& C : Controls)
        if (C.Id == Id)
            return C;
    throw std::logic_error("no such control");
}
