#pragma once
// Makes the register's driver reachable: installed on Windows, a stand-in
// registered in this process elsewhere.
void RegisterPlatformDrivers();
