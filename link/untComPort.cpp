// What the port does the same way on every system; the device itself is in
// untComPort_linux.cpp and untComPort_win.cpp.
#include "untComPort.h"

#include "untError.h"

#include <algorithm>

uint8_t TSerialLine::ReadByte() {
    std::string Data;
    Read(1, Data);
    return static_cast<uint8_t>(Data[0]);
}

void TSerialLine::SetWaitHook(uint32_t SliceMs, TWaitHook Hook) {
    FSliceMs = SliceMs;
    FWaitHook = std::move(Hook);
}

void TSerialLine::AfterWait(uint64_t AskedMs, bool Idle) {
    if (!FWaitHook)
        return;
    FWaitHook(static_cast<uint32_t>(std::min<uint64_t>(AskedMs, UINT32_MAX)), Idle);
    if (Idle && !IsOpen())
        RaiseNoLink();
}

TComPort::TComPort() = default;

TComPort::~TComPort() {
    Close();
}

void TComPort::Open() {
    if (IsOpen())
        return;
    OpenDevice(ComNumber);
    try {
        SetQueueSizes();
        SetBaudRate(BaudRate);
        SetTimeouts();
    } catch (...) {
        AbandonOpen();
    }
}

void TComPort::AbandonOpen() {
    Close();
    throw;
}
