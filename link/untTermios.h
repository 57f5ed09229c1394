#pragma once
// The termios speed constant for a rate in bits per second, where there is
// one; shared by the serial port and the register emulator.
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
