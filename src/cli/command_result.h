#pragma once

// What a run of quillon-cli is asked to do (Request) and what a command came to (CommandResult):
// one typed value, rendered in words (Words), as a JSON object (Json) and, with when and where, as
// a unit's record (unit_stamps' Record).

#include <QJsonObject>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/conformity.h"
#include "files/file_error.h"
#include "i2cdev/i2c_buses.h"
#include "image/byte_fault.h"
#include "image/edid_identity.h"
#include "image/edid_image.h"
#include "image/edid_stamp.h"
#include "image/source_rules.h"
#include "iow/adapter_choice.h"
#include "transfer/memory_engine.h"
#include "transfer/memory_profiles.h"

namespace quillon::cli {

struct CommandEntry;

struct Request {
    QString command;
    const CommandEntry* entry = nullptr;  // the command's row of the table
    QString file;
    std::int16_t byteCount = kByteCountTwoBlocks;
    bool byteCountGiven = false;  // by --bytes; else a file's length, or the EDID's, gives it
    const MemoryProfile* memory = &DefaultMemory();
    bool yes = false;
    bool json = false;     // the outcome as JSON, else in words
    QStringList adapters;  // serial numbers; empty: the first free one
    bool all = false;
    int pageBytes = kDefaultPageBytes;
    bool asIs = false;          // write what is not an EDID, or a bad checksum, as it is
    bool fixChecksums = false;  // write each block with its checksum recomputed
    Stamp stamp;                // what each unit gets stamped, the counter's number aside
    QString counterFile;        // the next serial number, taken for each unit
    QString logFile;            // a record per unit
    bool ignoreStamp = false;   // verify leaves out what a stamp changes
    bool pullUpsOff = false;    // the adapter's internal pull-ups off (memories at 3.3 V)
    bool conformity = false;    // show: edid-decode's judgement too
    QString fromDisplay;        // the connector whose display's EDID is the image
    QStringList buses;          // Linux I2C buses (numbers or connectors) instead of adapters
    QString smbusHostBus;       // the SMBus host controller's bus that a write may go on
    bool Stamping() const { return stamp.Any() || !counterFile.isEmpty(); }
};

// Who an image says the display is, and the tags of its extension blocks: of each block after
// the base block that the image holds and that is counted or holds anything.
struct Identity {
    EdidIdentity id;
    std::vector<std::string> blockTags;  // of blocks 1, 2, ...
};

// A unit's stamp as it went in.
struct Stamped {
    Stamp stamp;
    bool descriptor = false;  // the serial number descriptor got the text
};

// What a command came to. Each part is there when the command gives it.
struct CommandResult {
    int status = kExitDone;
    QString message;
    std::optional<QString> adapterSerial;
    std::optional<std::vector<ByteFault>> faults;  // no answer (3) or another value (4)
    std::optional<std::vector<int>> badBlocks;     // checksum verdicts of `blockCount` blocks
    int blockCount = 0;
    std::optional<Identity> identity;                       // show
    std::optional<Conformity> conformity;                   // show --conformity
    std::optional<std::vector<std::uint8_t>> acknowledged;  // scan
    struct Info {
        int adapters = 0;
        std::uint32_t productId = 0, revision = 0;
    };
    std::optional<Info> info;
    std::optional<std::vector<iow::AttachedAdapter>> attached;  // list
    std::optional<std::vector<i2cdev::I2cBusFacts>> buses;      // list
    struct Display {
        QString connector;
        Identity identity;
        int blocks = 0;
    };
    std::optional<std::vector<Display>> displays;  // displays
    std::optional<Stamped> stamped;
    bool asIs = false, checksumsFixed = false;
    // The rules of a source that the image breaks: what show found, or what --as-is wrote.
    std::optional<std::vector<RuleBreak>> ruleBreaks;
    // For the unit's record: the bytes meant for the memory, and those read back from it.
    std::optional<EdidBytes> meant, readBack;

    // The faults, and the status they give: 3 when some byte got no answer, else 4 when some
    // differs, else 0.
    int SetFaults(std::vector<ByteFault> listed);
    // Each block's checksum verdict among the first `byteCount` bytes of `image`.
    void SetBlocks(std::span<const std::uint8_t> image, int byteCount);
    // Who `image` says the display is, its blocks' verdicts and the rules of a source it breaks.
    void SetShown(std::span<const std::uint8_t> image);
};

CommandResult Fail(int status, const QString& message);

// The outcome's lines in words, for standard output.
QStringList Words(const CommandResult& outcome);
// The outcome as JSON: its parts, the command, the byte count, the status and the message.
QJsonObject Json(const CommandResult& outcome, const Request& request);
// Who the image says the display is, as JSON.
QJsonObject IdentityJson(const Identity& identity);
Identity IdentityOf(std::span<const std::uint8_t> image);

// "0x1F": an offset or a byte value.
QString Hex(int value);

// The path as the file system takes it.
std::string LocalPath(const QString& path);

// "Cannot <doing> <path>: <description> (error <number>)."
QString FileErrorText(const QString& doing, const QString& path, const FileError& error);

}  // namespace quillon::cli
