#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace quillon {

// The serial-number buffer of the start-up: nine UTF-16 characters and one spare byte.
inline constexpr int kSerialBufferBytes = 19;
using SerialBuffer = std::array<std::uint8_t, kSerialBufferBytes>;

// "0x15 or 21": upper-case hex without leading zeros, then signed decimal. A value with bit
// 31 set shows its eight hex digits and a negative decimal.
QString IdText(std::uint32_t value);

// The buffer as UTF-16 text, low byte first, up to the first zero character (at most nine
// characters; the last byte belongs to none).
QString SerialText(const SerialBuffer& buffer);

}  // namespace quillon
