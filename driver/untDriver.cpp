#include "untDriver.h"

#include <stdexcept>

TAutoObject TDriverHolder::GetDriver() {
    if (FDriver.IsEmpty())
        FDriver = TAutoObject::Create(DriverProgId);
    return FDriver;
}

void TDriverHolder::CheckResult(int32_t Code) {
    if (Code == rcOk)
        return;
    throw std::runtime_error("Ошибка драйвера: (" + std::to_string(Code) + ") " +
                             GetDriver().Get(dmResultCodeDescription).AsString());
}
