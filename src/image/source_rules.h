#pragma once

// What a source (a graphics driver, a TV box, an AV receiver) holds an EDID to before it uses
// it, after Linux's DRM (drm_edid.c, drm_displayid.c): what breaks one of these rules is thrown
// away on the display however well the memory holds it. Not a judge of conformity to the
// standards (edid-decode -c is), which real displays that work seldom meet.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillon {

enum class SourceRule {
    Checksum,          // the block's bytes do not add up to 0: the block is dropped
    Header,            // no EDID header: the EDID is dropped
    Version,           // a structure version other than 1: the EDID is dropped
    ExtensionCount,    // more blocks counted than the image holds: read from whatever is there
    CtaRevision,       // data blocks in a CTA-861 block before revision 3: they are ignored
    CtaTimingOffset,   // detailed timings said to start outside the block: the block is ignored
    DisplayIdLength,   // a DisplayID section longer than its block: the block is ignored
    DisplayIdChecksum  // a DisplayID section that does not add up to 0: the block is ignored
};

struct RuleBreak {
    int block = 0;
    SourceRule rule = SourceRule::Checksum;
    int value = 0;  // what the block says: the version, count, revision, offset or length
    bool operator==(const RuleBreak&) const = default;
};

// Every rule that the image breaks, block by block; the image is what would be in the memory
// from address 0 (whole blocks).
std::vector<RuleBreak> SourceRuleBreaks(std::span<const std::uint8_t> image);

// "Block 1's DisplayID section checksum is bad": the block and what breaks the rule.
std::string RuleText(const RuleBreak& broken);
// What a source does about it: "drops the block", "ignores its data blocks", ...
std::string RuleConsequence(const RuleBreak& broken);
// A word for scripts: "checksum", "displayid-checksum", ...
std::string RuleName(SourceRule rule);

}  // namespace quillon
