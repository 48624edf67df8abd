#pragma once

// What the EDID's own layout says about an image: the fixed header it starts with and each
// 128-byte block's checksum (its last byte makes the block add up to 0 mod 256).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "image/edid_image.h"

namespace quillon {

inline constexpr std::array<std::uint8_t, 8> kEdidHeader = {0x00, 0xFF, 0xFF, 0xFF,
                                                            0xFF, 0xFF, 0xFF, 0x00};

bool HasEdidHeader(std::span<const std::uint8_t> image);

// The blocks (0, 1, ...) among the first `byteCount` bytes whose bytes do not add up to 0 mod
// 256.
std::vector<int> BadBlocks(std::span<const std::uint8_t> image, int byteCount);

// Sets the last byte of each block among the first `byteCount` so that the block adds up to 0,
// after the checksum of each DisplayID section that lies within its block.
void FixChecksums(std::span<std::uint8_t> image, int byteCount);

// Extension blocks' tags (their byte 0).
inline constexpr std::uint8_t kCtaTag = 0x02;
inline constexpr std::uint8_t kDisplayIdTag = 0x70;

// A DisplayID extension block's section: from its version (byte 1) through its own checksum, the
// 4 bytes of its header, as many as byte 2 says, and 1. A source takes it only within the 127
// bytes from byte 1 (drm_displayid.c).
inline constexpr int kDisplayIdSectionStart = 1;
inline int DisplayIdSectionBytes(std::span<const std::uint8_t> block) { return 4 + block[2] + 1; }
inline bool DisplayIdSectionFits(std::span<const std::uint8_t> block) {
    return DisplayIdSectionBytes(block) <= kBlockBytes - kDisplayIdSectionStart;
}

// How many blocks the EDID says it has: its base block and the extensions that byte 126 counts,
// or, where block 1 is a CTA-861 block whose first data block is the HDMI Forum's EDID extension
// override (HF-EEODB), the extensions that it counts. `image` holds at least block 0.
int EdidBlockCount(std::span<const std::uint8_t> image);

// The first two blocks of an image of any length, zeros past its end: what the window shows, and
// where identity and stamps are read.
EdidImage FirstTwoBlocks(std::span<const std::uint8_t> image);

}  // namespace quillon
