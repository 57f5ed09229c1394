#include "untDriver.h"

#include <stdexcept>

TAutoObject TDriverHolder::GetDriver() {
    if (FDriver.IsEmpty())
        FDriver = TAutoObject::Create(DriverProgId);
    return FDriver;
}

void TDriverHolder::CheckResult(int32_t Code) {
    if (Code == 0)
        return;
    throw std::runtime_error(
        DriverErrorText(Code, GetDriver().Get(dmResultCodeDescription).AsString()));
}

std::string DriverErrorText(int32_t Code, const std::string& Description) {
    return "Ошибка драйвера: (" + std::to_string(Code) + ") " + Description;
}
