#pragma once

// Read EDID, Write EDID and the bus scan. Each runs on the window's thread, yields to the
// window as it goes and stops at once when the window closes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_window.h"
#include "image/byte_fault.h"

namespace quillon {

// The read time-out that a program sets on every adapter it opens for these commands (the
// backends' own default is five times longer): an adapter answers within milliseconds, and
// an unanswered exchange costs this much and as much again in the quiet wait after it.
inline constexpr std::uint32_t kReadTimeoutMs = 200;

// What a read or write came to, for a caller that reports it in words rather than colours.
struct CommandOutcome {
    bool finished = false;          // false: not confirmed, or the window closed part-way
    std::vector<ByteFault> faults;  // in offset order; empty when every byte is good
};

// Reads ByteCount bytes of the memory into the image and both grids. A byte whose exchange
// failed stays red, as does the last byte of a block whose sum is not 0 mod 256. The faults
// are the bytes that could not be read; a bad block sum is not a fault.
CommandOutcome ReadEdid(CommandWindow& window);

// After the operator confirmed, writes the bytes that the hex grid shows into the memory,
// then reads them back. A byte that the memory did not take, or that reads back other than it
// was sent, stays red and is a fault; so is a cell that holds no byte (it is not written).
CommandOutcome WriteEdid(CommandWindow& window);

struct ScanOutcome {
    bool finished = false;  // false: the window closed part-way
    std::vector<std::uint8_t> acknowledged;
    bool adapterAnswered = true;  // false: some address got no answer, so the list may lack it
};

// Lists every address byte that the bus acknowledges in the result box.
ScanOutcome ScanBus(CommandWindow& window);

inline constexpr char kNoDevicesText[] = "No Devices found on I2C Buss";

// "160 (A0)" and a carriage return and line feed.
std::string ScanLine(std::uint8_t addressByte);

}  // namespace quillon
