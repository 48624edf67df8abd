#include "image/source_rules.h"

#include <algorithm>
#include <numeric>

#include "image/edid_layout.h"

namespace quillon {

namespace {

constexpr int kVersionByte = 18;
// A CTA-861 block: its revision (byte 1), where its detailed timings start (byte 2; 0: none),
// and its data blocks from byte 4 up to them, read only from revision 3 (drm_edid.c).
constexpr int kCtaRevisionByte = 1, kCtaTimingOffsetByte = 2, kCtaDataBlocksStart = 4;
constexpr int kCtaDataBlocksRevision = 3;

void CtaBreaks(std::span<const std::uint8_t> bytes, int block, std::vector<RuleBreak>& broken) {
    const int revision = bytes[kCtaRevisionByte], offset = bytes[kCtaTimingOffsetByte];
    if (offset != 0 && (offset < kCtaDataBlocksStart || offset >= kBlockBytes))
        broken.push_back({block, SourceRule::CtaTimingOffset, offset});
    else if (revision < kCtaDataBlocksRevision && offset > kCtaDataBlocksStart)
        broken.push_back({block, SourceRule::CtaRevision, revision});
}

void DisplayIdBreaks(std::span<const std::uint8_t> bytes, int block,
                     std::vector<RuleBreak>& broken) {
    if (!DisplayIdSectionFits(bytes)) {
        broken.push_back({block, SourceRule::DisplayIdLength, DisplayIdSectionBytes(bytes)});
        return;
    }
    const auto section =
        bytes.subspan(kDisplayIdSectionStart, std::size_t(DisplayIdSectionBytes(bytes)));
    if (std::accumulate(section.begin(), section.end(), 0) % 256 != 0)
        broken.push_back({block, SourceRule::DisplayIdChecksum, DisplayIdSectionBytes(bytes)});
}

}  // namespace

std::vector<RuleBreak> SourceRuleBreaks(std::span<const std::uint8_t> image) {
    std::vector<RuleBreak> broken;
    const int blocks = static_cast<int>(image.size()) / kBlockBytes;
    if (blocks == 0) return {{0, SourceRule::Header, 0}};
    if (!HasEdidHeader(image)) broken.push_back({0, SourceRule::Header, 0});
    if (image[kVersionByte] != 1) broken.push_back({0, SourceRule::Version, image[kVersionByte]});
    if (EdidBlockCount(image) > blocks)
        broken.push_back({0, SourceRule::ExtensionCount, EdidBlockCount(image) - 1});
    const std::vector<int> bad = BadBlocks(image, blocks * kBlockBytes);
    for (int block = 0; block < blocks; ++block) {
        if (std::ranges::find(bad, block) != bad.end())
            broken.push_back({block, SourceRule::Checksum, 0});
        const auto bytes =
            image.subspan(static_cast<std::size_t>(block * kBlockBytes), kBlockBytes);
        if (block == 0) continue;
        if (bytes[0] == kCtaTag) CtaBreaks(bytes, block, broken);
        if (bytes[0] == kDisplayIdTag) DisplayIdBreaks(bytes, block, broken);
    }
    return broken;
}

std::string RuleText(const RuleBreak& broken) {
    const std::string block = "Block " + std::to_string(broken.block);
    const std::string value = std::to_string(broken.value);
    switch (broken.rule) {
        case SourceRule::Checksum:
            return block + "'s checksum is bad";
        case SourceRule::Header:
            return block + " does not start with the EDID header 00 FF FF FF FF FF FF 00";
        case SourceRule::Version:
            return block + " says EDID version " + value + ", and a source takes version 1 only";
        case SourceRule::ExtensionCount:
            return block + " counts " + value +
                   (broken.value == 1 ? " extension block" : " extension blocks") +
                   ", more than the image holds";
        case SourceRule::CtaRevision:
            return block + "'s CTA-861 data blocks are in a revision " + value +
                   " block, and a source reads them from revision 3 only";
        case SourceRule::CtaTimingOffset:
            return block + "'s CTA-861 detailed timings are said to start at byte " + value +
                   ", outside the block";
        case SourceRule::DisplayIdLength:
            return block + "'s DisplayID section of " + value + " bytes is longer than the block";
        case SourceRule::DisplayIdChecksum:
            return block + "'s DisplayID section checksum is bad";
    }
    return block;
}

std::string RuleConsequence(const RuleBreak& broken) {
    switch (broken.rule) {
        case SourceRule::Checksum:
            return broken.block == 0 ? "a source drops the whole EDID" : "a source drops the block";
        case SourceRule::Header:
        case SourceRule::Version:
            return "a source drops the whole EDID";
        case SourceRule::ExtensionCount:
            return "a source reads the blocks past the image from whatever the memory holds there";
        case SourceRule::CtaRevision:
            return "a source ignores the block's data blocks";
        case SourceRule::CtaTimingOffset:
        case SourceRule::DisplayIdLength:
        case SourceRule::DisplayIdChecksum:
            return "a source ignores the block";
    }
    return {};
}

std::string RuleName(SourceRule rule) {
    constexpr const char* kNames[] = {"checksum",         "header",
                                      "version",          "extension-count",
                                      "cta-revision",     "cta-timing-offset",
                                      "displayid-length", "displayid-checksum"};
    return kNames[static_cast<int>(rule)];
}

}  // namespace quillon
