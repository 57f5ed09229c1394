#include "untClock.h"

#include <windows.h>

namespace {

// The probe waits in 20 ms steps and measures in milliseconds. With Windows'
// default timer granularity of 15.6 ms, Sleep(20) lasts about 31 ms and
// GetTickCount moves in 16 ms jumps, so a hold-back would overshoot by up to
// a step and a half. A 1 ms timer period, asked for while the clock exists
// (from the window's creation to the program's end), makes Sleep(20) about
// 20 ms; the performance counter gives a tick of 1 ms resolution, cut to an
// unsigned 32-bit count so that it wraps as GetTickCount does.
class TSystemClock final : public TClock {
public:
    TSystemClock() {
        LARGE_INTEGER F;
        QueryPerformanceFrequency(&F);
        FFrequency = F.QuadPart;
        FPeriodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    ~TSystemClock() override {
        if (FPeriodSet)
            timeEndPeriod(1);
    }
    uint32_t GetTickCount() override {
        LARGE_INTEGER Now;
        QueryPerformanceCounter(&Now);
        // In two parts, so the product cannot overflow however long the
        // system has been up.
        const int64_t Whole = Now.QuadPart / FFrequency, Part = Now.QuadPart % FFrequency;
        return static_cast<uint32_t>(Whole * 1000 + Part * 1000 / FFrequency);
    }
    void Sleep(uint32_t Ms) override { ::Sleep(Ms); }

private:
    int64_t FFrequency = 1;
    bool FPeriodSet = false;
};

} // namespace

TClock& SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
