#pragma once
// The line set-up that the serial port and the register emulator share: raw
// 8N1 and the termios speed constant for a rate in bits per second.
#include <cstdint>
#include <optional>
#include <termios.h>

inline std::optional<speed_t> TermiosSpeed(uint32_t Rate) {
    switch (Rate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    }
    return std::nullopt;
}

// Tio, as tcgetattr gave it, made raw 8N1: no parity, one stop bit, no flow
// control of any kind, no character processing, a byte with a parity or
// framing error dropped. MinBytes goes to VMIN, and VTIME is 0. Both callers
// read a non-blocking descriptor only after poll() reported input, so VMIN
// tells only what a read that finds nothing returns: 0 bytes (VMIN 0) or
// EAGAIN (VMIN 1).
inline void MakeRawLine(termios& Tio, cc_t MinBytes) {
    ::cfmakeraw(&Tio);
    Tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK);
    Tio.c_iflag |= IGNPAR;
    Tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    Tio.c_cflag |= CS8 | CLOCAL | CREAD;
    Tio.c_cc[VMIN] = MinBytes;
    Tio.c_cc[VTIME] = 0;
}
