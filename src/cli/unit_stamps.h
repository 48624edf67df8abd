#pragma once

// Each unit's own identity and record on a production line: the stamp that the options ask for,
// the counter's number taken for a unit, and the unit's line in the log.

#include <QCommandLineParser>
#include <array>
#include <optional>

#include "cli/command_result.h"
#include "files/unit_records.h"

namespace quillon::cli {

// The stamp that the options (--stamp-serial, --stamp-serial-text, --stamp-serial-from,
// --stamp-date) ask for, into `request`; why not, when they ask for what cannot be.
std::optional<QString> StampOptions(const QCommandLineParser& parser,
                                    const std::array<QCommandLineOption, 4>& options,
                                    Request& request);

// Stamps this unit's identity into `image`, taking its serial number from the counter first
// (on the disk before anything is written, so that it is never given twice). False, with the
// outcome a file error, when the counter could not be taken.
bool StampUnit(const Request& request, EdidBytes& image, CommandResult& outcome);

// Appends the unit's record to `log` (when open): the outcome, and when, where, from what
// file, the bytes meant and read back (SHA-256) and who the image says the display is. A record
// that cannot be written makes the unit a file error.
void Record(const Request& request, UnitLog& log, CommandResult& outcome);

}  // namespace quillon::cli
