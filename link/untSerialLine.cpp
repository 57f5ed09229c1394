#include "untComPort.h"

uint8_t TSerialLine::ReadByte() {
    std::string Data;
    Read(1, Data);
    return static_cast<uint8_t>(Data[0]);
}
