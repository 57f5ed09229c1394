#pragma once
// The line set-up that the serial port and the register emulator share on
// Windows, as untTermios.h is elsewhere, and how the port reads a refused
// open.
#include "untError.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

// Each read or write waits Wait ms at most. A read: with both MAXDWORD and a
// constant, ReadFile returns at once with what the input holds, else with the
// first byte that comes, else after the constant with nothing. A write
// returns after the constant with what the line took. The read timer and the
// write limit decide how long each may wait in all.
inline COMMTIMEOUTS LineTimeouts(uint64_t Wait) {
    // Both constants must lie strictly between 0 and MAXDWORD: 0 is no limit.
    const DWORD Constant = static_cast<DWORD>(std::clamp<uint64_t>(Wait, 1, MAXDWORD - 1));
    COMMTIMEOUTS Timeouts{};
    Timeouts.ReadIntervalTimeout = MAXDWORD;
    Timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    Timeouts.ReadTotalTimeoutConstant = Constant;
    Timeouts.WriteTotalTimeoutMultiplier = 0;
    Timeouts.WriteTotalTimeoutConstant = Constant;
    return Timeouts;
}

// The port's failure for CreateFile's error: a COM port that another program
// holds is refused as access denied; anything else is no port to be had.
constexpr int32_t OpenFailureCode(DWORD Error) {
    return Error == ERROR_ACCESS_DENIED ? pePortBusy : pePortNotAvailable;
}

// Dcb made raw 8N1 at Rate: binary, no parity, one stop bit and no flow
// control of any kind, neither the handshake lines nor XON/XOFF. DTR and RTS
// are left as the caller has them.
inline void MakeRawLine(DCB& Dcb, uint32_t Rate) {
    Dcb.DCBlength = sizeof(DCB);
    Dcb.BaudRate = Rate;
    Dcb.fBinary = TRUE;
    Dcb.fParity = FALSE;
    Dcb.fOutxCtsFlow = FALSE;
    Dcb.fOutxDsrFlow = FALSE;
    Dcb.fDsrSensitivity = FALSE;
    Dcb.fOutX = FALSE;
    Dcb.fInX = FALSE;
    Dcb.fErrorChar = FALSE;
    Dcb.fNull = FALSE;
    Dcb.fAbortOnError = FALSE;
    Dcb.ByteSize = 8;
    Dcb.Parity = NOPARITY;
    Dcb.StopBits = ONESTOPBIT;
    // Unused with XON/XOFF off, but SetCommState fails when the two are
    // equal, and several serial drivers refuse them so: the usual DC1, DC3.
    Dcb.XonChar = 0x11;
    Dcb.XoffChar = 0x13;
}
