#include "untClock.h"

#include <chrono>
#include <thread>

namespace {

class TSystemClock final : public TClock {
public:
    uint32_t GetTickCount() override {
        using namespace std::chrono;
        // Truncated to 32 bits, like the Windows tick count; callers take
        // unsigned differences, so the wrap does no harm.
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Sleep(uint32_t Ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
