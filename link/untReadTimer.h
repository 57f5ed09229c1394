#pragma once
// When a read of the line gives up, on every system: after Timeout ms without
// a byte, before the first byte as between bytes, and after Count x Timeout +
// 1 ms in all. Windows' own interval timeout starts only with the first byte
// and its total grows with the count, so a register that sent the start of a
// frame and then stopped (power lost, cable pulled) would hold the read for
// (length + 1) x Timeout: hours at the run's 100000 ms, in a window that does
// not respond. Timeout 0 leaves only the total's 1 ms.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

// The ports' clock for the timer: monotonic milliseconds.
inline uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

class TReadTimer {
public:
    // A read of Count bytes that starts at NowMs, on any monotonic ms clock.
    TReadTimer(uint32_t Timeout, uint32_t Count, uint64_t NowMs)
        : FTimeout(Timeout), FTotalDeadline(NowMs + uint64_t{Timeout} * Count + 1),
          FLastByte(NowMs) {}

    // Bytes came at NowMs: the gap starts anew.
    void Received(uint64_t NowMs) { FLastByte = NowMs; }

    // How long the read may still wait at NowMs for its next byte; 0 means
    // give up.
    uint64_t WaitLeft(uint64_t NowMs) const {
        uint64_t Deadline = FTotalDeadline;
        if (FTimeout > 0)
            Deadline = std::min(Deadline, FLastByte + FTimeout);
        return NowMs < Deadline ? Deadline - NowMs : 0;
    }

private:
    uint32_t FTimeout;
    uint64_t FTotalDeadline;
    uint64_t FLastByte;
};

// A wait for the line, up to a limit, in slices while the port's wait hook
// is set (TSerialLine::SetWaitHook), as both ports and the tests' virtual
// line wait:
//     TSlicedWait Wait(WaitSliceMs());
//     while (more is wanted) {
//         const auto Asked = Wait.Next(ms left to the limit);
//         if (!Asked) break;                        // given up
//         ... wait at most *Asked for the line ...
//         AfterWait(*Asked, Wait.Ended(it came, ms left now));
//     }
class TSlicedWait {
public:
    explicit TSlicedWait(uint32_t SliceMs) : FSliceMs(SliceMs) {}

    // How long the next single wait may last; none when the limit has
    // passed, unless the last wait was idle: what came while the hook had
    // its turn is looked for once more, however long that turn took.
    std::optional<uint64_t> Next(uint64_t LeftMs) const {
        if (LeftMs == 0 && !FIdle)
            return std::nullopt;
        return FSliceMs > 0 ? std::min<uint64_t>(LeftMs, FSliceMs) : LeftMs;
    }

    // Whether the wait that ended was idle: nothing came and the limit is
    // still ahead, which is the hook's turn.
    bool Ended(bool Came, uint64_t LeftMs) {
        FIdle = !Came && FSliceMs > 0 && LeftMs > 0;
        return FIdle;
    }

private:
    uint32_t FSliceMs;
    bool FIdle = false;
};

// How long a write of Count bytes may take at Rate bit/s: its time on the
// line at ten bits a byte (start, eight data, stop), and a margin for the
// adapter and the system. A device that stops taking data (a USB register
// hung, an adapter pulled, a Bluetooth link gone) so ends the write in "Нет
// связи" within about a second, not after Count x Timeout ms (100 s a byte
// during a run).
inline constexpr uint32_t WriteMarginMs = 1000;
inline uint64_t WriteLimitMs(uint64_t Count, uint32_t Rate) {
    const uint64_t Rate1 = std::max<uint32_t>(Rate, 1); // not set: a long limit, no division by 0
    return (Count * 10 * 1000 + Rate1 - 1) / Rate1 + WriteMarginMs;
}

// The timeouts of a Windows serial device as COMMTIMEOUTS holds them.
struct TCommTimeouts {
    uint32_t ReadInterval, ReadMultiplier, ReadConstant, WriteMultiplier, WriteConstant;
};

// Whether a read or a write could wait for ever under these, by
// COMMTIMEOUTS' rules: with both total timeouts 0 a write has no limit, and
// so has a read, unless its interval is MAXDWORD (it then returns at once
// with what has come); the interval alone starts only with the first byte.
constexpr bool WaitsWithoutBound(const TCommTimeouts& T) {
    const bool ReadUnbounded =
        T.ReadMultiplier == 0 && T.ReadConstant == 0 && T.ReadInterval != UINT32_MAX;
    return ReadUnbounded || (T.WriteMultiplier == 0 && T.WriteConstant == 0);
}
