#include "untClock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

class TSystemClock final : public TClock {
public:
    uint32_t GetTickCount() override {
        // Truncated to 32 bits, like the Windows tick count; callers take
        // unsigned differences, so the wrap does no harm. Time asleep counts
        // where the system can tell (CLOCK_BOOTTIME, Linux): a hold that a
        // suspend stretched must look stretched, and the monotonic clock
        // stands still in a suspend.
#ifdef CLOCK_BOOTTIME
        timespec Now{};
        if (::clock_gettime(CLOCK_BOOTTIME, &Now) == 0)
            return static_cast<uint32_t>(static_cast<uint64_t>(Now.tv_sec) * 1000 +
                                         static_cast<uint64_t>(Now.tv_nsec) / 1'000'000);
#endif
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Sleep(uint32_t Ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
    }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
