#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quillon {

// Size of the whole image and of one block (the base block or one extension block).
inline constexpr int kEdidBytes = 256;
inline constexpr int kBlockBytes = 128;

// The EDID image: offset k holds memory address k or file position k. All zero when made.
using EdidImage = std::array<std::uint8_t, kEdidBytes>;

// The command line's images: any number of blocks, as many as the largest memory holds.
using EdidBytes = std::vector<std::uint8_t>;
inline constexpr int kLargestMemoryBytes = 2048;

// How many bytes Read EDID and Write EDID handle: 128 (one block) or 256 (two).
inline constexpr std::int16_t kByteCountOneBlock = 128;
inline constexpr std::int16_t kByteCountTwoBlocks = 256;

// Judges each 128-byte block as a pass walks byte numbers 1, 2, 3, ... in order:
// a block is good when its bytes add up to 0 modulo 256. The sum restarts at each block.
class BlockChecksum {
  public:
    // Adds byte number `byteNumber` (counted from 1) with value `value`. Returns true
    // when that byte ends a block (byte numbers 128 and 256) whose sum is not 0 mod 256.
    bool AddByte(int byteNumber, std::uint8_t value) {
        blockSum_ = static_cast<std::uint8_t>(blockSum_ + value);
        if (byteNumber % kBlockBytes != 0) {
            return false;
        }
        const bool bad = blockSum_ != 0;
        blockSum_ = 0;
        return bad;
    }

  private:
    std::uint8_t blockSum_ = 0;  // kept modulo 256
};

}  // namespace quillon
