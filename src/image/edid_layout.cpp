#include "image/edid_layout.h"

#include <algorithm>
#include <numeric>

namespace quillon {

namespace {

std::uint8_t BlockSum(const EdidImage& image, int block) {
    const auto begin = image.begin() + block * kBlockBytes;
    return static_cast<std::uint8_t>(std::accumulate(begin, begin + kBlockBytes, 0));
}

}  // namespace

bool HasEdidHeader(const EdidImage& image) {
    return std::equal(kEdidHeader.begin(), kEdidHeader.end(), image.begin());
}

std::vector<int> BadBlocks(const EdidImage& image, int byteCount) {
    std::vector<int> bad;
    for (int block = 0; block < byteCount / kBlockBytes; ++block)
        if (BlockSum(image, block) != 0) bad.push_back(block);
    return bad;
}

void FixChecksums(EdidImage& image, int byteCount) {
    for (int block = 0; block < byteCount / kBlockBytes; ++block) {
        std::uint8_t& last = image[static_cast<std::size_t>(block * kBlockBytes + kBlockBytes - 1)];
        last = static_cast<std::uint8_t>(last - BlockSum(image, block));
    }
}

}  // namespace quillon
