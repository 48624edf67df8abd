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
    BlockChecksum checksum;
    for (int n = 1; n <= byteCount; ++n)
        if (checksum.AddByte(n, image[n - 1])) bad.push_back(n / kBlockBytes - 1);
    return bad;
}

void FixChecksums(EdidImage& image, int byteCount) {
    for (int block = 0; block < byteCount / kBlockBytes; ++block) {
        std::uint8_t& last = image[static_cast<std::size_t>(block * kBlockBytes + kBlockBytes - 1)];
        last = static_cast<std::uint8_t>(last - BlockSum(image, block));
    }
}

}  // namespace quillon
