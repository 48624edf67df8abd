#pragma once

// The four link operations over the adapter's I2C function. Each builds its request in one
// 8-byte buffer, writes it on pipe 1 and reads one reply into the same buffer (none after
// the enable report).

#include <chrono>
#include <cstdint>

#include "iic/i2c_report.h"
#include "iow/iowkit.h"

namespace quillon {

// How long a write or a set-address request is repeated while the memory does not
// acknowledge its address (it is busy with its write cycle, 5 ms on a 24C02).
inline constexpr auto kAckPollLimit = std::chrono::milliseconds(20);
// Pause between two such repeats. A USB exchange takes about a millisecond anyway; the pause
// keeps an adapter that answers faster from flooding the bus.
inline constexpr auto kAckPollInterval = std::chrono::microseconds(250);

// Switches the I2C function on (flag 1) or off (flag 0). Returns what IowKitWrite returned.
std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag);

struct IicByte {
    bool ok = false;         // a reply carrying the byte was read
    std::uint8_t value = 0;  // 0 when !ok
};

// Reads the memory byte at `offset`: set-address request, then a read request.
IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset);

// Writes `value` at `offset`. Returns whether the memory acknowledged every byte.
bool IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value);

// Whether a device acknowledges `addressByte` (0..255, either direction).
bool IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte);

}  // namespace quillon
