#pragma once

// What the EDID's own layout says about an image: the fixed header it starts with and each
// 128-byte block's checksum (its last byte makes the block add up to 0 mod 256).

#include <array>
#include <cstdint>
#include <vector>

#include "image/edid_image.h"

namespace quillon {

inline constexpr std::array<std::uint8_t, 8> kEdidHeader = {0x00, 0xFF, 0xFF, 0xFF,
                                                            0xFF, 0xFF, 0xFF, 0x00};

bool HasEdidHeader(const EdidImage& image);

// The blocks (0, 1) among the first `byteCount` bytes whose bytes do not add up to 0 mod 256.
std::vector<int> BadBlocks(const EdidImage& image, int byteCount);

// Sets the last byte of each block among the first `byteCount` so that the block adds up to 0.
void FixChecksums(EdidImage& image, int byteCount);

}  // namespace quillon
