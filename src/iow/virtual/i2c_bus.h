#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

namespace quillon::iow {

using Clock = std::chrono::steady_clock;

// A device on the emulated I2C bus. The bus master (the adapter) calls these in the order of
// a real transaction: a start with an address byte, bytes written or read, a stop.
class I2cDevice {
  public:
    virtual ~I2cDevice() = default;
    // Whether the device acknowledges this address byte (either direction) at `now`.
    virtual bool Acknowledges(std::uint8_t addressByte, Clock::time_point now) const = 0;
    // A start addressed to this device with `addressByte`: writing (bit 0 clear) or reading.
    virtual void Start(std::uint8_t addressByte) { (void)addressByte; }
    // A byte written to the device; returns whether it acknowledged it.
    virtual bool Write(std::uint8_t value) {
        (void)value;
        return true;
    }
    // A byte read from the device.
    virtual std::uint8_t Read() { return 0xFF; }
    // Whether, addressed for reading, it drives SDA low for the first bit of the byte it sends
    // (a memory whose byte at the pointer is below 0x80): a master that then tries a stop
    // cannot, and the bus is held.
    virtual bool DrivesLow() const { return false; }
    // The end of its transaction: a stop, or a repeated start to another address.
    virtual void Stop(Clock::time_point now) { (void)now; }
    // A stop condition on the bus, or a byte not acknowledged, whoever was addressed.
    virtual void BusStop() {}
};

// The VESA E-DDC segment pointer at address byte 0x60, write only: the segment that the memory
// at 0xA0 answers in within the same transaction. Back to 0 at every stop and not-acknowledge,
// unless it is one of the sinks that keep it until 0 is written.
class SegmentPointer : public I2cDevice {
  public:
    static constexpr std::uint8_t kAddressByte = 0x60;
    explicit SegmentPointer(bool keeps) : keeps_(keeps) {}
    bool Acknowledges(std::uint8_t addressByte, Clock::time_point) const override {
        return addressByte == kAddressByte;
    }
    bool Write(std::uint8_t value) override {
        segment_ = value;
        return true;
    }
    void BusStop() override {
        if (!keeps_) segment_ = 0;
    }
    int Segment() const { return segment_; }

  private:
    bool keeps_;
    int segment_ = 0;
};

// A device that acknowledges one address pair (write and read address byte) and does nothing
// else; stands for any other chip on the bus.
class PlainI2cDevice : public I2cDevice {
  public:
    explicit PlainI2cDevice(std::uint8_t addressByte) : address_(addressByte & 0xFE) {}
    bool Acknowledges(std::uint8_t addressByte, Clock::time_point) const override {
        return (addressByte & 0xFE) == address_;
    }

  private:
    std::uint8_t address_;
};

// A 24C02 serial EEPROM: 256 bytes at address bytes 0xA0/0xA1. The first byte written after
// a start sets the address pointer; further bytes are stored at the pointer, which wraps
// within its page (8 bytes on a 24C02; some memories of the family have 4 or 16). Reads return
// bytes from the pointer, which then moves on. A stop after stored bytes starts the write cycle,
// during which the memory acknowledges nothing. Its 128-byte variant (a 24C01 or 24LC21A in older
// displays) ignores the address's high bit: offset k and k + 128 are the same cell, so Memory()
// shows each byte twice. Larger, it is a 24C04, 24C08 or 24C16 (each 256 bytes at address bytes
// of their own, 0xA0, 0xA2 ... 0xAE) or an E-DDC memory (each 256 bytes in a segment, chosen
// through the SegmentPointer before the memory is addressed).
class Eeprom24C02 : public I2cDevice {
  public:
    static constexpr std::uint8_t kAddressByte = 0xA0;
    static constexpr auto kDefaultWriteCycle = std::chrono::milliseconds(5);
    static constexpr int kDefaultPageBytes = 8;

    Eeprom24C02() { memory_.fill(0xFF); }

    bool Acknowledges(std::uint8_t addressByte, Clock::time_point now) const override {
        const int pairs = segment_ == nullptr ? Blocks() : 1;
        return (addressByte & 0xF0) == kAddressByte && ((addressByte & 0x0F) >> 1) < pairs &&
               now >= busyUntil_ && refused_.count(addressByte) == 0;
    }
    void Start(std::uint8_t addressByte) override {
        expectingWordAddress_ = (addressByte & 1) == 0;
        block_ = segment_ != nullptr ? segment_->Segment() % Blocks() : (addressByte & 0x0F) >> 1;
    }
    bool Write(std::uint8_t value) override {
        if (expectingWordAddress_) {
            pointer_ = value;
            expectingWordAddress_ = false;
        } else if (writeProtected_) {
            // WP tied high: the byte is acknowledged, nothing is stored, no write cycle.
            pointer_ = NextInPage();
        } else {
            Cell(pointer_) = corrupted_.count(pointer_) ? value ^ kCorruptedBit : value;
            if (oneBlock_) memory_[pointer_ ^ 0x80] = memory_[pointer_];
            pointer_ = NextInPage();
            storedSinceStart_ = true;
        }
        return true;
    }
    std::uint8_t Read() override { return Cell(pointer_++); }
    bool DrivesLow() const override { return At(block_ * 256 + pointer_) < 0x80; }
    void Stop(Clock::time_point now) override {
        if (storedSinceStart_) {
            busyUntil_ = now + writeCycle_;
            storedSinceStart_ = false;
        }
    }

    // The first 256 bytes.
    std::array<std::uint8_t, 256>& Memory() { return memory_; }
    // A larger memory of `bytes` (a multiple of 256), 0xFF past the first 256; E-DDC's when
    // `segment` is given, which the adapter's bus must carry too.
    void SetSize(int bytes, const SegmentPointer* segment = nullptr) {
        upper_.assign(static_cast<std::size_t>(bytes - 256), 0xFF);
        segment_ = segment;
    }
    int Size() const { return 256 + static_cast<int>(upper_.size()); }
    // Its first `count` bytes; `bytes` put at its start.
    std::vector<std::uint8_t> Bytes(int count) {
        std::vector<std::uint8_t> bytes;
        for (int k = 0; k < count; ++k) bytes.push_back(At(k));
        return bytes;
    }
    void Put(std::span<const std::uint8_t> bytes) {
        for (std::size_t k = 0; k < bytes.size(); ++k) At(static_cast<int>(k)) = bytes[k];
    }
    void SetWriteCycle(Clock::duration cycle) { writeCycle_ = cycle; }
    // The page a write wraps in: a power of two.
    void SetPageBytes(int bytes) { pageMask_ = static_cast<std::uint8_t>(bytes - 1); }
    // Faults of the memory itself: its write-protect pin held high, and cells that store one
    // bit wrong (kCorruptedBit flipped).
    static constexpr std::uint8_t kCorruptedBit = 0x10;
    void SetWriteProtected(bool on) { writeProtected_ = on; }
    // An address byte the memory never acknowledges (a broken line, or no memory at all).
    void Refuse(std::uint8_t addressByte) { refused_.insert(addressByte); }
    void SetCorruptedOffsets(std::set<std::uint8_t> offsets) { corrupted_ = std::move(offsets); }
    // The 128-byte variant; switched on, it holds the lower half of what it held.
    void SetHoldsOneBlock(bool on) {
        oneBlock_ = on;
        if (on) std::copy_n(memory_.begin(), 128, memory_.begin() + 128);
    }
    // A sound memory of the usual kind again; what it holds stays.
    void ClearFaults() {
        writeCycle_ = kDefaultWriteCycle;
        pageMask_ = kDefaultPageBytes - 1;
        writeProtected_ = oneBlock_ = false;
        corrupted_.clear();
        refused_.clear();
    }

  private:
    int Blocks() const { return 1 + static_cast<int>(upper_.size()) / 256; }
    std::uint8_t& At(int at) { return at < 256 ? memory_[at] : upper_[at - 256]; }
    std::uint8_t At(int at) const { return at < 256 ? memory_[at] : upper_[at - 256]; }
    // Byte `offset` of the 256 that the current address pair or segment reaches.
    std::uint8_t& Cell(int offset) { return At(block_ * 256 + offset); }
    std::uint8_t NextInPage() const {
        return static_cast<std::uint8_t>((pointer_ & ~pageMask_) | ((pointer_ + 1) & pageMask_));
    }

    std::array<std::uint8_t, 256> memory_{};
    std::vector<std::uint8_t> upper_;          // bytes 256 and on, of a larger memory
    const SegmentPointer* segment_ = nullptr;  // an E-DDC memory's
    int block_ = 0;                            // the address pair or segment in use
    std::uint8_t pageMask_ = kDefaultPageBytes - 1;
    std::uint8_t pointer_ = 0;
    bool expectingWordAddress_ = false;
    bool storedSinceStart_ = false;
    Clock::time_point busyUntil_{};
    Clock::duration writeCycle_ = kDefaultWriteCycle;
    bool writeProtected_ = false;
    bool oneBlock_ = false;
    std::set<std::uint8_t> corrupted_, refused_;
};

}  // namespace quillon::iow
