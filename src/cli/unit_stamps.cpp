#include "cli/unit_stamps.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSysInfo>
#include <variant>

#include "image/edid_layout.h"

namespace quillon::cli {

std::optional<QString> StampOptions(const QCommandLineParser& parser,
                                    const std::array<QCommandLineOption, 4>& options,
                                    Request& request) {
    const auto& [serial, text, from, date] = options;
    if (parser.isSet(serial)) {
        bool ok = false;
        const qulonglong number = parser.value(serial).toULongLong(&ok);
        if (!ok || number > UINT32_MAX)
            return "--stamp-serial takes a number from 0 to 4294967295.";
        request.stamp.serialNumber = static_cast<std::uint32_t>(number);
    }
    if (parser.isSet(text)) {
        const std::string value = parser.value(text).toStdString();
        if (!ValidDescriptorText(value))
            return "--stamp-serial-text takes 1 to 13 printable ASCII characters.";
        request.stamp.serialText = value;
    }
    request.counterFile = parser.value(from);
    if (parser.isSet(serial) && parser.isSet(from))
        return "--stamp-serial and --stamp-serial-from exclude each other.";
    if (parser.isSet(date)) {
        int week = 0, year = 0;
        const QString value = parser.value(date);
        if (value == "today") {
            week = QDateTime::currentDateTimeUtc().date().weekNumber(&year);
        } else {
            const auto m = QRegularExpression(R"(^(\d{4})-(\d{1,2})$)").match(value);
            if (m.hasMatch()) year = m.captured(1).toInt(), week = m.captured(2).toInt();
        }
        if (week < 1 || week > 53 || year < 1990 || year > 2245)
            return "--stamp-date takes YYYY-WW (week 1 to 53 of 1990 to 2245) or today.";
        request.stamp.week = week;
        request.stamp.year = year;
    }
    return std::nullopt;
}

bool StampUnit(const Request& request, EdidBytes& image, CommandResult& outcome) {
    Stamp stamp = request.stamp;
    if (!request.counterFile.isEmpty()) {
        const auto taken = TakeCounter(LocalPath(request.counterFile));
        if (const auto* error = std::get_if<FileError>(&taken)) {
            outcome = Fail(kExitFileError,
                           FileErrorText("take a number from", request.counterFile, *error));
            return false;
        }
        stamp.serialNumber = std::get<std::uint32_t>(taken);
    }
    // Where a stamp goes, in the first two blocks; every block's checksum after.
    EdidImage first = FirstTwoBlocks(image);
    const bool descriptor = ApplyStamp(first, stamp, std::min<int>(request.byteCount, kEdidBytes));
    std::copy_n(first.begin(), std::min<std::size_t>(image.size(), first.size()), image.begin());
    FixChecksums(image, request.byteCount);
    outcome.stamped = Stamped{stamp, descriptor};
    return true;
}

// The unit's record for the log: the outcome, and when, where, from what file, the bytes meant
// and read back (SHA-256) and who the image says the display is.
namespace {

QJsonObject UnitRecord(const Request& request, const CommandResult& outcome) {
    QJsonObject record = Json(outcome, request);
    record["time"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    record["host"] = QSysInfo::machineHostName();
    record["image_file"] = QFileInfo(request.file).absoluteFilePath();
    const auto sha256 = [&](const std::optional<EdidBytes>& image) -> QJsonValue {
        if (!image) return QJsonValue();
        const QByteArray bytes(reinterpret_cast<const char*>(image->data()), request.byteCount);
        return QString(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    };
    record["sha256_meant"] = sha256(outcome.meant);
    record["sha256_read"] = sha256(outcome.readBack);
    if (outcome.meant)
        record["identity"] = IdentityJson(IdentityOf(
            std::span(*outcome.meant).first(static_cast<std::size_t>(request.byteCount))));
    return record;
}

}  // namespace

void Record(const Request& request, UnitLog& log, CommandResult& outcome) {
    if (!log.IsOpen()) return;
    const QByteArray line =
        QJsonDocument(UnitRecord(request, outcome)).toJson(QJsonDocument::Compact) + '\n';
    if (auto error = log.Append(line.toStdString())) {
        outcome.status = kExitFileError;
        outcome.message = FileErrorText("append to", request.logFile, *error);
    }
}

}  // namespace quillon::cli
