#pragma once

// The window's four link operations over the adapter's I2C function, each a transaction of I2C
// messages at the window's 8 bytes a report: every request is written on pipe 1 and answered by
// one reply (none after the enable report).

#include <cstdint>

#include "iic/i2c_bus.h"
#include "iow/iowkit.h"

namespace quillon {

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

// Reads the memory byte at `offset`: set-address request (polled over a write cycle), then a
// read request.
IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting = nullptr);

// Writes `value` at `offset`, polled over the memory's write cycle.
IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting = nullptr);

// Whether a device acknowledges `addressByte` (0..255, either direction).
IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte);
}  // namespace quillon
