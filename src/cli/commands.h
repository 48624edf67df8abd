#pragma once

// quillon-cli's commands as a table: what each takes (a file read or written, no adapter, one,
// several), whether it writes the memory, which options apply, and what it does on one open
// adapter. The runner and the option parser read it; nothing compares a command's name.

#include <QStringList>
#include <atomic>

#include "cli/adapters.h"
#include "cli/command_result.h"
#include "files/unit_records.h"

namespace quillon::cli {

enum class FileUse { None, Read, Written, ReadOptional };
enum class AdapterUse { None, One, Several };

// One command on one open adapter: what the command line asked, the image of its file (when it
// reads one), the progress and the stop flag of the transfer.
struct Job {
    const Request& request;
    const Adapter& adapter;
    I2cBus& bus;  // the adapter's I2C bus
    const EdidBytes& fileImage;
    const TransferProgress& progress;
    const std::atomic<bool>* stop;
};

struct CommandEntry {
    const char* name;
    FileUse file;
    AdapterUse adapters;
    bool writes;
    // The options it takes besides --help, --version and --json.
    QStringList options;
    void (*run)(const Job&, CommandResult&);  // on one open adapter; none for list
    // Without an adapter: list and displays always, read with --from-display.
    CommandResult (*alone)(const Request&) = nullptr;
};

// Whether the command runs without any adapter.
bool RunsAlone(const Request& request);

// The command named `name`; nullptr for none.
const CommandEntry* FindCommand(const QString& name);

// What a command needs before any adapter: the log and the counter open, the file it writes
// from or compares with loaded and checked (its length becomes the byte count unless --bytes
// gave one), and someone to ask before a write. The failure, if any.
std::optional<CommandResult> Prepare(Request& request, bool inIsTerminal, EdidBytes& fileImage,
                                     UnitLog& log);

// Who `image` says the display is, the rules of a source it breaks and, when asked,
// edid-decode's judgement of its conformity.
void Show(const Request& request, std::span<const std::uint8_t> image, CommandResult& outcome);

// The command on one open adapter, which it closes: on its I2C bus, an IO-Warrior's at its own
// report size with its pull-ups as asked.
CommandResult RunOnAdapter(const Request& request, const Adapter& adapter,
                           const EdidBytes& fileImage, const TransferProgress& progress,
                           const std::atomic<bool>* stop);



}  // namespace quillon::cli
