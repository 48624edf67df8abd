// The pair conversion of XML block texts. Each input byte is one character (bytes above 0x7F
// stand for characters beyond ASCII). Checks the conversion against its definition.
#include <cstdlib>
#include <string>

#include "files/image_files.h"

namespace {
int Digit(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    return -1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u32string text;
    for (std::size_t i = 0; i < size; ++i)
        text.push_back(data[i] < 0x80 ? data[i] : 0x100 + data[i]);
    for (int k = 0; k < 130; ++k) {
        const std::uint8_t value = quillon::BlockTextByte(text, k);
        const std::size_t start = static_cast<std::size_t>(k) * 2;
        if (start >= text.size()) {
            if (value != 0) std::abort();
            continue;
        }
        // Two hex digits at the pair's place give exactly their value.
        if (start + 1 < text.size() && Digit(text[start]) >= 0 && Digit(text[start + 1]) >= 0 &&
            value != Digit(text[start]) * 16 + Digit(text[start + 1])) {
            std::abort();
        }
        // A pair that starts with something other than a digit or blank gives 0.
        const char32_t first = text[start];
        if (Digit(first) < 0 && first != U' ' && first != U'\t' && first != U'\n' && value != 0)
            std::abort();
    }
    std::uint8_t block[128];
    quillon::DecodeBlockText(text, block);
    return 0;
}
