#pragma once

// Reads a range of the EDID memory, or programs it and then reads all of it back, in as few
// exchanges as the adapter and the memory allow: a page of the memory per write transaction,
// and as many bytes per read request as one reply of the adapter carries (6 on an IO-Warrior 24,
// 62 on an IO-Warrior 56). Every byte is verified; what each came to is returned. The window
// keeps its own byte-per-exchange commands.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "image/byte_fault.h"
#include "image/edid_image.h"
#include "iow/iowkit.h"

namespace quillon {

// Pages that writes go in, aligned to their size. Every memory of the 24C01/24C02/24LC21A
// family takes 8 bytes a page (many take 16); 1 writes a byte per transaction.
inline constexpr int kDefaultPageBytes = 8;
inline constexpr int kPageSizes[] = {1, 4, 8, 16};

// Called as a transfer goes: the pass ("reading", "writing" or "checking"), the bytes done and
// of how many.
using TransferProgress = std::function<void(const char* pass, int done, int total)>;

struct TransferOutcome {
    EdidImage memory{};             // what was read; 0 where nothing was
    std::vector<ByteFault> faults;  // in offset order; empty when every byte is good
    bool interrupted = false;       // `stop` was set before the end
};

// Reads bytes 0..count-1 of the memory. Once `stop` is set, the bytes not read yet are faults.
TransferOutcome ReadRange(IowKitHandle handle, int count, const TransferProgress& progress,
                          const std::atomic<bool>* stop = nullptr);

// Writes image[0..count) in pages of `pageBytes`, then reads the whole range back. A byte is a
// fault when its page was not taken, or when it reads back otherwise or not at all. Once `stop`
// is set, the page under way is finished and no more are written; the range is read back all
// the same, and the bytes not written are faults.
TransferOutcome ProgramRange(IowKitHandle handle, const EdidImage& image, int count, int pageBytes,
                             const TransferProgress& progress,
                             const std::atomic<bool>* stop = nullptr);

struct BusScan {
    std::vector<std::uint8_t> acknowledged;
    bool adapterAnswered = true;  // false: some address got no answer, so the list may lack it
};

// Every address byte (0..255) that a device on the bus acknowledges.
BusScan ScanAddresses(IowKitHandle handle);

}  // namespace quillon
