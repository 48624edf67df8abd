#pragma once

// Who a display says it is, from its EDID's base block: the identity that a production line
// records for each unit, not a check of the EDID's conformance. Decodes only what is listed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/edid_image.h"

namespace quillon {

// The active pixels and lines, and the refresh rate, as edid-decode gives them: for an
// interlaced mode the frame's lines (two fields) and the field rate.
struct PreferredMode {
    int width = 0;
    int height = 0;
    double refreshHz = 0;
    bool interlaced = false;
};

struct EdidIdentity {
    std::string manufacturer;  // the three-letter PNP id
    int productCode = 0;
    std::uint32_t serialNumber = 0;          // 0: none given
    std::optional<std::string> serialText;   // the display serial number descriptor (0xFF)
    int week = 0;                            // 1..54; 0: none given
    int year = 0;                            // of manufacture, or the model year
    bool modelYear = false;                  // week byte 0xFF: `year` is the model year
    int version = 0, revision = 0;           // of the EDID structure (1.3, 1.4)
    std::optional<std::string> name;         // the display product name descriptor (0xFC)
    std::optional<PreferredMode> preferred;  // the first detailed timing descriptor
    int extensionCount = 0;                  // what the base block declares
};

EdidIdentity DecodeIdentity(const EdidImage& image);

// Where the first display descriptor with `tag` (0xFC name, 0xFF serial number) starts: in the
// base block's four slots, then in a CTA-861 block's own descriptor area (from the offset in its
// byte 2 to its checksum), where some displays keep theirs.
std::optional<int> DisplayDescriptorOffset(const EdidImage& image, std::uint8_t tag);

// The bytes of a display descriptor's text: 13, after its 5-byte header.
inline constexpr int kDescriptorTextOffset = 5;
inline constexpr int kDescriptorTextBytes = 13;

// The name of an extension block's tag (its first byte), as edid-decode words it: "CTA-861",
// "DisplayID", ..., "Unknown EDID".
std::string ExtensionName(std::uint8_t tag);

}  // namespace quillon
