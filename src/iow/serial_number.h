#pragma once

// The adapter's serial number as IowKitGetSerialNumber gives it: UTF-16 text, low byte first.

#include <cstdint>
#include <span>
#include <string>
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

// The text of `buffer` up to its first zero character; an odd last byte belongs to none.
inline std::u16string SerialFromUtf16(std::span<const std::uint8_t> buffer) {
    std::u16string text;
    for (std::size_t k = 0; k + 1 < buffer.size(); k += 2) {
        const auto c = static_cast<char16_t>(buffer[k] | buffer[k + 1] << 8);
        if (c == 0) break;
        text += c;
    }
    return text;
}

}  // namespace quillon::iow
