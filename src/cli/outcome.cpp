#include "cli/outcome.h"

#include <QFile>
#include <QJsonArray>
#include <algorithm>

#include "image/byte_cells.h"
#include "image/edid_identity.h"
#include "image/edid_layout.h"

namespace quillon::cli {

Outcome Fail(int status, const QString& message) {
    Outcome outcome;
    outcome.status = status;
    outcome.message = message;
    return outcome;
}

QString Hex(int value) {
    return "0x" + QString::fromStdString(HexText(static_cast<std::uint8_t>(value)));
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FileErrorText(const QString& doing, const QString& path, const FileError& error) {
    return QString("Cannot %1 %2: %3 (error %4).")
        .arg(doing, path, QString::fromStdString(error.description))
        .arg(error.number);
}

int AddFaults(Outcome& outcome, const std::vector<ByteFault>& faults) {
    QJsonArray failed;
    QJsonArray differing;
    for (const ByteFault& fault : faults) {
        QJsonObject item{{"offset", fault.offset}};
        item["expected"] = fault.expected ? QJsonValue(*fault.expected) : QJsonValue();
        QString line = "offset " + Hex(fault.offset) + ":";
        if (fault.expected) line += " expected " + Hex(*fault.expected) + ",";
        if (fault.found) {
            item["read"] = *fault.found;
            differing.append(item);
            line += " read " + Hex(*fault.found);
        } else {
            failed.append(item);
            line += " no answer";
        }
        outcome.lines << line;
    }
    outcome.json["failed"] = failed;
    outcome.json["differing"] = differing;
    if (!failed.isEmpty()) return kExitNoAnswer;
    return differing.isEmpty() ? kExitDone : kExitBytesDiffer;
}

void AddBlockVerdicts(Outcome& outcome, const EdidImage& image, int byteCount) {
    QJsonArray blocks;
    const std::vector<int> bad = BadBlocks(image, byteCount);
    for (int block = 0; block < byteCount / kBlockBytes; ++block) {
        const char* verdict = std::ranges::find(bad, block) != bad.end() ? "bad" : "good";
        blocks.append(QJsonObject{{"block", block}, {"checksum", verdict}});
        outcome.lines << QString("block %1: checksum %2").arg(block).arg(verdict);
    }
    outcome.json["blocks"] = blocks;
}

void Show(const EdidImage& image, Outcome& outcome) {
    const bool second = AddIdentity(image, outcome);
    AddBlockVerdicts(outcome, image, second ? kEdidBytes : kBlockBytes);
}

bool AddIdentity(const EdidImage& image, Outcome& outcome) {
    const EdidIdentity id = DecodeIdentity(image);
    QJsonObject& json = outcome.json;
    QStringList& lines = outcome.lines;
    lines << "manufacturer: " + QString::fromStdString(id.manufacturer)
          << QString("product code: %1").arg(id.productCode)
          << QString("serial number: %1").arg(id.serialNumber);
    json["manufacturer"] = QString::fromStdString(id.manufacturer);
    json["product_code"] = id.productCode;
    json["serial_number"] = static_cast<qint64>(id.serialNumber);
    if (id.serialText) {
        lines << "serial text: " + QString::fromStdString(*id.serialText);
        json["serial_text"] = QString::fromStdString(*id.serialText);
    }
    lines << (id.modelYear   ? QString("model year: %1").arg(id.year)
              : id.week == 0 ? QString("made in: %1").arg(id.year)
                             : QString("made in: week %1 of %2").arg(id.week).arg(id.year));
    json["week"] = id.week;
    json["year"] = id.year;
    json["model_year"] = id.modelYear;
    const QString version = QString("%1.%2").arg(id.version).arg(id.revision);
    lines << "EDID version: " + version;
    json["version"] = version;
    if (id.name) {
        lines << "name: " + QString::fromStdString(*id.name);
        json["name"] = QString::fromStdString(*id.name);
    }
    if (const auto& mode = id.preferred) {
        lines << QString("preferred mode: %1x%2%3 at %4 Hz")
                     .arg(mode->width)
                     .arg(mode->height)
                     .arg(mode->interlaced ? "i" : "")
                     .arg(mode->refreshHz, 0, 'f', 3);
        json["preferred"] = QJsonObject{{"width", mode->width},
                                        {"height", mode->height},
                                        {"refresh_hz", mode->refreshHz},
                                        {"interlaced", mode->interlaced}};
    }
    const bool second = id.extensionCount > 0 || std::any_of(image.begin() + kBlockBytes,
                                                             image.end(), [](auto b) { return b; });
    QString extensions = QString("extension blocks: %1").arg(id.extensionCount);
    if (second) {
        const QString tag = QString::fromStdString(ExtensionName(image[kBlockBytes]));
        extensions += " (block 1: " + tag + ")";
        json["extension_tags"] = QJsonArray{tag};
    }
    lines << extensions;
    json["extensions"] = id.extensionCount;
    return second;
}

}  // namespace quillon::cli
