#pragma once

#include <cstdint>
#include <string_view>

#include "iow/iowkit.h"

namespace quillon::iow {

// Writes the serial number as UTF-16 text, low byte first, into the kIowSerialBufferBytes of
// `buffer`: up to eight characters, then zero characters to the end.
inline void WriteSerialAsUtf16(std::string_view serial, std::uint8_t* buffer) {
    for (int k = 0; k < kIowSerialBufferBytes / 2; ++k) {
        const char c = k < static_cast<int>(serial.size()) && k < 8 ? serial[k] : '\0';
        buffer[2 * k] = static_cast<std::uint8_t>(c);
        buffer[2 * k + 1] = 0;
    }
}

}  // namespace quillon::iow
