#pragma once
// The register's automation driver as the program uses it: created once on
// first use from its programmatic identifier, called by member name.
#include "untAutomation.h"

inline constexpr const char* DriverProgId = "Addin.Ormant";

// The driver's members that the program calls, and that a driver standing in
// for the register's answers to. Methods return a result code (0: done);
// the three settings are properties that can be read and written.
inline constexpr char dmShowProperties[] = "ShowProperties";
inline constexpr char dmConnect[] = "Connect";
inline constexpr char dmDisconnect[] = "Disconnect";
inline constexpr char dmSetExchangeParam[] = "SetExchangeParam";
inline constexpr char dmComNumber[] = "ComNumber";
inline constexpr char dmBaudrate[] = "Baudrate";
inline constexpr char dmTimeout[] = "Timeout"; // ms, the register's exchange timeout
inline constexpr char dmResultCodeDescription[] = "ResultCodeDescription";

// The driver's result codes. A positive code is the register's own error; a
// failure of the driver's own port passes through with the port's code
// (peNoLink, pePortNotAvailable, pePortBusy: link/untError.h).
enum TResultCode : int32_t {
    rcOk = 0,
    rcBadAnswer = -4,
    rcBadBaudrate = -5,
    rcBadTimeout = -6,
    rcSystemError = -7,
    rcBadComNumber = -8,
};

class TDriverHolder {
public:
    // A new reference to the driver, created on first use. A failed creation
    // leaves the holder empty, so the next use tries again.
    TAutoObject GetDriver();
    // 0 returns at once; any other code raises "Ошибка драйвера: (code)
    // description" with the driver's ResultCodeDescription.
    void CheckResult(int32_t Code);

private:
    TAutoObject FDriver;
};
