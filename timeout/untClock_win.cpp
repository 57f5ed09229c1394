#include "untClock.h"

#include <windows.h>

namespace {

class TSystemClock final : public TClock {
public:
    uint32_t GetTickCount() override { return ::GetTickCount(); }
    void Sleep(uint32_t Ms) override { ::Sleep(Ms); }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock Clock;
    return Clock;
}
