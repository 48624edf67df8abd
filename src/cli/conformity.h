#pragma once

// edid-decode's judgement of an image's conformity to the standards (its -c): information for
// the operator, never a gate, since most real displays that work on real sources fail it.

#include <QStringList>
#include <span>
#include <variant>

namespace quillon::cli {

struct Conformity {
    bool passed = false;
    // Each as edid-decode words it: the block it names, then the message and its further lines.
    QStringList failures, warnings;
};

// The verdict and the messages of edid-decode -c's report; nothing when it gives no verdict.
std::optional<Conformity> ParseConformity(const QString& report);

// edid-decode -c run on `image`; or why it gave no verdict (not installed, hung, the image not
// an EDID to it).
std::variant<Conformity, QString> JudgeConformity(std::span<const std::uint8_t> image);

}  // namespace quillon::cli
