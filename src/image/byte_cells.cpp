#include "image/byte_cells.h"

namespace quillon {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

std::string HexText(std::uint8_t value) {
    return std::string{kHexDigits[value >> 4], kHexDigits[value & 0x0F]};
}

std::string CharText(std::uint8_t value) {
    const bool shown = (value >= 32 && value <= 90) || (value >= 97 && value <= 122);
    return shown ? std::string(1, static_cast<char>(value)) : std::string(".");
}

std::optional<std::uint8_t> ParseHexText(std::string_view text) {
    if (text.empty()) {
        return std::uint8_t{0};
    }
    if (text.size() != 2) {
        return std::nullopt;
    }
    const int high = HexDigitValue(text[0]);
    const int low = HexDigitValue(text[1]);
    if (high < 0 || low < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(high * 16 + low);
}

}  // namespace quillon
