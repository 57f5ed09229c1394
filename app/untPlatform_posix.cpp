#include "untPlatform.h"

#include "fmuStandInProps.h"

void RegisterPlatformDrivers() {
    RegisterStandInDriver();
}
