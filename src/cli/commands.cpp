#include "cli/commands.h"

#include <set>

#include "cli/unit_stamps.h"
#include "displays/drm_connectors.h"
#include "i2cdev/i2c_buses.h"
#include "files/image_files.h"
#include "iic/iow_i2c_bus.h"
#include "image/edid_identity.h"
#include "image/edid_layout.h"
#include "image/source_rules.h"
#include "iow/adapter_choice.h"
#include "transfer/memory_engine.h"

namespace quillon::cli {

namespace {

// How the chosen memory is gone through: its addressing, pages as asked.
Pace PaceOf(const Request& request) {
    return {.pageBytes = request.pageBytes, .addressing = request.memory->addressing};
}

// The range of the memory read at the adapter's pace, observed by the progress and the stop.
MemoryOutcome ReadRange(const Job& job, int count) {
    ProgressObserver observer(job.progress, count, job.stop);
    return ReadMemory(job.bus, count, PaceOf(job.request), observer);
}

// The EDID as long as it says it is (byte 126, or HF-EEODB's count in block 1), never past the
// memory; as long as --bytes says when it does. Where the base block does not come whole, the
// first two blocks, with what is missing listed.
MemoryOutcome ReadEdid(const Job& job) {
    const Request& request = job.request;
    if (request.byteCountGiven) return ReadRange(job, request.byteCount);
    const int most = request.memory->bytes, first = std::min(most, kEdidBytes);
    ProgressObserver firstBlocks(job.progress, first, job.stop);
    MemoryOutcome read = ReadMemory(job.bus, first, PaceOf(request), firstBlocks);
    if (read.interrupted || read.abandoned) return read;
    const bool baseCame = read.faults.empty() || read.faults.front().offset >= kBlockBytes;
    const int count = baseCame ? std::min(most, EdidBlockCount(read.memory) * kBlockBytes) : first;
    if (count <= first) {
        read.memory.resize(static_cast<std::size_t>(count));
        std::erase_if(read.faults, [count](const ByteFault& f) { return f.offset >= count; });
        return read;
    }
    ProgressObserver rest(job.progress, count, job.stop);
    MemoryOutcome more = ReadMemory(job.bus, count, PaceOf(request), rest, first);
    std::copy(read.memory.begin(), read.memory.end(), more.memory.begin());
    more.faults.insert(more.faults.begin(), read.faults.begin(), read.faults.end());
    return more;
}

void Read(const Job& job, CommandResult& outcome) {
    const Request& request = job.request;
    const MemoryOutcome read = ReadEdid(job);
    const int count = static_cast<int>(read.memory.size());
    outcome.status = outcome.SetFaults(read.faults);
    if (read.interrupted) {
        outcome.status = kExitInterrupted;
        outcome.message = QString("Interrupted; %1 not written.").arg(request.file);
        return;
    }
    if (outcome.status != kExitDone) {
        outcome.message = QString("The memory did not answer for %1 of %2 bytes; %3 not written.")
                              .arg(read.faults.size())
                              .arg(count)
                              .arg(request.file);
        return;
    }
    outcome.SetBlocks(read.memory, count);
    if (auto error = WriteBinaryFile(LocalPath(request.file), read.memory, count)) {
        outcome.status = kExitFileError;
        outcome.message = FileErrorText("write", request.file, *error);
        return;
    }
    outcome.message = QString("Read %1 bytes into %2.").arg(count).arg(request.file);
}

void Verify(const Job& job, CommandResult& outcome) {
    const Request& request = job.request;
    const EdidBytes& expected = job.fileImage;
    const MemoryOutcome read = ReadRange(job, request.byteCount);
    std::vector<ByteFault> faults;
    auto next = read.faults.begin();
    const std::set<int> ignored =
        request.ignoreStamp ? StampedOffsets(FirstTwoBlocks(expected)) : std::set<int>{};
    for (int k = 0; k < request.byteCount; ++k) {
        const bool got = next == read.faults.end() || next->offset != k;
        if (!got) ++next;
        if (ignored.contains(k)) continue;
        if (!got || read.memory[k] != expected[k])
            faults.push_back({k, expected[k], got ? std::optional(read.memory[k]) : std::nullopt});
    }
    outcome.status = outcome.SetFaults(faults);
    outcome.meant = expected;
    outcome.readBack = read.memory;
    if (outcome.status == kExitDone) outcome.SetBlocks(read.memory, request.byteCount);
    outcome.message =
        read.interrupted              ? (outcome.status = kExitInterrupted, "Interrupted.")
        : outcome.status == kExitDone ? QString("The memory holds %1.").arg(request.file)
        : outcome.status == kExitNoAnswer
            ? QString("The memory did not answer for some bytes.")
            : QString("%1 bytes differ from %2.").arg(faults.size()).arg(request.file);
}

void Write(const Job& job, CommandResult& outcome) {
    const Request& request = job.request;
    EdidBytes image = job.fileImage;
    if (request.Stamping() && !StampUnit(request, image, outcome)) return;
    outcome.asIs = request.asIs;
    if (request.asIs) outcome.ruleBreaks = SourceRuleBreaks(job.fileImage);
    outcome.checksumsFixed = request.fixChecksums;
    ProgressObserver observer(job.progress, request.byteCount, job.stop);
    const MemoryOutcome written =
        ProgramMemory(job.bus, AllMeant(image, request.byteCount), PaceOf(request), observer);
    outcome.SetBlocks(image, request.byteCount);
    outcome.status = outcome.SetFaults(written.faults);
    outcome.meant = image;
    outcome.readBack = written.memory;
    if (written.interrupted) {
        outcome.status = kExitInterrupted;
        outcome.message = QString(
                              "Interrupted: %1 bytes not written or not verified; the memory may "
                              "hold part of the image.")
                              .arg(written.faults.size());
        return;
    }
    outcome.message =
        outcome.status == kExitDone ? QString("Wrote and verified %1 bytes.").arg(request.byteCount)
        : outcome.status == kExitNoAnswer
            ? QString("The memory did not answer for some bytes.")
            : QString(
                  "%1 bytes did not hold (a write-protected memory, a smaller one, or one "
                  "with smaller pages than --page-bytes?).")
                  .arg(written.faults.size());
}

void Scan(const Job& job, CommandResult& outcome) {
    // A Linux bus reads a byte after a read address, so it is probed as i2cdetect does.
    const BusScan scan = ScanAddresses(
        job.bus, job.adapter.bus ? ScanProbes::AsI2cdetect : ScanProbes::WriteAddresses);
    outcome.acknowledged = scan.acknowledged;
    if (!scan.adapterAnswered) {
        outcome.status = kExitNoAnswer;
        outcome.message = "The adapter did not answer for some addresses; the list may lack them.";
    } else if (scan.acknowledged.empty()) {
        outcome.status = kExitNoAnswer;
        outcome.message = kNoDevicesText;
    }
}

void Info(const Job& job, CommandResult& outcome) {
    outcome.info = {static_cast<int>(iow::ListAttachedAdapters(false).size()),
                    IowKitGetProductId(job.adapter.handle), IowKitGetRevision(job.adapter.handle)};
}

// Who the memory says the display is.
void ShowMemory(const Job& job, CommandResult& outcome) {
    const MemoryOutcome read = ReadEdid(job);
    outcome.status = outcome.SetFaults(read.faults);
    if (outcome.status != kExitDone)
        outcome.message = "The memory did not answer for some bytes.";
    else
        Show(job.request, read.memory, outcome);
}

// Every attached adapter: serial number, product id, access.
CommandResult List(const Request&) {
    CommandResult outcome;
    outcome.attached = iow::ListAttachedAdapters();
    outcome.buses = i2cdev::ListI2cBuses();
    if (outcome.attached->empty() && outcome.buses->empty())
        outcome.message = "No IO-Warrior adapter attached, and no I2C bus.";
    return outcome;
}

// Every connector with a display on it, and who the display says it is.
CommandResult Displays(const Request&) {
    CommandResult outcome;
    outcome.displays.emplace();
    for (const DisplayConnector& connector : ListConnectors())
        if (connector.HasDisplay())
            outcome.displays->push_back({QString::fromStdString(connector.name),
                                         IdentityOf(connector.edid),
                                         int(connector.edid.size()) / kBlockBytes});
    if (outcome.displays->empty()) outcome.message = "No connector has a display on it.";
    return outcome;
}

// The EDID of the display on the connector that --from-display names, which becomes the file
// of the command; the failure when there is none.
std::optional<CommandResult> LoadFromDisplay(Request& request, EdidBytes& image) {
    const std::string name = request.fromDisplay.toStdString();
    const auto connector = FindConnector(name);
    if (!connector)
        return Fail(kExitUsage, QString("No connector called %1; quillon-cli displays lists "
                                        "those with a display on them.")
                                    .arg(request.fromDisplay));
    request.file = QString::fromStdString(EdidPath(connector->name).string());
    if (!connector->HasDisplay())
        return Fail(kExitFileError, QString("No display is on %1 (%2, no EDID); quillon-cli "
                                            "displays lists the connectors with one.")
                                        .arg(QString::fromStdString(connector->name),
                                             QString::fromStdString(connector->status)));
    image = connector->edid;
    return std::nullopt;
}

// The rules of a source that `image` breaks, as a refusal; none when it keeps them or --as-is
// takes it as it is.
std::optional<CommandResult> RefusedBySource(const Request& request,
                                             std::span<const std::uint8_t> image) {
    const std::vector<RuleBreak> broken = SourceRuleBreaks(image);
    if (request.asIs || broken.empty()) return std::nullopt;
    if (broken.front().rule == SourceRule::Header)
        return Fail(kExitFileError, QString("Not an EDID image: the first 8 bytes of %1 are not "
                                            "00 FF FF FF FF FF FF 00 (--as-is takes it all the "
                                            "same).")
                                        .arg(request.file));
    const bool checksum = broken.front().rule == SourceRule::Checksum ||
                          broken.front().rule == SourceRule::DisplayIdChecksum;
    return Fail(kExitFileError,
                QString("%1 (%2): %3 (%4--as-is takes it as it is).")
                    .arg(QString::fromStdString(RuleText(broken.front())), request.file,
                         QString::fromStdString(RuleConsequence(broken.front())),
                         checksum && request.entry->writes ? "--fix-checksums mends it, " : ""));
}

// A display's EDID saved as a raw image file, as the kernel gave it.
CommandResult ReadFromDisplay(const Request& given) {
    Request request = given;
    const QString file = request.file;
    EdidBytes image;
    if (auto failed = LoadFromDisplay(request, image)) return *failed;
    if (auto refused = RefusedBySource(request, image)) return *refused;
    CommandResult outcome;
    outcome.SetBlocks(image, int(image.size()));
    if (auto error = WriteBinaryFile(LocalPath(file), image, int(image.size())))
        return Fail(kExitFileError, FileErrorText("write", file, *error));
    outcome.message = QString("Read %1 bytes from %2 into %3.")
                          .arg(image.size())
                          .arg(request.file, file);
    return outcome;
}

const CommandEntry kCommands[] = {
    {"read",
     FileUse::Written,
     AdapterUse::One,
     false,
     {"bytes", "adapter", "no-pull-ups", "memory", "from-display", "as-is", "bus"},
     Read,
     ReadFromDisplay},
    {"write",
     FileUse::Read,
     AdapterUse::Several,
     true,
     {"bytes", "page-bytes", "memory", "yes", "adapter", "all", "fix-checksums", "as-is",
      "stamp-serial", "stamp-serial-text", "stamp-serial-from", "stamp-date", "log", "no-pull-ups",
      "from-display", "bus", "write-smbus-host"},
     Write},
    {"verify",
     FileUse::Read,
     AdapterUse::Several,
     false,
     {"bytes", "adapter", "all", "log", "ignore-stamp", "no-pull-ups", "memory", "bus"},
     Verify},
    {"scan", FileUse::None, AdapterUse::Several, false, {"adapter", "all", "no-pull-ups", "bus"}, Scan},
    {"info", FileUse::None, AdapterUse::Several, false, {"adapter", "all"}, Info},
    {"list", FileUse::None, AdapterUse::None, false, {"all"}, nullptr, List},
    {"displays", FileUse::None, AdapterUse::None, false, {}, nullptr, Displays},
    {"show",
     FileUse::ReadOptional,
     AdapterUse::Several,
     false,
     {"adapter", "all", "no-pull-ups", "memory", "conformity", "from-display", "bus"},
     ShowMemory},
};

std::optional<CommandResult> LoadFile(const QString& path, EdidBytes& image, long long& fileBytes) {
    // What goes in must be an image: an XML file without one is not taken for 256 zeros.
    const LoadOutcome loaded = LoadImageBytes(LocalPath(path), image, WithoutData::Refused);
    if (const auto* error = std::get_if<FileError>(&loaded))
        return Fail(kExitFileError, FileErrorText("read", path, *error));
    if (const auto* parser = std::get_if<ParserFailure>(&loaded))
        return Fail(kExitFileError, QString("%1 is not an XML image: %2.")
                                        .arg(path, QString::fromStdString(parser->reason)));
    fileBytes = std::get<ImageLoaded>(loaded).fileBytes;
    return std::nullopt;
}

// The bytes that a write or a verify takes from a file of `fileBytes`: what the file holds, in
// whole blocks, or as many as --bytes asks when the file holds them. Never the zeros that pad a
// short file, nor the first blocks of a longer EDID taken for the whole.
std::optional<CommandResult> TakeFileLength(Request& request, long long fileBytes) {
    const QString& file = request.file;
    if (fileBytes == 0 || fileBytes % kBlockBytes != 0)
        return Fail(kExitFileError, QString("Not whole blocks: %1 holds %2 bytes, and an EDID "
                                            "image is 128 bytes a block.")
                                        .arg(file)
                                        .arg(fileBytes));
    if (fileBytes > request.memory->bytes)
        return Fail(kExitFileError, QString("Larger than the memory: %1 holds %2 blocks, the "
                                            "memory (%3) %4 bytes; --memory names a larger one.")
                                        .arg(file)
                                        .arg(fileBytes / kBlockBytes)
                                        .arg(request.memory->name)
                                        .arg(request.memory->bytes));
    if (!request.byteCountGiven) request.byteCount = static_cast<std::int16_t>(fileBytes);
    if (request.byteCount > fileBytes)
        return Fail(kExitFileError, QString("Too short for --bytes %1: %2 holds %3 bytes.")
                                        .arg(request.byteCount)
                                        .arg(file)
                                        .arg(fileBytes));
    return std::nullopt;
}

}  // namespace

void Show(const Request& request, std::span<const std::uint8_t> image, CommandResult& outcome) {
    outcome.SetShown(image);
    if (!request.conformity) return;
    auto judged = JudgeConformity(image);
    if (auto* conformity = std::get_if<Conformity>(&judged))
        outcome.conformity = std::move(*conformity);
    else
        outcome.status = kExitUsage, outcome.message = std::get<QString>(judged);
}

const CommandEntry* FindCommand(const QString& name) {
    for (const CommandEntry& entry : kCommands)
        if (name == entry.name) return &entry;
    return nullptr;
}

std::optional<CommandResult> Prepare(Request& request, bool inIsTerminal, EdidBytes& fileImage,
                                     UnitLog& log) {
    // The record and the counter must work before any memory is written.
    if (!request.logFile.isEmpty())
        if (auto error = log.Open(LocalPath(request.logFile)))
            return Fail(kExitFileError, FileErrorText("open the log", request.logFile, *error));
    if (!request.counterFile.isEmpty()) {
        const auto counter = PeekCounter(LocalPath(request.counterFile));
        if (const auto* error = std::get_if<FileError>(&counter))
            return Fail(kExitFileError,
                        FileErrorText("read the counter", request.counterFile, *error));
    }
    const FileUse file = request.entry->file;
    long long fileBytes = 0;
    if (!request.fromDisplay.isEmpty()) {
        if (auto failed = LoadFromDisplay(request, fileImage)) return failed;
        fileBytes = static_cast<long long>(fileImage.size());
    } else if (file == FileUse::Read || (file == FileUse::ReadOptional && !request.file.isEmpty())) {
        if (auto failed = LoadFile(request.file, fileImage, fileBytes)) return failed;
    }
    if (file == FileUse::Read)
        if (auto failed = TakeFileLength(request, fileBytes)) return failed;
    if (!request.entry->writes) return std::nullopt;
    // The file is judged whole, as a source would take it, the blocks past --bytes included.
    if (request.fixChecksums) FixChecksums(fileImage, static_cast<int>(fileImage.size()));
    if (auto refused = RefusedBySource(request, fileImage)) return refused;
    if (!request.asIs && request.stamp.serialText &&
        !DisplayDescriptorOffset(FirstTwoBlocks(fileImage), 0xFF))
        return Fail(kExitFileError,
                    QString("%1 has no display serial number descriptor for --stamp-serial-text.")
                        .arg(request.file));
    if (!request.yes && !inIsTerminal)
        return Fail(kExitUsage,
                    "Standard input is not a terminal, so nobody can be asked before the memory "
                    "is overwritten: add --yes.");
    return std::nullopt;
}

CommandResult RunOnAdapter(const Request& request, const Adapter& adapter,
                           const EdidBytes& fileImage, const TransferProgress& progress,
                           const std::atomic<bool>* stop) {
    CommandResult outcome;
    outcome.adapterSerial = adapter.serial;
    std::optional<IowI2cBus> iow;
    if (!adapter.bus) {
        iow.emplace(IowI2cBus::AtNodeReportSize(adapter.handle));
        iow->SetPullUps(!request.pullUpsOff);
    }
    I2cBus& bus = adapter.bus ? *adapter.bus : *iow;
    request.entry->run({request, adapter, bus, fileImage, progress, stop}, outcome);
    if (adapter.handle != 0) IowKitCloseDevice(adapter.handle);
    return outcome;
}

bool RunsAlone(const Request& request) {
    return request.entry->adapters == AdapterUse::None ||
           (request.entry->alone != nullptr && !request.fromDisplay.isEmpty());
}

}  // namespace quillon::cli
