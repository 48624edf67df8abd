#include "cli/conformity.h"

#include <QProcess>
#include <QRegularExpression>

namespace quillon::cli {

namespace {

constexpr int kDecoderLimitMs = 30000;

// The messages of one section of the report ("Warnings:" or "Failures:"): under a line that
// names a block (no indent), each message is indented by two, its further lines by more.
QStringList Messages(const QStringList& lines, const QString& title) {
    QStringList messages;
    QString block;
    for (qsizetype k = lines.indexOf(title) + 1; k > 0 && k < lines.size(); ++k) {
        const QString& line = lines[k];
        if (line.isEmpty() && block.isEmpty()) continue;  // the one after the title
        if (line.isEmpty()) break;
        if (!line.startsWith(' '))
            block = line;
        else if (!line.startsWith("   ") && !block.isEmpty())
            messages << block + ' ' + line.trimmed();
        else if (!messages.isEmpty())
            messages.last() += '\n' + line;
    }
    return messages;
}

}  // namespace

std::optional<Conformity> ParseConformity(const QString& report) {
    const QRegularExpressionMatch verdict =
        QRegularExpression("^EDID conformity: (PASS|FAIL)$", QRegularExpression::MultilineOption)
            .match(report);
    if (!verdict.hasMatch()) return std::nullopt;
    // The sections follow the last block's report and edid-decode's version.
    const QStringList lines = report.mid(report.lastIndexOf("\nedid-decode SHA")).split('\n');
    return Conformity{verdict.captured(1) == "PASS", Messages(lines, "Failures:"),
                      Messages(lines, "Warnings:")};
}

std::variant<Conformity, QString> JudgeConformity(std::span<const std::uint8_t> image) {
    QProcess decoder;
    decoder.start("edid-decode", {"-c"});
    if (!decoder.waitForStarted(kDecoderLimitMs))
        return QString("--conformity runs edid-decode, which is not installed here (Debian: "
                       "sudo apt install edid-decode).");
    decoder.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    decoder.closeWriteChannel();
    if (!decoder.waitForFinished(kDecoderLimitMs)) {
        decoder.kill();
        decoder.waitForFinished();
        return QString("edid-decode did not finish within %1 s.").arg(kDecoderLimitMs / 1000);
    }
    if (auto judged = ParseConformity(QString::fromUtf8(decoder.readAllStandardOutput())))
        return *judged;
    return "edid-decode gave no verdict: " +
           QString::fromUtf8(decoder.readAllStandardError()).trimmed();
}

}  // namespace quillon::cli
