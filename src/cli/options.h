#pragma once

// quillon-cli's command line: the options, the help text, and what a command line asks for,
// checked against the command's row of the table.

#include <QStringList>
#include <variant>

#include "cli/command_line.h"
#include "cli/command_result.h"

namespace quillon::cli {

// What to do once the command line is read: a request, or an exit status with its words
// already on the console (help, version, a usage error).
using Parsed = std::variant<Request, int>;

Parsed ParseCommandLine(const QStringList& arguments, Console& console);

}  // namespace quillon::cli
