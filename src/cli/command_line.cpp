#include "cli/command_line.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "cli/outcome.h"
#include "cli/unit_stamps.h"
#include "files/image_files.h"
#include "image/edid_identity.h"
#include "image/edid_layout.h"
#include "iow/adapter_choice.h"
#include "iow/iowkit.h"
#include "iow/no_adapter.h"
#include "iic/iow_i2c_bus.h"
#include "transfer/memory_engine.h"

namespace quillon::cli {

namespace {

constexpr char kCommandsAndStatuses[] = R"(

Commands:
  read FILE     reads the memory into a raw image file (written only when every byte was read)
  write FILE    writes a raw or XML image file into the memory, then reads every byte back; an
                image without the EDID header or with a bad block checksum is refused (5)
                unless --as-is or --fix-checksums says otherwise
  verify FILE   compares the memory with an image file
  scan          lists the address bytes that answer on the I2C bus, one a line
  info          the adapter's product id, revision and serial number, and how many are attached
  list          every attached adapter: serial number, product id, and whether another program
                holds it
  show [FILE]   who the display says it is: manufacturer, product code, serial number, week and
                year, EDID version, name, preferred mode, extension blocks, checksums; of an
                image file, or without FILE of the memory

Several adapters (--adapter A --adapter B, or --all) run write, verify, scan or info at the same
time, each on its own: one progress line each on a terminal, one JSON object per adapter per
line with --json, and the worst status of theirs in this order: 5, 1, 6, 2, 3, 4, 0.

Exit status:
  0  done, and every byte verified
  1  usage: a bad command line, or the write not confirmed
  2  no adapter: none attached, another program holds it, or no permission to open it
  3  the memory did not answer for some bytes
  4  bytes differ from the file, or a write did not hold (a write-protected memory)
  5  the file could not be read or written
  6  interrupted (SIGINT or SIGTERM): the memory may hold part of the image; what was
     written has been read back and every byte not written or not verified is listed
When both 3 and 4 apply, the status is 3. A second signal ends the program at once.

Each unit with the next serial number of a counter file, this week, and a record:
  while read -p "next unit, Enter: " _; do
      quillon-cli write --yes --stamp-serial-from panel.counter --stamp-date today \
          --log line.jsonl panel.bin || break
  done)";

struct Adapter {
    IowKitHandle handle = 0;
    QString serial;
};

QString SerialOf(IowKitHandle handle) {
    std::array<std::uint8_t, kIowSerialBufferBytes> buffer{};
    QString text;
    if (!IowKitGetSerialNumber(handle, buffer.data())) return text;
    for (std::size_t k = 0; k + 1 < buffer.size(); k += 2) {
        const auto c = static_cast<char16_t>(buffer[k] | buffer[k + 1] << 8);
        if (c == 0) break;
        text += QChar(c);
    }
    return text;
}

QString NoAdapterText(iow::NoAdapterReason reason) {
    switch (reason) {
        case iow::NoAdapterReason::DriverNotLoaded:
            return "No IO-Warrior adapter: the kernel's iowarrior driver is not loaded. "
                   "Load it with 'sudo modprobe iowarrior'.";
        case iow::NoAdapterReason::NoPermission:
            return "An IO-Warrior adapter is attached, but this user may not open it "
                   "(/dev/usb/iowarrior*). Install the package's udev rule "
                   "(60-orvane-quillon-iowarrior.rules), then plug the adapter in again; from a "
                   "remote session, join the plugdev group.";
        case iow::NoAdapterReason::Busy:
            return "An IO-Warrior adapter is attached, but another program holds it open (the "
                   "window, or another quillon-cli). Close that program and try again.";
        case iow::NoAdapterReason::NoneAttached:
            break;
    }
    return "No IO-Warrior adapter found. Plug one in: lsusb lists it as 07c0:15xx.";
}

// Opens the adapter with serial number `wanted` (empty: the first attached that it can open) and
// nothing else, with the read time-out the commands are made for. No other adapter's node is
// opened, not even for a moment: another program may be opening it for its own fixture.
std::variant<Adapter, Outcome> OpenChosenAdapter(const QString& wanted) {
    IowKitHandle handle = 0;
    if (wanted.isEmpty()) {
        const auto attached = iow::ListAttachedAdapters(false);
        bool unnamed = attached.empty();  // nothing listed: the full open tells
        for (const auto& adapter : attached) {
            unnamed = unnamed || adapter.serial.empty();
            if (handle == 0 && !adapter.serial.empty())
                handle = iow::OpenAdapterWithSerial(adapter.serial);
        }
        // Adapters without a serial number can only be opened all together.
        if (handle == 0 && unnamed) handle = IowKitOpenDevice();
        if (handle == 0) return Fail(kExitNoAdapter, NoAdapterText(iow::WhyNoAdapter()));
    } else {
        handle = iow::OpenAdapterWithSerial(wanted.toStdString());
    }
    if (handle == 0) {  // why, as the adapters are now
        QStringList serials;
        for (const auto& adapter : iow::ListAttachedAdapters()) {
            serials << QString::fromStdString(adapter.serial);
            if (serials.back() != wanted) continue;
            if (adapter.access == iow::AttachedAdapter::Access::Held)
                return Fail(kExitNoAdapter,
                            NoAdapterText(iow::NoAdapterReason::Busy)
                                .replace("An IO-Warrior adapter", "Adapter " + wanted));
            if (adapter.access == iow::AttachedAdapter::Access::Denied)
                return Fail(kExitNoAdapter, NoAdapterText(iow::NoAdapterReason::NoPermission));
        }
        return Fail(kExitNoAdapter, QString("No adapter with serial number %1; attached: %2.")
                                        .arg(wanted, serials.join(", ")));
    }
    IowKitSetTimeout(handle, kReadTimeoutMs);
    return Adapter{handle, SerialOf(handle)};
}

std::optional<Outcome> LoadFile(const QString& path, EdidImage& image) {
    // What goes in must be an image: an XML file without one is not taken for 256 zeros.
    const LoadOutcome loaded = LoadImageFile(LocalPath(path), image, WithoutData::Refused);
    if (const auto* error = std::get_if<FileError>(&loaded))
        return Fail(kExitFileError, FileErrorText("read", path, *error));
    if (const auto* parser = std::get_if<ParserFailure>(&loaded))
        return Fail(kExitFileError, QString("%1 is not an XML image: %2.")
                                        .arg(path, QString::fromStdString(parser->reason)));
    return std::nullopt;
}

// The first SIGINT or SIGTERM asks the transfer to stop; the second ends the program.
std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) {
    if (stopRequested.exchange(true)) ::_exit(kExitInterrupted);
}

// Installs the stop handlers for its lifetime.
class StopSignals {
  public:
    StopSignals() {
        stopRequested = false;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (int k = 0; k < 2; ++k) sigaction(kSignals[k], &action, &saved_[k]);
    }
    ~StopSignals() {
        for (int k = 0; k < 2; ++k) sigaction(kSignals[k], &saved_[k], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr int kSignals[2] = {SIGINT, SIGTERM};
    struct sigaction saved_[2]{};
};

// A progress bar on `err`, drawn only on a terminal: the pass, a bar and the byte number.
TransferProgress ProgressBar(Console& console) {
    if (!console.errIsTerminal) return nullptr;
    return [&console](const char* pass, int done, int total) {
        constexpr int kBarCells = 32;
        const int filled = done * kBarCells / total;
        console.err << '\r' << QString(pass).leftJustified(9) << " [" << QString(filled, u'#')
                    << QString(kBarCells - filled, u'.') << "] " << done << '/' << total;
        if (done == total) console.err << '\n';
        console.err << Qt::flush;
    };
}

// The range of the memory read at the adapter's pace, observed by the progress bar and the stop
// signals.
MemoryOutcome ReadRange(IowKitHandle handle, int count, const TransferProgress& progress) {
    IowI2cBus bus = IowI2cBus::AtNodeReportSize(handle);
    ProgressObserver observer(progress, count, &stopRequested);
    return ReadMemory(bus, count, Pace{}, observer);
}

QString InterruptedText(const Outcome& outcome) {
    return QString(
               "Interrupted: %1 bytes not written or not verified; the memory may hold part "
               "of the image.")
        .arg(outcome.lines.size());
}

void Read(const Request& request, IowKitHandle handle, const TransferProgress& progress,
          Outcome& outcome) {
    const int count = request.byteCount;
    const MemoryOutcome read = ReadRange(handle, count, progress);
    outcome.status = AddFaults(outcome, read.faults);
    if (read.interrupted) {
        outcome.status = kExitInterrupted;
        outcome.message = QString("Interrupted; %1 not written.").arg(request.file);
        return;
    }
    if (outcome.status != kExitDone) {
        outcome.message = QString("The memory did not answer for %1 of %2 bytes; %3 not written.")
                              .arg(outcome.json["failed"].toArray().size())
                              .arg(count)
                              .arg(request.file);
        return;
    }
    AddBlockVerdicts(outcome, read.memory, count);
    if (auto error = WriteBinaryFile(LocalPath(request.file), read.memory, count)) {
        outcome.status = kExitFileError;
        outcome.message = FileErrorText("write", request.file, *error);
        return;
    }
    outcome.message = QString("Read %1 bytes into %2.").arg(count).arg(request.file);
}

void Verify(const Request& request, const EdidImage& expected, IowKitHandle handle,
            const TransferProgress& progress, Outcome& outcome) {
    const MemoryOutcome read = ReadRange(handle, request.byteCount, progress);
    std::vector<ByteFault> faults;
    auto next = read.faults.begin();
    const std::set<int> ignored = request.ignoreStamp ? StampedOffsets(expected) : std::set<int>{};
    for (int k = 0; k < request.byteCount; ++k) {
        const bool got = next == read.faults.end() || next->offset != k;
        if (!got) ++next;
        if (ignored.contains(k)) continue;
        if (!got || read.memory[k] != expected[k])
            faults.push_back({k, expected[k], got ? std::optional(read.memory[k]) : std::nullopt});
    }
    outcome.status = AddFaults(outcome, faults);
    outcome.meant = expected;
    outcome.readBack = read.memory;
    if (outcome.status == kExitDone) AddBlockVerdicts(outcome, read.memory, request.byteCount);
    outcome.message =
        read.interrupted              ? (outcome.status = kExitInterrupted, "Interrupted.")
        : outcome.status == kExitDone ? QString("The memory holds %1.").arg(request.file)
        : outcome.status == kExitNoAnswer
            ? QString("The memory did not answer for some bytes.")
            : QString("%1 bytes differ from %2.").arg(faults.size()).arg(request.file);
}

void Write(const Request& request, const EdidImage& image, IowKitHandle handle,
           const TransferProgress& progress, Outcome& outcome) {
    IowI2cBus bus = IowI2cBus::AtNodeReportSize(handle);
    ProgressObserver observer(progress, request.byteCount, &stopRequested);
    const MemoryOutcome written = ProgramMemory(bus, AllMeant(image, request.byteCount),
                                                Pace{.pageBytes = request.pageBytes}, observer);
    AddBlockVerdicts(outcome, image, request.byteCount);
    outcome.status = AddFaults(outcome, written.faults);
    outcome.meant = image;
    outcome.readBack = written.memory;
    if (written.interrupted) {
        outcome.status = kExitInterrupted;
        outcome.message = InterruptedText(outcome);
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

void Scan(IowKitHandle handle, Outcome& outcome) {
    IowI2cBus bus = IowI2cBus::AtNodeReportSize(handle);
    const BusScan scan = ScanAddresses(bus);
    QJsonArray acknowledged;
    for (std::uint8_t address : scan.acknowledged) {
        acknowledged.append(address);
        outcome.lines << Hex(address);
    }
    outcome.json["acknowledged"] = acknowledged;
    if (!scan.adapterAnswered) {
        outcome.status = kExitNoAnswer;
        outcome.message = "The adapter did not answer for some addresses; the list may lack them.";
    } else if (scan.acknowledged.empty()) {
        outcome.status = kExitNoAnswer;
        outcome.message = kNoDevicesText;
    }
}

void Info(const Adapter& adapter, Outcome& outcome) {
    const auto adapters = static_cast<int>(iow::ListAttachedAdapters(false).size());
    const auto product = static_cast<int>(IowKitGetProductId(adapter.handle));
    const auto revision = static_cast<int>(IowKitGetRevision(adapter.handle));
    outcome.lines << QString("adapters: %1").arg(adapters)
                  << "product id: 0x" + QString::number(product, 16).toUpper()
                  << "revision: 0x" + QString::number(revision, 16).toUpper()
                  << "serial number: " + adapter.serial;
    outcome.json["adapters"] = adapters;
    outcome.json["product_id"] = product;
    outcome.json["revision"] = revision;
}

bool AskBeforeWriting(const Request& request, const QStringList& serials, Console& console) {
    if (request.yes) return true;
    console.err << QString("Overwrite %1 bytes of the memory on adapter %2 with %3? [y/N] ")
                       .arg(request.byteCount)
                       .arg(serials.join(", "), request.file)
                << Qt::flush;
    const std::optional<QString> answer = console.readLine ? console.readLine() : std::nullopt;
    const QString word = answer.value_or(QString()).trimmed().toLower();
    return word == "y" || word == "yes";
}

// The outcome on the console; `adapter`, when given, starts each line and the message in words.
void Print(const Outcome& outcome, const Request& request, bool json, Console& console,
           const QString& adapter = QString()) {
    const QString prefix = adapter.isEmpty() ? QString() : adapter + ": ";
    if (json) {
        QJsonObject object = outcome.json;
        object["command"] = request.command;
        object["byte_count"] = request.byteCount;
        object["exit_status"] = outcome.status;
        object["message"] = outcome.message;
        console.out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (const QString& line : outcome.lines) console.out << prefix << line << '\n';
    }
    console.out << Qt::flush;
    if (!outcome.message.isEmpty()) console.err << prefix << outcome.message << '\n' << Qt::flush;
}

// The command on one open adapter, which it closes.
Outcome RunOnAdapter(const Request& request, const Adapter& adapter, const EdidImage& fileImage,
                     const TransferProgress& progress) {
    const QString& command = request.command;
    Outcome outcome;
    outcome.json["adapter_serial"] = adapter.serial;
    if (command == "read") Read(request, adapter.handle, progress, outcome);
    if (command == "verify") Verify(request, fileImage, adapter.handle, progress, outcome);
    if (command == "write") {
        EdidImage image = fileImage;
        if (request.Stamping() && !StampUnit(request, image, outcome)) {
            IowKitCloseDevice(adapter.handle);
            return outcome;
        }
        Write(request, image, adapter.handle, progress, outcome);
        if (request.asIs) outcome.json["as_is"] = true;
        if (request.fixChecksums) outcome.json["checksums_fixed"] = true;
    }
    if (command == "scan") Scan(adapter.handle, outcome);
    if (command == "show") {
        const MemoryOutcome read = ReadRange(adapter.handle, kEdidBytes, progress);
        outcome.status = AddFaults(outcome, read.faults);
        if (outcome.status == kExitDone) Show(read.memory, outcome);
        if (outcome.status != kExitDone)
            outcome.message = "The memory did not answer for some bytes.";
    }
    if (command == "info") Info(adapter, outcome);
    IowKitCloseDevice(adapter.handle);
    return outcome;
}

void List(Outcome& outcome) {
    QJsonArray adapters;
    for (const auto& adapter : iow::ListAttachedAdapters()) {
        const char* access = adapter.access == iow::AttachedAdapter::Access::Free ? "free"
                             : adapter.access == iow::AttachedAdapter::Access::Held
                                 ? "held"
                                 : "no permission";
        const QString serial = QString::fromStdString(adapter.serial);
        const QString product = "0x" + QString::number(adapter.productId, 16).toUpper();
        adapters.append(QJsonObject{{"serial", serial},
                                    {"product_id", static_cast<int>(adapter.productId)},
                                    {"access", access}});
        outcome.lines << QString("%1 %2 %3").arg(serial, product, access);
    }
    outcome.json["adapters"] = adapters;
    if (adapters.isEmpty()) outcome.message = "No IO-Warrior adapter attached.";
}

// What a command needs before any adapter: the file it writes from or compares with, and
// someone to ask before a write.
std::optional<Outcome> Prepare(const Request& request, Console& console, EdidImage& fileImage,
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
    if (request.command == "write" || request.command == "verify" ||
        (request.command == "show" && !request.file.isEmpty()))
        if (auto failed = LoadFile(request.file, fileImage)) return failed;
    if (request.command == "write" && !request.asIs) {
        // A display whose EDID does not start with the header, or whose block is bad, is
        // rejected by many hosts: such an image goes in only when asked for.
        if (!HasEdidHeader(fileImage))
            return Fail(kExitFileError, QString("Not an EDID image: the first 8 bytes of %1 are "
                                                "not 00 FF FF FF FF FF FF 00 (--as-is writes it "
                                                "all the same).")
                                            .arg(request.file));
        // A stamp recomputes the checksums anyway.
        if (request.fixChecksums || request.Stamping()) FixChecksums(fileImage, request.byteCount);
        if (request.stamp.serialText && !DisplayDescriptorOffset(fileImage, 0xFF))
            return Fail(kExitFileError, QString("%1 has no display serial number descriptor for "
                                                "--stamp-serial-text.")
                                            .arg(request.file));
        const std::vector<int> bad = BadBlocks(fileImage, request.byteCount);
        if (!bad.empty())
            return Fail(kExitFileError, QString("Block %1's checksum is bad in %2 (--fix-checksums "
                                                "mends it, --as-is writes it as it is).")
                                            .arg(bad.front())
                                            .arg(request.file));
    }
    if (request.command == "write" && !request.yes && !console.inIsTerminal)
        return Fail(kExitUsage,
                    "Standard input is not a terminal, so nobody can be asked before the memory "
                    "is overwritten: add --yes.");
    return std::nullopt;
}

Outcome Run(const Request& request, Console& console) {
    Outcome outcome;
    if (request.command == "list") return List(outcome), outcome;
    EdidImage fileImage{};
    UnitLog log;
    if (auto failed = Prepare(request, console, fileImage, log)) return *failed;
    if (request.command == "show" && !request.file.isEmpty())
        return Show(fileImage, outcome), outcome;
    auto opened = OpenChosenAdapter(request.adapters.value(0));
    if (auto* failed = std::get_if<Outcome>(&opened)) return Record(request, log, *failed), *failed;
    const Adapter adapter = std::get<Adapter>(opened);
    if (request.command == "write" && !AskBeforeWriting(request, {adapter.serial}, console)) {
        IowKitCloseDevice(adapter.handle);
        return Fail(kExitUsage, "Not confirmed; nothing written.");
    }
    const StopSignals stopSignals;
    outcome = RunOnAdapter(request, adapter, fileImage, ProgressBar(console));
    Record(request, log, outcome);
    return outcome;
}

// How bad a status is when several adapters ran: the run ends with the worst.
int Severity(int status) {
    constexpr int kWorstFirst[] = {kExitFileError, kExitUsage,    kExitInterrupted,
                                   kExitNoAdapter, kExitNoAnswer, kExitBytesDiffer,
                                   kExitDone};
    return int(std::end(kWorstFirst) - std::ranges::find(kWorstFirst, status));
}

// One progress line per adapter on a terminal, redrawn in place as any of them moves on.
class ProgressLines {
  public:
    ProgressLines(Console& console, const QStringList& serials)
        : console_(console), lines_(serials.size()), serials_(serials) {}
    TransferProgress For(int index) {
        if (!console_.errIsTerminal) return nullptr;
        return [this, index](const char* pass, int done, int total) {
            const std::lock_guard lock(mutex_);
            lines_[index] =
                QString("%1 %2 %3/%4").arg(serials_[index], QString(pass)).arg(done).arg(total);
            if (drawn_) console_.err << QString("\x1b[%1A").arg(lines_.size());
            for (const QString& line : lines_) console_.err << '\r' << line << "\x1b[K\n";
            console_.err << Qt::flush;
            drawn_ = true;
        };
    }

  private:
    Console& console_;
    std::mutex mutex_;
    QStringList lines_;
    QStringList serials_;
    bool drawn_ = false;
};

// The command on several adapters at once, one thread each. Returns the worst status.
int RunSeveral(const Request& request, bool json, Console& console) {
    EdidImage fileImage{};
    UnitLog log;
    if (auto failed = Prepare(request, console, fileImage, log)) {
        Print(*failed, request, json, console);
        return failed->status;
    }
    QStringList serials = request.adapters;
    if (request.all)
        for (const auto& adapter : iow::ListAttachedAdapters(false))
            serials << QString::fromStdString(adapter.serial);
    serials.removeDuplicates();
    if (serials.isEmpty()) serials << QString();  // the open says that none is attached
    std::vector<std::variant<Adapter, Outcome>> fixtures;
    QStringList opened;
    for (const QString& serial : serials) {
        fixtures.push_back(OpenChosenAdapter(serial));
        if (auto* adapter = std::get_if<Adapter>(&fixtures.back())) opened << adapter->serial;
    }
    if (request.command == "write" && !opened.isEmpty() &&
        !AskBeforeWriting(request, opened, console)) {
        for (auto& fixture : fixtures)
            if (auto* adapter = std::get_if<Adapter>(&fixture)) {
                IowKitCloseDevice(adapter->handle);
                fixture = Fail(kExitUsage, "Not confirmed; nothing written.");
            }
    }
    {
        const StopSignals stopSignals;
        ProgressLines progress(console, serials);
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < fixtures.size(); ++k)
            if (auto* adapter = std::get_if<Adapter>(&fixtures[k]))
                threads.emplace_back([&, k, adapter = *adapter] {
                    fixtures[k] = RunOnAdapter(request, adapter, fileImage, progress.For(int(k)));
                });
        for (std::thread& thread : threads) thread.join();
    }
    int worst = kExitDone;
    for (std::size_t k = 0; k < fixtures.size(); ++k) {
        Outcome& outcome = std::get<Outcome>(fixtures[k]);
        outcome.json["adapter_serial"] = serials[int(k)];
        Record(request, log, outcome);
        Print(outcome, request, json, console, serials[int(k)]);
        if (Severity(outcome.status) > Severity(worst)) worst = outcome.status;
    }
    return worst;
}

}  // namespace

int RunCommandLine(const QStringList& arguments, Console& console) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString("Reads, writes and verifies the EDID memory of a display through an IO-Warrior "
                "USB-to-I2C adapter.") +
        kCommandsAndStatuses);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption bytes("bytes", "How many bytes: 128 (one block) or 256 (two).",
                                   "count", "256");
    const QCommandLineOption yes("yes", "Write without asking; needed without a terminal.");
    const QCommandLineOption adapterOption(
        QStringList{"adapter", "serial"},
        "The adapter with this serial number (default: the first that no other program holds); "
        "given more than once, each of them at the same time. --serial is its old name.",
        "serial");
    const QCommandLineOption all("all", "Every attached adapter at the same time.");
    const QCommandLineOption fixChecksums(
        "fix-checksums", "write: recompute each written block's checksum (its last byte).");
    const QCommandLineOption asIs(
        "as-is",
        "write: write an image without the EDID header, or with a bad checksum, as it "
        "is (otherwise refused, status 5).");
    const QCommandLineOption json("json", "Print the outcome as one JSON object.");
    const QCommandLineOption pageBytes(
        "page-bytes",
        "Write in pages of 1, 4, 8 or 16 bytes (default 8, which every memory of the 24C01/24C02 "
        "family takes; 1 writes a byte at a time).",
        "bytes", QString::number(kDefaultPageBytes));
    const QCommandLineOption stampSerial(
        "stamp-serial",
        "write: stamp serial number N into bytes 12..15 and, where the image has one, "
        "the display serial number descriptor.",
        "N");
    const QCommandLineOption stampSerialText(
        "stamp-serial-text",
        "write: stamp TEXT (1 to 13 printable characters) into the display serial "
        "number descriptor alone.",
        "TEXT");
    const QCommandLineOption stampSerialFrom(
        "stamp-serial-from",
        "write: take each unit's serial number from the counter FILE, which "
        "holds the next one and is advanced under a lock before the unit is "
        "written.",
        "FILE");
    const QCommandLineOption stampDate(
        "stamp-date", "write: stamp the week and year of manufacture (YYYY-WW, or today).",
        "YYYY-WW");
    const QCommandLineOption logOption(
        "log", "write, verify: append a JSON record of each unit to FILE.", "FILE");
    const QCommandLineOption ignoreStamp(
        "ignore-stamp",
        "verify: leave out what a stamp changes (bytes 12..17, the serial number "
        "descriptor's text, and their blocks' checksums).");
    parser.addOptions({bytes, yes, adapterOption, all, json, pageBytes, fixChecksums, asIs,
                       stampSerial, stampSerialText, stampSerialFrom, stampDate, logOption,
                       ignoreStamp});
    parser.addPositionalArgument("command", "read, write, verify, scan, info, list or show.");
    parser.addPositionalArgument("file", "The image file of read, write, verify and show.",
                                 "[FILE]");

    const QString program = arguments.value(0, "quillon-cli");
    auto usage = [&](const QString& why) {
        console.err << why << "\nTry '" << program << " --help'.\n" << Qt::flush;
        return kExitUsage;
    };
    if (!parser.parse(arguments)) return usage(parser.errorText());
    if (parser.isSet(help)) {
        console.out << parser.helpText() << Qt::flush;
        return kExitDone;
    }
    if (parser.isSet(version)) {
        console.out << QCoreApplication::applicationName() << ' '
                    << QCoreApplication::applicationVersion() << '\n'
                    << Qt::flush;
        return kExitDone;
    }
    const QStringList positional = parser.positionalArguments();
    Request request;
    request.command = positional.value(0);
    const bool takesFile =
        request.command == "read" || request.command == "write" || request.command == "verify";
    const bool show = request.command == "show";
    if (!takesFile && !show && request.command != "scan" && request.command != "info" &&
        request.command != "list")
        return usage(request.command.isEmpty() ? "No command given."
                                               : "Unknown command: " + request.command);
    if (show && positional.size() > 2) return usage("show takes one FILE or none.");
    if (!show && positional.size() != (takesFile ? 2 : 1))
        return usage(takesFile ? request.command + " takes one FILE."
                               : request.command + " takes no FILE.");
    const QString byteText = parser.value(bytes);
    if (byteText != "128" && byteText != "256") return usage("--bytes takes 128 or 256.");
    const int page = parser.value(pageBytes).toInt();
    if (std::ranges::find(kPageSizes, page) == std::end(kPageSizes))
        return usage("--page-bytes takes 1, 4, 8 or 16.");
    request.pageBytes = page;
    request.file = positional.value(1);
    request.byteCount = static_cast<std::int16_t>(byteText.toInt());
    request.yes = parser.isSet(yes);
    request.adapters = parser.values(adapterOption);
    request.all = parser.isSet(all);
    request.asIs = parser.isSet(asIs);
    request.fixChecksums = parser.isSet(fixChecksums);
    if (request.asIs && request.fixChecksums)
        return usage("--as-is and --fix-checksums exclude each other.");
    if (auto why = StampOptions(parser, {stampSerial, stampSerialText, stampSerialFrom, stampDate},
                                request))
        return usage(*why);
    request.logFile = parser.value(logOption);
    request.ignoreStamp = parser.isSet(ignoreStamp);
    if (request.Stamping() && request.command != "write") return usage("Stamps go with write.");
    if (request.ignoreStamp && request.command != "verify")
        return usage("--ignore-stamp goes with verify.");
    if (!request.logFile.isEmpty() && request.command != "write" && request.command != "verify")
        return usage("--log goes with write and verify.");
    const bool several = request.all || request.adapters.size() > 1;
    if (several && request.command == "read")
        return usage("read writes one file: give it one adapter.");
    if (several) return RunSeveral(request, parser.isSet(json), console);
    const Outcome outcome = Run(request, console);
    Print(outcome, request, parser.isSet(json), console);
    return outcome.status;
}

int Main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QUILLON_VERSION);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Console console{out, err, ::isatty(STDERR_FILENO) == 1, ::isatty(STDIN_FILENO) == 1,
                    []() -> std::optional<QString> {
                        std::string line;
                        if (!std::getline(std::cin, line)) return std::nullopt;
                        return QString::fromStdString(line);
                    }};
    return RunCommandLine(QCoreApplication::arguments(), console);
}

}  // namespace quillon::cli
