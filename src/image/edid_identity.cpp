#include "image/edid_identity.h"

#include <cstdio>

namespace quillon {

namespace {

constexpr int kDescriptorOffsets[] = {54, 72, 90, 108};
constexpr int kDescriptorBytes = 18;

// A display descriptor's text: up to 13 characters, ended by a line feed, padded with spaces.
std::string DescriptorText(const EdidImage& image, int offset) {
    std::string text;
    for (int k = offset + 5; k < offset + kDescriptorBytes && image[k] != 0x0A; ++k)
        text += static_cast<char>(image[k]);
    return text;
}

std::optional<PreferredMode> FirstDetailedTiming(const EdidImage& image) {
    for (int offset : kDescriptorOffsets) {
        const auto* d = &image[static_cast<std::size_t>(offset)];
        const int clock10kHz = d[0] | d[1] << 8;
        if (clock10kHz == 0) continue;  // a display descriptor
        PreferredMode mode;
        mode.width = d[2] | (d[4] & 0xF0) << 4;
        const int hblank = d[3] | (d[4] & 0x0F) << 8;
        mode.height = d[5] | (d[7] & 0xF0) << 4;
        const int vblank = d[6] | (d[7] & 0x0F) << 8;
        mode.interlaced = (d[17] & 0x80) != 0;
        // The descriptor gives one field's lines; edid-decode counts a frame of two fields as
        // twice those and one line more.
        const int fields = mode.interlaced ? 2 : 1;
        const double lines = fields * (mode.height + vblank) + (mode.interlaced ? 1 : 0);
        const double total = double(mode.width + hblank) * lines;
        if (total > 0) mode.refreshHz = clock10kHz * 10000.0 * fields / total;
        mode.height *= fields;
        return mode;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> DisplayDescriptorOffset(const EdidImage& image, std::uint8_t tag) {
    std::vector<int> slots(std::begin(kDescriptorOffsets), std::end(kDescriptorOffsets));
    if (image[kBlockBytes] == 0x02 && image[kBlockBytes + 2] >= 4)
        for (int offset = kBlockBytes + image[kBlockBytes + 2];
             offset + kDescriptorBytes <= kEdidBytes - 1; offset += kDescriptorBytes)
            slots.push_back(offset);
    for (int offset : slots)
        if (image[offset] == 0 && image[offset + 1] == 0 && image[offset + 3] == tag) return offset;
    return std::nullopt;
}

EdidIdentity DecodeIdentity(const EdidImage& image) {
    EdidIdentity id;
    const int vendor = image[8] << 8 | image[9];
    for (int shift : {10, 5, 0})
        id.manufacturer += static_cast<char>('@' + ((vendor >> shift) & 0x1F));
    id.productCode = image[10] | image[11] << 8;
    id.serialNumber = static_cast<std::uint32_t>(image[12] | image[13] << 8 | image[14] << 16) |
                      static_cast<std::uint32_t>(image[15]) << 24;
    id.modelYear = image[16] == 0xFF;
    id.week = id.modelYear ? 0 : image[16];
    id.year = 1990 + image[17];
    id.version = image[18];
    id.revision = image[19];
    if (const auto offset = DisplayDescriptorOffset(image, 0xFC))
        id.name = DescriptorText(image, *offset);
    if (const auto offset = DisplayDescriptorOffset(image, 0xFF))
        id.serialText = DescriptorText(image, *offset);
    id.preferred = FirstDetailedTiming(image);
    id.extensionCount = image[126];
    return id;
}

std::string ExtensionName(std::uint8_t tag) {
    switch (tag) {
        case 0x02:
            return "CTA-861";
        case 0x10:
            return "Video Timing";
        case 0x40:
            return "Display Information";
        case 0x50:
            return "Localized String";
        case 0x60:
            return "Digital Packet Video Link";
        case 0x70:
            return "DisplayID";
        case 0xF0:
            return "Block Map";
        case 0xFF:
            return "Manufacturer-Specific";
        default:
            return "Unknown EDID";
    }
}

}  // namespace quillon
