#pragma once
// Where the test waits: a millisecond tick count and a sleep. The real clock
// by default; tests run whole runs on a virtual one.
#include <cstdint>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds of a monotonic counter that wraps at 2^32.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t Ms) = 0;
    // On from the start of a run to the end of its restore: the clock may ask
    // the system for the timer precision that the 20 ms steps need, which
    // costs power, and gives it back when off.
    virtual void SetPrecise(bool On) { (void)On; }
};

TClock& SystemClock();
