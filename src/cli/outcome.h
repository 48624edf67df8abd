#pragma once

// What a run of quillon-cli is asked to do and what a command came to, in words and as JSON:
// shared by the commands, the several-adapter runner and the unit records.

#include <QJsonObject>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "files/file_error.h"
#include "image/byte_fault.h"
#include "image/edid_image.h"
#include "image/edid_stamp.h"
#include "transfer/memory_engine.h"

namespace quillon::cli {

struct CommandSpec;

struct Request {
    QString command;
    const CommandSpec* spec = nullptr;  // the command's row of the table
    QString file;
    std::int16_t byteCount = kByteCountTwoBlocks;
    bool yes = false;
    bool json = false;  // the outcome as JSON, else in words
    QStringList adapters;  // serial numbers; empty: the first free one
    bool all = false;
    int pageBytes = kDefaultPageBytes;
    bool asIs = false;          // write what is not an EDID, or a bad checksum, as it is
    bool fixChecksums = false;  // write each block with its checksum recomputed
    Stamp stamp;                // what each unit gets stamped, the counter's number aside
    QString counterFile;        // the next serial number, taken for each unit
    QString logFile;            // a record per unit
    bool ignoreStamp = false;   // verify leaves out what a stamp changes
    bool Stamping() const { return stamp.Any() || !counterFile.isEmpty(); }
};

// What a command came to: the status, one line for the operator, the result lines, and the
// same as JSON fields.
struct Outcome {
    int status = kExitDone;
    QString message;
    QStringList lines;
    QJsonObject json;
    // For the unit's record: the bytes meant for the memory, and those read back from it.
    std::optional<EdidImage> meant, readBack;
};

Outcome Fail(int status, const QString& message);

// "0x1F": an offset or a byte value.
QString Hex(int value);

// The path as the file system takes it.
std::string LocalPath(const QString& path);

// "Cannot <doing> <path>: <description> (error <number>)."
QString FileErrorText(const QString& doing, const QString& path, const FileError& error);

// The bytes that did not end as they should, as lines and as the JSON lists "failed" (no
// answer) and "differing" (another value read). Returns the status they give.
int AddFaults(Outcome& outcome, const std::vector<ByteFault>& faults);

// Each block's checksum verdict among the first `byteCount` bytes.
void AddBlockVerdicts(Outcome& outcome, const EdidImage& image, int byteCount);

// The identity that `image` gives, in words and JSON, and each block's checksum verdict.
void Show(const EdidImage& image, Outcome& outcome);

// The identity alone. Returns whether the image has a second block: the base block declares
// it, or it holds anything.
bool AddIdentity(const EdidImage& image, Outcome& outcome);

}  // namespace quillon::cli
