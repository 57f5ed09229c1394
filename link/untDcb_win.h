#pragma once
// The line set-up that the serial port and the register emulator share on
// Windows, as untTermios.h is elsewhere.
#include <windows.h>

#include <cstdint>

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
