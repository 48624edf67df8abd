#pragma once

// Read EDID, Write EDID and the bus scan. Each runs on the window's thread, yields to the
// window as it goes and stops at once when the window closes.

#include <cstdint>
#include <string>

#include "commands/command_window.h"

namespace quillon {

// Reads ByteCount bytes of the memory into the image and both grids. A byte whose exchange
// failed stays red, as does the last byte of a block whose sum is not 0 mod 256.
void ReadEdid(CommandWindow& window);

// After the operator confirmed, writes the bytes that the hex grid shows (an empty cell is 0)
// into the memory, reading each one back. A byte that the memory did not take, or that reads
// back other than it was sent, stays red.
void WriteEdid(CommandWindow& window);

// Lists every address byte that the bus acknowledges in the result box.
void ScanBus(CommandWindow& window);

inline constexpr char kNoDevicesText[] = "No Devices found on I2C Buss";

// "160 (A0)" and a carriage return and line feed.
std::string ScanLine(std::uint8_t addressByte);

}  // namespace quillon
