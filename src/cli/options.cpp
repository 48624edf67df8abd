#include "cli/options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "cli/commands.h"
#include "cli/unit_stamps.h"

namespace quillon::cli {

namespace {

constexpr char kCommandsAndStatuses[] = R"(

Commands:
  read FILE     reads the memory into a raw image file (written only when every byte was read)
  write FILE    writes a raw or XML image file into the memory, exactly the blocks it holds,
                then reads every byte back; a file that is not whole blocks or holds more than
                the memory is refused (5), and so is an image that breaks a rule by which a
                source (a graphics driver, a TV box) throws EDIDs or blocks away, unless
                --fix-checksums mends it or --as-is takes it:
                  every block's checksum; block 0's header and version 1; no more extension
                  blocks counted (byte 126, or HF-EEODB) than the image holds; a CTA-861
                  block's detailed timings within it and its data blocks in revision 3; a
                  DisplayID section within its block, and its checksum
  verify FILE   compares the memory with an image file
  scan          lists the devices that answer on the I2C bus, one a line: write and read
                address byte (each 7-bit address probed once, with its write address; on a
                Linux bus as i2cdetect does: a read at 0x30-0x37 and 0x50-0x5F)
  info          the adapter's product id, revision and serial number, and how many are attached
  list          every attached adapter: serial number, product id, and whether another program
                holds it; and every Linux I2C bus: number, name, driver, and the connector
                whose DDC lines it is
  show [FILE]   who the display says it is: manufacturer, product code, serial number, week and
                year, EDID version, name, preferred mode, extension blocks, checksums, and the
                rules of a source it breaks; of an image file, or without FILE of the memory;
                with --conformity, edid-decode -c's failures and warnings too
  displays      the connectors of the graphics cards with a display on them: connector,
                manufacturer, product code, name, blocks (Linux's /sys/class/drm)

A display's EDID, as the kernel read it, instead of a file: read --from-display CONNECTOR FILE
saves it, write --from-display CONNECTOR programs it into the memory (a clone of the display
into an EDID emulator or a dummy plug), through the same checks and stamps as a file.

Several adapters (--adapter A --adapter B, or --all) run write, verify, scan, info or show at
the same time, each on its own: one progress line each on a terminal, one JSON object per
adapter per line with --json, and the worst status of theirs in this order: 5, 1, 6, 2, 3, 4, 0.
An option that a command does not take is a usage error.

Any Linux I2C bus instead of an IO-Warrior (--bus N or --bus CONNECTOR): a USB bridge with a
kernel driver (MCP2221, CP2112, i2c-tiny-usb), a board's I2C, or a graphics card's DDC lines.
A bridge that takes a write then a read to one address cannot reach an E-DDC memory's
segments, nor can an SMBus-only bus; an address that a kernel driver holds (at24, ee1004) is
named with the driver and how to release it.

Exit status:
  0  done, and every byte verified
  1  usage: a bad command line, the write not confirmed, no such connector, or
     --conformity without edid-decode
  2  no adapter: none attached, another program or a kernel driver holds it, no
     permission to open it, or a write on a computer's SMBus host controller refused
  3  the memory did not answer for some bytes
  4  bytes differ from the file, or a write did not hold (a write-protected memory)
  5  the file could not be read or written, its image breaks a source's rules, or the
     connector has no display
  6  interrupted (SIGINT or SIGTERM): the memory may hold part of the image; what was
     written has been read back and every byte not written or not verified is listed
When both 3 and 4 apply, the status is 3. A second signal ends the program at once.

Each unit with the next serial number of a counter file, this week, and a record:
  while read -p "next unit, Enter: " _; do
      quillon-cli write --yes --stamp-serial-from panel.counter --stamp-date today \
          --log line.jsonl panel.bin || break
  done)";

}  // namespace

Parsed ParseCommandLine(const QStringList& arguments, Console& console) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString("Reads, writes and verifies the EDID memory of a display through an IO-Warrior "
                "USB-to-I2C adapter, or any Linux I2C bus.") +
        kCommandsAndStatuses);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption bytes(
        "bytes",
        "How many bytes: whole blocks of 128, up to the memory's size; default: what the file "
        "of write or verify holds, and for read the EDID's own length (byte 126, or the HDMI "
        "Forum's override).",
        "count", "256");
    QString memories;
    for (const MemoryProfile& profile : kMemoryProfiles)
        memories += QString("\n  %1: %2").arg(profile.name, profile.about);
    const QCommandLineOption memory(
        "memory",
        "The memory the EDID is kept in (default 24c02); its page size is --page-bytes' "
        "default:" +
            memories,
        "name", DefaultMemory().name);
    const QCommandLineOption yes("yes", "Write without asking; needed without a terminal.");
    const QCommandLineOption adapterOption(
        QStringList{"adapter", "serial"},
        "The adapter with this serial number (default: the first that no other program holds); "
        "given more than once, each of them at the same time. --serial is its old name.",
        "serial");
    const QCommandLineOption all("all", "Every attached adapter at the same time.");
    const QCommandLineOption fixChecksums(
        "fix-checksums",
        "write: recompute each block's checksum (its last byte), and each DisplayID section's.");
    const QCommandLineOption asIs(
        "as-is",
        "write, read --from-display: take an image that breaks a source's rules (no EDID header, "
        "a bad checksum, ...) as it is; otherwise refused, status 5. The record says so.");
    const QCommandLineOption json("json", "Print the outcome as one JSON object.");
    const QCommandLineOption pageBytes(
        "page-bytes",
        "Write in pages of 1, 4, 8 or 16 bytes (default: the memory's, 8 for the 24C01/24C02 "
        "family; 1 writes a byte at a time).",
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
    const QCommandLineOption noPullUps(
        "no-pull-ups",
        "Switch the adapter's internal pull-ups off: a memory at 3.3 V with pull-ups of its own "
        "must not be pulled to 5 V.");
    const QCommandLineOption conformity(
        "conformity",
        "show: edid-decode's judgement of the image's conformity to the standards too (its -c): "
        "its failures and warnings as it words them, for information; most displays that work "
        "fail some.");
    const QCommandLineOption fromDisplay(
        "from-display",
        "read, write, show: the EDID of the display on CONNECTOR (as displays lists it, e.g. "
        "card0-HDMI-A-1) instead of a file: read saves it into FILE, write programs it into the "
        "memory, show shows it.",
        "CONNECTOR");
    const QCommandLineOption bus(
        "bus",
        "A Linux I2C bus (/dev/i2c-N, through i2c-dev) instead of an IO-Warrior: its number, or "
        "the connector whose DDC lines it is (as list shows them); given more than once, each "
        "of them at the same time.",
        "N|CONNECTOR");
    const QCommandLineOption writeSmbusHost(
        "write-smbus-host",
        "write: allow writing on bus N although it belongs to a computer's SMBus host "
        "controller (i801, piix4 ...), whose 0x50 is normally a memory module's SPD EEPROM; "
        "even then only a memory that reads as an EDID is written.",
        "N");
    const QList<QCommandLineOption> options{
        bytes,           yes,          adapterOption, all,         json,
        pageBytes,       fixChecksums, asIs,          stampSerial, stampSerialText,
        stampSerialFrom, stampDate,    logOption,     ignoreStamp, noPullUps,
        memory,          conformity,   fromDisplay,   bus,         writeSmbusHost};
    parser.addOptions(options);
    parser.addPositionalArgument("command",
                                 "read, write, verify, scan, info, list, show or displays.");
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
    request.entry = FindCommand(request.command);
    if (request.entry == nullptr)
        return usage(request.command.isEmpty() ? "No command given."
                                               : "Unknown command: " + request.command);
    const CommandEntry& entry = *request.entry;
    const QString name = request.command;
    const int files = static_cast<int>(positional.size()) - 1;
    // A display's EDID is the image that write and show would take from a file.
    request.fromDisplay = parser.value(fromDisplay);
    const bool displayIsFile = parser.isSet(fromDisplay) &&
                               (entry.file == FileUse::Read || entry.file == FileUse::ReadOptional);
    if (displayIsFile && files != 0) return usage(name + " --from-display takes no FILE.");
    if (entry.file == FileUse::ReadOptional && files > 1)
        return usage(name + " takes one FILE or none.");
    if (entry.file == FileUse::None && files != 0) return usage(name + " takes no FILE.");
    if (((entry.file == FileUse::Read && !displayIsFile) || entry.file == FileUse::Written) &&
        files != 1)
        return usage(name + " takes one FILE.");
    request.file = positional.value(1);
    // With its FILE, or a display's EDID, show reads no adapter; nor does read from a display.
    const bool fileNotAdapter =
        (entry.file == FileUse::ReadOptional && (!request.file.isEmpty() || displayIsFile)) ||
        (entry.file == FileUse::Written && parser.isSet(fromDisplay));
    for (const QString& given : parser.optionNames()) {
        const auto option = std::ranges::find_if(
            options, [&](const QCommandLineOption& o) { return o.names().contains(given); });
        const QString first = option->names().first();
        const bool adapterOption = first == "adapter" || first == "all" || first == "bus";
        if (first != "json" &&
            (!entry.options.contains(first) || (adapterOption && fileNotAdapter)))
            return usage(QString("%1%2 does not take --%3.")
                             .arg(name, request.file.isEmpty() ? "" : " FILE", given));
    }
    request.memory = FindMemoryProfile(parser.value(memory).toStdString());
    if (request.memory == nullptr) return usage("--memory takes one of:" + memories);
    bool number = false;
    const int count = parser.value(bytes).toInt(&number);
    if (!number || count < kBlockBytes || count % kBlockBytes != 0 || count > request.memory->bytes)
        return usage(QString("--bytes takes whole blocks of 128, up to the %1 of the memory (%2).")
                         .arg(request.memory->bytes)
                         .arg(request.memory->name));
    const int page =
        parser.isSet(pageBytes) ? parser.value(pageBytes).toInt() : request.memory->pageBytes;
    if (std::ranges::find(kPageSizes, page) == std::end(kPageSizes))
        return usage("--page-bytes takes 1, 4, 8 or 16.");
    request.pageBytes = page;
    request.byteCount = static_cast<std::int16_t>(count);
    request.byteCountGiven = parser.isSet(bytes);
    request.yes = parser.isSet(yes);
    request.adapters = parser.values(adapterOption);
    request.all = parser.isSet(all);
    request.json = parser.isSet(json);
    request.asIs = parser.isSet(asIs);
    if (request.asIs && !entry.writes && request.fromDisplay.isEmpty())
        return usage(name + " takes --as-is with --from-display only.");
    request.fixChecksums = parser.isSet(fixChecksums);
    if (request.asIs && request.fixChecksums)
        return usage("--as-is and --fix-checksums exclude each other.");
    if (auto why = StampOptions(parser, {stampSerial, stampSerialText, stampSerialFrom, stampDate},
                                request))
        return usage(*why);
    request.logFile = parser.value(logOption);
    request.ignoreStamp = parser.isSet(ignoreStamp);
    request.pullUpsOff = parser.isSet(noPullUps);
    request.conformity = parser.isSet(conformity);
    request.buses = parser.values(bus);
    request.smbusHostBus = parser.value(writeSmbusHost);
    if (!request.buses.isEmpty() && (request.all || !request.adapters.isEmpty()))
        return usage("--bus chooses Linux I2C buses, --adapter and --all IO-Warriors: give one "
                     "kind.");
    if (!request.smbusHostBus.isEmpty() && request.buses.isEmpty())
        return usage("--write-smbus-host goes with the --bus it names.");
    if (entry.adapters == AdapterUse::One &&
        request.adapters.size() + request.buses.size() > 1)
        return usage(name + " writes one file: give it one adapter.");
    return request;
}

}  // namespace quillon::cli
