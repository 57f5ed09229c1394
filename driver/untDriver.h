#pragma once
// The register's automation driver as the program uses it: created once on
// first use from its programmatic identifier, called by member name.
#include "untAutomation.h"

inline constexpr const char* DriverProgId = "Addin.Ormant";

class TDriverHolder {
public:
    // A new reference to the driver, created on first use. A failed creation
    // leaves the holder empty, so the next use tries again.
    TAutoObject GetDriver();
    // 0 returns at once; any other code raises "Ошибка драйвера: (code)
    // description" with the driver's ResultCodeDescription.
    void CheckResult(int32_t Code);
    void Release() { FDriver.Clear(); }

private:
    TAutoObject FDriver;
};

std::string DriverErrorText(int32_t Code, const std::string& Description);
