#include "image/edid_layout.h"

#include <algorithm>
#include <numeric>

namespace quillon {

namespace {

std::uint8_t BlockSum(std::span<const std::uint8_t> image, int block) {
    const auto begin = image.begin() + block * kBlockBytes;
    return static_cast<std::uint8_t>(std::accumulate(begin, begin + kBlockBytes, 0));
}

}  // namespace

bool HasEdidHeader(std::span<const std::uint8_t> image) {
    return image.size() >= kEdidHeader.size() &&
           std::equal(kEdidHeader.begin(), kEdidHeader.end(), image.begin());
}

std::vector<int> BadBlocks(std::span<const std::uint8_t> image, int byteCount) {
    std::vector<int> bad;
    BlockChecksum checksum;
    for (int n = 1; n <= byteCount; ++n)
        if (checksum.AddByte(n, image[n - 1])) bad.push_back(n / kBlockBytes - 1);
    return bad;
}

void FixChecksums(std::span<std::uint8_t> image, int byteCount) {
    for (int block = 0; block < byteCount / kBlockBytes; ++block) {
        const auto bytes = image.subspan(static_cast<std::size_t>(block * kBlockBytes), kBlockBytes);
        if (block > 0 && bytes[0] == kDisplayIdTag && DisplayIdSectionFits(bytes)) {
            const auto section =
                bytes.subspan(kDisplayIdSectionStart, std::size_t(DisplayIdSectionBytes(bytes)));
            section.back() = static_cast<std::uint8_t>(
                section.back() - std::accumulate(section.begin(), section.end(), 0));
        }
        std::uint8_t& last = image[static_cast<std::size_t>(block * kBlockBytes + kBlockBytes - 1)];
        last = static_cast<std::uint8_t>(last - BlockSum(image, block));
    }
}

int EdidBlockCount(std::span<const std::uint8_t> image) {
    constexpr int kExtensionCount = 126, kFirstDataBlock = 4;
    constexpr int kExtendedTagCode = 7, kHfEeodbTag = 0x78;
    if (image.size() >= 2 * kBlockBytes && image[kBlockBytes] == kCtaTag) {
        const auto dataBlock = image.subspan(kBlockBytes + kFirstDataBlock, 3);
        if (dataBlock[0] >> 5 == kExtendedTagCode && (dataBlock[0] & 0x1F) >= 2 &&
            dataBlock[1] == kHfEeodbTag)
            return 1 + dataBlock[2];
    }
    return 1 + image[kExtensionCount];
}

EdidImage FirstTwoBlocks(std::span<const std::uint8_t> image) {
    EdidImage first{};
    std::copy_n(image.begin(), std::min(image.size(), first.size()), first.begin());
    return first;
}

}  // namespace quillon
