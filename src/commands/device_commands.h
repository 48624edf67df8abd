#pragma once

// Read EDID, Write EDID and the bus scan: the memory engine run a byte per exchange, observed by
// the window. Each runs on the window's thread, yields to the window as it goes and stops at
// once when the window closes.

#include <cstdint>
#include <string>

#include "commands/command_window.h"
#include "transfer/memory_engine.h"

namespace quillon {

// Reads ByteCount bytes of the memory into the image and both grids. A byte whose exchange
// failed stays red, as does the last byte of a block whose sum is not 0 mod 256. The faults
// are the bytes that could not be read; a bad block sum is not a fault. Abandoned when the
// window closed part-way.
MemoryOutcome ReadEdid(CommandWindow& window);

// After the operator confirmed, writes the bytes that the hex grid shows into the memory,
// then reads them back. A byte that the memory did not take, or that reads back other than it
// was sent, stays red and is a fault; so is a cell that holds no byte (it is not written).
// Abandoned when not confirmed, or when the window closed part-way.
MemoryOutcome WriteEdid(CommandWindow& window);

// Lists every address byte that the bus acknowledges in the result box.
BusScan ScanBus(CommandWindow& window);

// "160 (A0)" and a carriage return and line feed.
std::string ScanLine(std::uint8_t addressByte);

}  // namespace quillon
