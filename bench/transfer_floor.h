#pragma once

// The floor of a quillon-cli transfer of 256 bytes on an adapter that delivers one interrupt-in
// report per polling interval (8 ms on an IO-Warrior 24, 1 ms on an IO-Warrior 56): the replies
// it must take, one per interval. A read takes the set-address acknowledge and one reply per
// chunk (6 or 62 bytes); a write takes, per 8-byte page, its reports' acknowledges (2 on the
// IOW24, 1 on the IOW56) but at least the memory's 5 ms write cycle (the next page is refused
// until the cycle ends), then the read-back.

#include <algorithm>

namespace quillon::bench {

inline constexpr int kPageBytes = 8;
inline constexpr double kWriteCycleMs = 5;

inline int Ceil(int a, int b) { return (a + b - 1) / b; }

inline double ReadFloorMs(int payload, double intervalMs) {
    return (1 + Ceil(256, payload)) * intervalMs;
}

inline double WriteFloorMs(int payload, double intervalMs) {
    const double perPageMs = std::max(Ceil(kPageBytes + 2, payload) * intervalMs, kWriteCycleMs);
    return 256 / kPageBytes * perPageMs + ReadFloorMs(payload, intervalMs);
}

}  // namespace quillon::bench
