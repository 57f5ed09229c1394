#include "untPlatform.h"

// The driver is an installed automation server: nothing to register.
void RegisterPlatformDrivers() {}
