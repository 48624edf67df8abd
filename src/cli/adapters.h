#pragma once

// The adapters that quillon-cli runs a command on: chosen by serial number, or the first that no
// other program holds, each opened alone; and why none could be.

#include <QStringList>
#include <variant>

#include "cli/command_result.h"
#include "iow/iowkit.h"

namespace quillon::cli {

struct Adapter {
    IowKitHandle handle = 0;
    QString serial;
};

// The serial numbers that a command runs on: those given (each once), every attached one for
// --all, or one empty serial (the first free adapter).
QStringList ChosenSerials(const Request& request);

// Opens the adapter with serial number `wanted` (empty: the first attached that it can open) and
// nothing else, with the read time-out the commands are made for. No other adapter's node is
// opened, not even for a moment: another program may be opening it for its own fixture. A
// serial number must be whole: the beginning of one chooses nothing.
std::variant<Adapter, CommandResult> OpenChosenAdapter(const QString& wanted);

}  // namespace quillon::cli
