#include "cli/command_result.h"

#include <QFile>
#include <QJsonArray>
#include <algorithm>

#include "image/byte_cells.h"
#include "image/edid_layout.h"

namespace quillon::cli {

CommandResult Fail(int status, const QString& message) {
    CommandResult outcome;
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

int CommandResult::SetFaults(std::vector<ByteFault> listed) {
    faults = std::move(listed);
    const auto noAnswer = [](const ByteFault& f) { return !f.found; };
    return std::ranges::any_of(*faults, noAnswer) ? kExitNoAnswer
           : faults->empty()                      ? kExitDone
                                                  : kExitBytesDiffer;
}

void CommandResult::SetBlocks(std::span<const std::uint8_t> image, int byteCount) {
    badBlocks = BadBlocks(image, byteCount);
    blockCount = byteCount / kBlockBytes;
}

Identity IdentityOf(std::span<const std::uint8_t> image) {
    Identity identity{DecodeIdentity(FirstTwoBlocks(image)), {}};
    // A block is there when the base block counts it or it holds anything.
    const int blocks = static_cast<int>(image.size()) / kBlockBytes;
    for (int block = 1; block < blocks; ++block) {
        const auto bytes =
            image.subspan(static_cast<std::size_t>(block * kBlockBytes), kBlockBytes);
        if (block > EdidBlockCount(image) - 1 &&
            std::ranges::none_of(bytes, [](auto b) { return b; }))
            break;
        identity.blockTags.push_back(ExtensionName(bytes[0]));
    }
    return identity;
}

void CommandResult::SetShown(std::span<const std::uint8_t> image) {
    identity = IdentityOf(image);
    ruleBreaks = SourceRuleBreaks(image);
    SetBlocks(image, (1 + static_cast<int>(identity->blockTags.size())) * kBlockBytes);
}

namespace {

QStringList IdentityWords(const Identity& identity) {
    const EdidIdentity& id = identity.id;
    QStringList lines{"manufacturer: " + QString::fromStdString(id.manufacturer),
                      QString("product code: %1").arg(id.productCode),
                      QString("serial number: %1").arg(id.serialNumber)};
    if (id.serialText) lines << "serial text: " + QString::fromStdString(*id.serialText);
    lines << (id.modelYear   ? QString("model year: %1").arg(id.year)
              : id.week == 0 ? QString("made in: %1").arg(id.year)
                             : QString("made in: week %1 of %2").arg(id.week).arg(id.year));
    lines << QString("EDID version: %1.%2").arg(id.version).arg(id.revision);
    if (id.name) lines << "name: " + QString::fromStdString(*id.name);
    if (const auto& mode = id.preferred)
        lines << QString("preferred mode: %1x%2%3 at %4 Hz")
                     .arg(mode->width)
                     .arg(mode->height)
                     .arg(mode->interlaced ? "i" : "")
                     .arg(mode->refreshHz, 0, 'f', 3);
    QString extensions = QString("extension blocks: %1").arg(id.extensionCount);
    QStringList tags;
    for (std::size_t k = 0; k < identity.blockTags.size(); ++k)
        tags << QString("block %1: %2")
                    .arg(k + 1)
                    .arg(QString::fromStdString(identity.blockTags[k]));
    if (!tags.isEmpty()) extensions += " (" + tags.join(", ") + ")";
    return lines << extensions;
}

const char* AccessWord(iow::AttachedAdapter::Access access) {
    using enum iow::AttachedAdapter::Access;
    return access == Free     ? "free"
           : access == Held   ? "held"
           : access == Denied ? "no permission"
                              : "not driven";
}

QString ProductText(std::uint32_t id) { return "0x" + QString::number(id, 16).toUpper(); }

}  // namespace

QJsonObject IdentityJson(const Identity& identity) {
    const EdidIdentity& id = identity.id;
    QJsonObject json{{"manufacturer", QString::fromStdString(id.manufacturer)},
                     {"product_code", id.productCode},
                     {"serial_number", static_cast<qint64>(id.serialNumber)},
                     {"week", id.week},
                     {"year", id.year},
                     {"model_year", id.modelYear},
                     {"version", QString("%1.%2").arg(id.version).arg(id.revision)},
                     {"extensions", id.extensionCount}};
    if (id.serialText) json["serial_text"] = QString::fromStdString(*id.serialText);
    if (id.name) json["name"] = QString::fromStdString(*id.name);
    if (const auto& mode = id.preferred)
        json["preferred"] = QJsonObject{{"width", mode->width},
                                        {"height", mode->height},
                                        {"refresh_hz", mode->refreshHz},
                                        {"interlaced", mode->interlaced}};
    QJsonArray tags;
    for (const std::string& tag : identity.blockTags) tags.append(QString::fromStdString(tag));
    if (!tags.isEmpty()) json["extension_tags"] = tags;
    return json;
}

QStringList Words(const CommandResult& outcome) {
    QStringList lines;
    if (outcome.identity) lines << IdentityWords(*outcome.identity);
    for (const ByteFault& fault : outcome.faults.value_or(std::vector<ByteFault>{})) {
        QString line = "offset " + Hex(fault.offset) + ":";
        if (fault.expected) line += " expected " + Hex(*fault.expected) + ",";
        lines << line + (fault.found ? " read " + Hex(*fault.found) : QString(" no answer"));
    }
    for (int block = 0; outcome.badBlocks && block < outcome.blockCount; ++block)
        lines << QString("block %1: checksum %2")
                     .arg(block)
                     .arg(std::ranges::count(*outcome.badBlocks, block) ? "bad" : "good");
    if (const auto& judged = outcome.conformity) {
        lines << QString("conformity (edid-decode -c): %1, %2 failures, %3 warnings")
                     .arg(judged->passed ? "PASS" : "FAIL")
                     .arg(judged->failures.size())
                     .arg(judged->warnings.size());
        for (const QString& failure : judged->failures) lines << "failure: " + failure;
        for (const QString& warning : judged->warnings) lines << "warning: " + warning;
    }
    if (const auto& broken = outcome.ruleBreaks) {
        if (broken->empty()) lines << "a source's rules: all kept";
        for (const RuleBreak& rule : *broken)
            lines << QString::fromStdString(RuleText(rule) + "; " + RuleConsequence(rule));
    }
    const auto& acknowledged = outcome.acknowledged.value_or(std::vector<std::uint8_t>{});
    for (std::size_t k = 0; k + 1 < acknowledged.size(); k += 2)  // write and read address byte
        lines << Hex(acknowledged[k]) + " " + Hex(acknowledged[k + 1]);
    if (const auto& info = outcome.info)
        lines << QString("adapters: %1").arg(info->adapters)
              << "product id: " + ProductText(info->productId)
              << "revision: " + ProductText(info->revision)
              << "serial number: " + outcome.adapterSerial.value_or(QString());
    for (const auto& adapter : outcome.attached.value_or(std::vector<iow::AttachedAdapter>{}))
        lines << QString("%1 %2 %3")
                     .arg(QString::fromStdString(adapter.serial), ProductText(adapter.productId),
                          AccessWord(adapter.access));
    for (const auto& bus : outcome.buses.value_or(std::vector<i2cdev::I2cBusFacts>{}))
        lines << QString("i2c-%1 '%2' %3%4")
                     .arg(bus.number)
                     .arg(QString::fromStdString(bus.name),
                          bus.driver.empty() ? "-" : QString::fromStdString(bus.driver),
                          bus.connector.empty() ? ""
                                                : " DDC of " + QString::fromStdString(bus.connector));
    for (const auto& display : outcome.displays.value_or(std::vector<CommandResult::Display>{})) {
        const EdidIdentity& id = display.identity.id;
        lines << QString("%1 %2 %3 '%4' %5 blocks")
                     .arg(display.connector, QString::fromStdString(id.manufacturer))
                     .arg(id.productCode)
                     .arg(QString::fromStdString(id.name.value_or("")))
                     .arg(display.blocks);
    }
    return lines;
}

QJsonObject Json(const CommandResult& outcome, const Request& request) {
    QJsonObject json = outcome.identity ? IdentityJson(*outcome.identity) : QJsonObject{};
    json["command"] = request.command;
    json["byte_count"] = request.byteCount;
    json["exit_status"] = outcome.status;
    json["message"] = outcome.message;
    if (outcome.adapterSerial) json["adapter_serial"] = *outcome.adapterSerial;
    if (outcome.faults) {
        QJsonArray failed, differing;
        for (const ByteFault& fault : *outcome.faults) {
            QJsonObject item{{"offset", fault.offset}};
            item["expected"] = fault.expected ? QJsonValue(*fault.expected) : QJsonValue();
            if (fault.found) item["read"] = *fault.found;
            (fault.found ? differing : failed).append(item);
        }
        json["failed"] = failed;
        json["differing"] = differing;
    }
    if (outcome.badBlocks) {
        QJsonArray blocks;
        for (int block = 0; block < outcome.blockCount; ++block)
            blocks.append(QJsonObject{
                {"block", block},
                {"checksum", std::ranges::count(*outcome.badBlocks, block) ? "bad" : "good"}});
        json["blocks"] = blocks;
    }
    if (outcome.acknowledged) {
        QJsonArray acknowledged;
        for (std::uint8_t address : *outcome.acknowledged) acknowledged.append(address);
        json["acknowledged"] = acknowledged;
    }
    if (const auto& info = outcome.info) {
        json["adapters"] = info->adapters;
        json["product_id"] = static_cast<int>(info->productId);
        json["revision"] = static_cast<int>(info->revision);
    }
    if (outcome.attached) {
        QJsonArray adapters;
        for (const auto& adapter : *outcome.attached)
            adapters.append(QJsonObject{{"serial", QString::fromStdString(adapter.serial)},
                                        {"product_id", static_cast<int>(adapter.productId)},
                                        {"access", AccessWord(adapter.access)}});
        json["adapters"] = adapters;
    }
    if (outcome.buses) {
        QJsonArray buses;
        for (const auto& bus : *outcome.buses)
            buses.append(QJsonObject{{"number", bus.number},
                                     {"name", QString::fromStdString(bus.name)},
                                     {"driver", QString::fromStdString(bus.driver)},
                                     {"connector", QString::fromStdString(bus.connector)}});
        json["buses"] = buses;
    }
    if (outcome.displays) {
        QJsonArray displays;
        for (const auto& display : *outcome.displays) {
            QJsonObject item = IdentityJson(display.identity);
            item["connector"] = display.connector;
            item["blocks"] = display.blocks;
            displays.append(item);
        }
        json["displays"] = displays;
    }
    if (const auto& stamped = outcome.stamped) {
        const Stamp& stamp = stamped->stamp;
        QJsonObject object{{"serial_descriptor", stamped->descriptor}};
        if (stamp.serialNumber) object["serial_number"] = static_cast<qint64>(*stamp.serialNumber);
        if (stamp.serialText) object["serial_text"] = QString::fromStdString(*stamp.serialText);
        if (stamp.week) object["week"] = *stamp.week, object["year"] = stamp.year;
        json["stamped"] = object;
    }
    if (const auto& judged = outcome.conformity)
        json["conformity"] = QJsonObject{{"verdict", judged->passed ? "PASS" : "FAIL"},
                                         {"failures", QJsonArray::fromStringList(judged->failures)},
                                         {"warnings", QJsonArray::fromStringList(judged->warnings)},
                                         {"failure_count", judged->failures.size()},
                                         {"warning_count", judged->warnings.size()}};
    if (outcome.ruleBreaks) {
        QJsonArray broken;
        for (const RuleBreak& rule : *outcome.ruleBreaks)
            broken.append(QJsonObject{{"block", rule.block},
                                      {"rule", QString::fromStdString(RuleName(rule.rule))},
                                      {"text", QString::fromStdString(RuleText(rule))}});
        json["source_rules_broken"] = broken;
    }
    if (outcome.asIs) json["as_is"] = true;
    if (outcome.checksumsFixed) json["checksums_fixed"] = true;
    return json;
}

}  // namespace quillon::cli
