#pragma once

// The floor of a quillon-cli transfer on an adapter that delivers one interrupt-in report per
// polling interval (8 ms on an IO-Warrior 24, 1 ms on an IO-Warrior 56): the replies it must
// take, one per interval. A read takes, per 256 bytes, the set-address acknowledge and one reply
// per chunk (6 or 62 bytes); of an E-DDC memory each chunk takes the segment's acknowledge, the
// set-address's and its reply. A write takes, per page, its reports' acknowledges (and the
// segment's) but at least the memory's 5 ms write cycle (the next page is refused until the
// cycle ends), then the read-back.

#include <algorithm>

namespace quillon::bench {

inline constexpr int kPageBytes = 8;
inline constexpr double kWriteCycleMs = 5;

inline int Ceil(int a, int b) { return (a + b - 1) / b; }

// What is transferred: 256 bytes in 8-byte pages (a 24C02), or more.
struct Layout {
    int bytes = 256;
    int pageBytes = kPageBytes;
    bool segments = false;  // E-DDC
};

inline double ReadFloorMs(int payload, double intervalMs, Layout m = {}) {
    const int chunks = Ceil(std::min(m.bytes, 256), payload), blocks = Ceil(m.bytes, 256);
    return (m.segments ? blocks * chunks * 3 : blocks * (1 + chunks)) * intervalMs;
}

inline double WriteFloorMs(int payload, double intervalMs, Layout m = {}) {
    const int reports = Ceil(m.pageBytes + 2, payload) + (m.segments ? 1 : 0);
    const double perPageMs = std::max(reports * intervalMs, kWriteCycleMs);
    return m.bytes / m.pageBytes * perPageMs + ReadFloorMs(payload, intervalMs, m);
}

}  // namespace quillon::bench
