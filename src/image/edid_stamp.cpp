#include "image/edid_stamp.h"

#include "image/edid_identity.h"
#include "image/edid_layout.h"

namespace quillon {

namespace {

constexpr int kSerialNumberOffset = 12;
constexpr int kWeekOffset = 16;
constexpr int kYearOffset = 17;
constexpr int kFirstYear = 1990;

}  // namespace

bool ValidDescriptorText(const std::string& text) {
    if (text.empty() || static_cast<int>(text.size()) > kDescriptorTextBytes) return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

bool ApplyStamp(EdidImage& image, const Stamp& stamp, int byteCount) {
    if (stamp.serialNumber)
        for (int k = 0; k < 4; ++k)
            image[kSerialNumberOffset + k] =
                static_cast<std::uint8_t>(*stamp.serialNumber >> (8 * k));
    if (stamp.week) {
        image[kWeekOffset] = static_cast<std::uint8_t>(*stamp.week);
        image[kYearOffset] = static_cast<std::uint8_t>(stamp.year - kFirstYear);
    }
    const std::optional<int> descriptor = DisplayDescriptorOffset(image, 0xFF);
    const std::optional<std::string> text = stamp.serialText ? stamp.serialText
                                            : stamp.serialNumber
                                                ? std::optional(std::to_string(*stamp.serialNumber))
                                                : std::nullopt;
    if (descriptor && text) {
        // As EDID lays descriptor text out: ended by a line feed, padded with spaces.
        const int start = *descriptor + kDescriptorTextOffset;
        for (int k = 0; k < kDescriptorTextBytes; ++k)
            image[start + k] = k < static_cast<int>(text->size())
                                   ? static_cast<std::uint8_t>((*text)[k])
                               : k == static_cast<int>(text->size()) ? 0x0A
                                                                     : 0x20;
    }
    FixChecksums(image, byteCount);
    return descriptor.has_value();
}

std::set<int> StampedOffsets(const EdidImage& image) {
    std::set<int> offsets{kSerialNumberOffset, 13, 14, 15, kWeekOffset, kYearOffset,
                          kBlockBytes - 1};
    if (const std::optional<int> descriptor = DisplayDescriptorOffset(image, 0xFF)) {
        for (int k = 0; k < kDescriptorTextBytes; ++k)
            offsets.insert(*descriptor + kDescriptorTextOffset + k);
        offsets.insert((*descriptor / kBlockBytes) * kBlockBytes + kBlockBytes - 1);
    }
    return offsets;
}

}  // namespace quillon
