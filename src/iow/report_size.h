#pragma once

// This program's own addition to the adapter library's functions, defined by each backend: the
// size of the reports that `pipe` of an open adapter exchanges, as its driver gives it (8 on an
// IO-Warrior 24 or 40; 64 on the I2C pipe of an IO-Warrior 56, 28 or 100). A report of the
// I2C function carries that size less two bytes of data. 0 for handle 0.

#include <cstdint>

#include "iow/iowkit.h"

namespace quillon::iow {

std::uint32_t ReportBytes(IowKitHandle handle, std::uint32_t pipe);

}  // namespace quillon::iow
