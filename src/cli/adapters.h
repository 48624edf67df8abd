#pragma once

// The adapters that quillon-cli runs a command on: chosen by serial number, or the first that no
// other program holds, each opened alone; and why none could be.

#include <QStringList>
#include <memory>
#include <variant>

#include "cli/command_result.h"
#include "iic/i2c_bus.h"
#include "iow/iowkit.h"

namespace quillon::cli {

struct Adapter {
    IowKitHandle handle = 0;  // an IO-Warrior's; 0 on a Linux I2C bus
    QString serial;           // the IO-Warrior's serial number, or the bus's node ("i2c-3")
    std::shared_ptr<I2cBus> bus;  // a Linux I2C bus, held open
};

// The serial numbers that a command runs on: those given (each once), every attached one for
// --all, or one empty serial (the first free adapter); the buses given with --bus instead.
QStringList ChosenSerials(const Request& request);

// Opens what `wanted` names: a Linux I2C bus when --bus gave it, else an IO-Warrior.
std::variant<Adapter, CommandResult> OpenChosen(const Request& request, const QString& wanted);

// Opens the Linux I2C bus `chosen` (a number or a connector) for the request's memory: refused
// when i2c-dev cannot open it, when a kernel driver holds one of the memory's addresses, when
// the memory needs what the bus cannot do (a segment), and, for a write on a computer's SMBus
// host controller, unless --write-smbus-host names the bus and the memory reads as an EDID.
std::variant<Adapter, CommandResult> OpenChosenBus(const Request& request, const QString& chosen);

// Opens the adapter with serial number `wanted` (empty: the first attached that it can open) and
// nothing else, with the read time-out the commands are made for. No other adapter's node is
// opened, not even for a moment: another program may be opening it for its own fixture. A
// serial number must be whole: the beginning of one chooses nothing.
std::variant<Adapter, CommandResult> OpenChosenAdapter(const QString& wanted);

}  // namespace quillon::cli
