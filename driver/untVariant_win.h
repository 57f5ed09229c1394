#pragma once
// Windows only: a VARIANT that is cleared however its scope ends, for the
// automation client and the stand-in's server alike.
#include <windows.h>

#include <oleauto.h>

class TVariant {
public:
    TVariant() { VariantInit(&V); }
    ~TVariant() { VariantClear(&V); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    VARIANT V;
};
