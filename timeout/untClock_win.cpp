#include "untClock.h"
#include "untError.h"

#include <windows.h>

#include <string>

namespace {

// The probe waits in 20 ms steps and measures in milliseconds. With Windows'
// default timer granularity of 15.6 ms, Sleep(20) lasts about 31 ms and
// GetTickCount moves in 16 ms jumps, so a hold-back would overshoot by up to
// a step and a half. A 1 ms timer period makes Sleep(20) about 20 ms. It is
// asked for during a run only (SetPrecise): before Windows 10 2004 it holds
// for the whole system and keeps the processor out of its power-saving
// states, and timeBeginPeriod's documentation asks for it just before use.
// The performance counter gives a tick of 1 ms resolution, cut to an
// unsigned 32-bit count so that it wraps as GetTickCount does.
class TSystemClock final : public TClock {
public:
    TSystemClock() {
        LARGE_INTEGER F;
        QueryPerformanceFrequency(&F);
        FFrequency = F.QuadPart;
        KeepTimerResolution();
    }
    ~TSystemClock() override { SetPrecise(false); }
    uint32_t GetTickCount() override {
        LARGE_INTEGER Now;
        QueryPerformanceCounter(&Now);
        // In two parts, so the product cannot overflow however long the
        // system has been up.
        const int64_t Whole = Now.QuadPart / FFrequency, Part = Now.QuadPart % FFrequency;
        return static_cast<uint32_t>(Whole * 1000 + Part * 1000 / FFrequency);
    }
    void Sleep(uint32_t Ms) override { ::Sleep(Ms); }
    void SetPrecise(bool On) override {
        if (On == FPeriodSet)
            return;
        if (!On) {
            timeEndPeriod(1);
            FPeriodSet = false;
        } else if (timeBeginPeriod(1) == TIMERR_NOERROR) {
            FPeriodSet = true;
        } else {
            Trace("timeBeginPeriod(1) failed; the steps may last up to a timer tick longer");
        }
    }

private:
    // Windows 11 may ignore the 1 ms period of a process whose window is
    // minimised or covered, so that Sleep(20) lasts up to about 31 ms again,
    // unless the process opts out of that throttling. Windows 7 lacks the
    // call and Windows 8 and 10 do not know the flag; they keep the period
    // as it is anyway.
    static void KeepTimerResolution() {
        using TSetProcessInformation =
            BOOL WINAPI(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
        auto* const SetInformation =
            reinterpret_cast<TSetProcessInformation*>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation")));
        if (!SetInformation)
            return;
        PROCESS_POWER_THROTTLING_STATE State{};
        State.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        State.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
        State.StateMask = 0; // controlled and off: the requests are honoured
        if (!SetInformation(GetCurrentProcess(), ProcessPowerThrottling, &State, sizeof State))
            Trace("SetProcessInformation failed with " + std::to_string(GetLastError()) +
                  "; the 1 ms timer may not hold while minimised");
    }

    int64_t FFrequency = 1;
    bool FPeriodSet = false;
};

} // namespace

TClock& SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
