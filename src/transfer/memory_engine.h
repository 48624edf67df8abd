#pragma once

// The one engine that reads, programs and verifies the EDID memory and scans its bus, over I2C
// messages. The window runs it a byte per exchange with the address set before each byte; the
// command line at the chip's pace: a page of the memory per write transaction and as many bytes
// per read request as the bus allows (6 on an IO-Warrior 24, 62 on an IO-Warrior 56). Each
// program observes it: progress, a stop request, and the start and end of each unit (a byte, a
// chunk or a page). What each byte came to is returned.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "iic/i2c_bus.h"
#include "image/byte_fault.h"
#include "image/edid_image.h"

namespace quillon {

// Pages that writes go in, aligned to their size. Every memory of the 24C01/24C02/24LC21A
// family takes 8 bytes a page (many take 16); 1 writes a byte per transaction.
inline constexpr int kDefaultPageBytes = 8;
inline constexpr int kPageSizes[] = {1, 4, 8, 16};

// How the engine goes through the memory.
struct Pace {
    int readBytes = 0;  // bytes per read request; 0: as many as the bus's MaxReadBytes
    int pageBytes = kDefaultPageBytes;  // bytes per write transaction
    // Sets the memory's address before every read request, rather than at the start and after
    // a request that failed (where the memory's pointer then stands is not known).
    bool addressEachRead = false;
    // The read-back leaves out a unit none of whose bytes the memory took: they are faults
    // already. Otherwise the whole range is read back, telling what the memory now holds.
    bool checkOnlyTaken = false;
    // How bytes past the first 256 are reached. No unit crosses a 256-byte boundary.
    Addressing addressing = Addressing::OneAddress;
};

// The window's pace: a byte per exchange.
inline constexpr Pace kBytePace{
    .readBytes = 1, .pageBytes = 1, .addressEachRead = true, .checkOnlyTaken = true};

enum class Pass { Reading, Writing, Checking };

class TransferObserver {
  public:
    virtual ~TransferObserver() = default;
    // A unit is under way: runs while its first request is on the wire or, when nothing is sent
    // for it, in its place. False abandons the transfer at once: no answer is read and nothing
    // more is sent.
    virtual bool UnitStarting(Pass, int /*offset*/, int /*count*/) { return true; }
    // What the unit came to: `good` when every byte came (Reading), was taken (Writing), or
    // read back as meant (Checking); `values` holds what was read. False abandons.
    virtual bool UnitDone(Pass, int /*offset*/, std::span<const std::optional<std::uint8_t>>,
                          bool /*good*/) {
        return true;
    }
    // A pass has ended. False abandons.
    virtual bool PassDone(Pass) { return true; }
    // Asked before each unit of a read or a write: once true, nothing more is sent (the unit
    // under way was finished) and the units left are faults; a write's range is read back all
    // the same.
    virtual bool StopRequested() { return false; }
};

struct MemoryOutcome {
    std::vector<std::uint8_t> memory;  // what was read, the range's size; 0 where nothing was
    std::vector<ByteFault> faults;     // in offset order; empty when every byte is good
    bool interrupted = false;          // the observer asked to stop before the end
    bool abandoned = false;            // the observer abandoned it part-way
};

// Reads bytes from..count-1 of the memory into the outcome's memory (of `count` bytes).
MemoryOutcome ReadMemory(I2cBus& bus, int count, const Pace& pace, TransferObserver& observer,
                         int from = 0);

// Writes meant[0..size) in pages, then reads the range back. A byte that holds nothing is not
// written, and neither is a page that holds such a byte. A byte is a fault when its page was not
// taken, or when it reads back otherwise or not at all.
MemoryOutcome ProgramMemory(I2cBus& bus, std::span<const std::optional<std::uint8_t>> meant,
                            const Pace& pace, TransferObserver& observer);

struct BusScan {
    std::vector<std::uint8_t> acknowledged;
    bool adapterAnswered = true;  // false: some address got no answer, so the list may lack it
    bool abandoned = false;
};

// What a scan that found nothing says: the window's result box, the command line's message.
inline constexpr char kNoDevicesText[] = "No Devices found on I2C Buss";

// What a scan probes: every address byte, 0 to 255 (the window's scan), or each 7-bit address
// once, with its write address byte. A memory addressed for reading drives the first bit of the
// byte at its pointer: when that bit is 0 it holds SDA low, the probe's stop never happens and
// the bus is held, so a careful scan never probes a read address. A bus that reads a byte after
// a read address (Linux's i2c-dev) is probed as i2cdetect does by default: 0x08 to 0x77, a read
// at 0x30..0x37 and 0x50..0x5F (where a quick write could change an EEPROM's pointer or write-
// protect it), a write elsewhere.
enum class ScanProbes { EveryAddressByte, WriteAddresses, AsI2cdetect };

// The address bytes that a device on the bus acknowledges, in order; probing write addresses,
// each device's write and read address byte. `found` runs for each probe acknowledged, and false
// from it abandons the scan.
BusScan ScanAddresses(I2cBus& bus, ScanProbes probes,
                      const std::function<bool(std::uint8_t)>& found = nullptr);

// --- For the command line: progress in words and a stop flag ---

// Called as a transfer goes: the pass ("reading", "writing" or "checking"), the bytes done and
// of how many.
using TransferProgress = std::function<void(const char* pass, int done, int total)>;

class ProgressObserver final : public TransferObserver {
  public:
    ProgressObserver(TransferProgress progress, int total, const std::atomic<bool>* stop)
        : progress_(std::move(progress)), total_(total), stop_(stop) {}
    bool UnitDone(Pass pass, int offset, std::span<const std::optional<std::uint8_t>> values,
                  bool good) override;
    bool StopRequested() override { return stop_ != nullptr && stop_->load(); }

  private:
    TransferProgress progress_;
    int total_;
    const std::atomic<bool>* stop_;
};

// The whole image, every byte meant.
std::vector<std::optional<std::uint8_t>> AllMeant(std::span<const std::uint8_t> image, int count);

}  // namespace quillon
