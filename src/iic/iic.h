#pragma once

// The four link operations over the adapter's I2C function. Each builds its request in one
// 8-byte buffer, writes it on pipe 1 and reads one reply into the same buffer (none after
// the enable report).

#include <chrono>
#include <cstdint>
#include <functional>

#include "iic/i2c_report.h"
#include "iow/iowkit.h"

namespace quillon {

// How long a write or a set-address request is repeated while the memory does not
// acknowledge its address (it is busy with its write cycle, 5 ms on a 24C02).
inline constexpr auto kAckPollLimit = std::chrono::milliseconds(20);
// Pause between two such repeats. A USB exchange takes about a millisecond anyway; the pause
// keeps an adapter that answers faster from flooding the bus.
inline constexpr auto kAckPollInterval = std::chrono::microseconds(250);

// Called once per operation, right after its first request was sent and before its reply is
// read, so that the caller can let the window repaint while the adapter works. Returning
// false abandons the operation: no reply is read and nothing more is sent.
using WhileWaiting = std::function<bool()>;

// Switches the I2C function on (flag 1) or off (flag 0). Returns what IowKitWrite returned.
std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag);

// Every operation tells apart a bus that said no (a reply with the error flag) from an
// adapter that did not answer at all (the request was not taken, or no reply came in time).
struct IicByte {
    bool ok = false;         // a reply carrying the byte was read
    std::uint8_t value = 0;  // 0 when !ok
    bool abandoned = false;  // WhileWaiting said stop
    bool noAnswer = false;
};

struct IicWriteResult {
    bool ok = false;  // the memory acknowledged every byte
    bool abandoned = false;
    bool noAnswer = false;
    explicit operator bool() const { return ok; }
};

struct IicProbeResult {
    bool present = false;  // a reply came and the address byte was acknowledged
    bool noAnswer = false;
    explicit operator bool() const { return present; }
};

// Reads the memory byte at `offset`: set-address request, then a read request.
IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting = nullptr);

// Writes `value` at `offset`.
IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting = nullptr);

// Whether a device acknowledges `addressByte` (0..255, either direction).
IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte);

}  // namespace quillon
