#pragma once

// Each unit's own identity, stamped into the image as it is written: the serial number (the
// 32-bit field in bytes 12..15 and the display serial number descriptor's text) and the week and
// year of manufacture (bytes 16 and 17). Both blocks' checksums are recomputed afterwards.

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "image/edid_image.h"

namespace quillon {

struct Stamp {
    std::optional<std::uint32_t> serialNumber;  // the field, and the descriptor's text (decimal)
    std::optional<std::string> serialText;      // the descriptor's text alone
    std::optional<int> week;                    // 1..53, with `year`
    int year = 0;                               // 1990..2245
    bool Any() const { return serialNumber || serialText || week; }
};

// Whether `text` can be a display descriptor's text: 1 to 13 printable ASCII characters.
bool ValidDescriptorText(const std::string& text);

// Stamps `stamp` into the image and recomputes the checksums of the first `byteCount` bytes'
// blocks. Returns whether the image has a display serial number descriptor (without one only
// the 32-bit field is stamped; a text alone is then not stamped at all).
bool ApplyStamp(EdidImage& image, const Stamp& stamp, int byteCount);

// The bytes that a stamp may change: 12..17, the serial number descriptor's text, and the
// checksum bytes of the blocks these lie in.
std::set<int> StampedOffsets(const EdidImage& image);

}  // namespace quillon
