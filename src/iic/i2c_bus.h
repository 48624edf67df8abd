#pragma once

// A transaction on an I2C bus as the kernel's i2c_msg has it: messages to a 7-bit address, each a
// write of N bytes or a read of N bytes, a repeated start before every message but the first and
// a stop at the end; and what the bus reports for each message. A bus (an adapter) implements
// it; the memory engine and the link operations speak nothing else.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quillon {

// The EDID memory's 7-bit address (address bytes 0xA0 to write, 0xA1 to read).
inline constexpr std::uint8_t kEepromAddress = 0x50;
// The bytes that one address pair, or one segment, reaches.
inline constexpr int kBytesPerAddress = 256;

// Runs once per transaction, right after its first request went out and before its answer is
// read, so that the caller can let the window repaint while the adapter works. Returning false
// abandons the transaction: no answer is read and nothing more is sent.
using WhileWaiting = std::function<bool()>;

struct I2cMessage {
    std::uint8_t address = 0;        // 7-bit
    bool read = false;               // a read of `length` bytes; else a write of `data`
    std::vector<std::uint8_t> data;  // what a write sends after the address
    int length = 0;                  // what a read asks for; 0 probes the read address

    std::uint8_t AddressByte() const { return static_cast<std::uint8_t>(address << 1 | read); }
    static I2cMessage Write(std::uint8_t address, std::vector<std::uint8_t> data) {
        return {.address = address, .data = std::move(data)};
    }
    static I2cMessage Read(std::uint8_t address, int length) {
        return {.address = address, .read = true, .data = {}, .length = length};
    }
};

enum class I2cStatus {
    Done,             // every byte went through (a read: every byte asked for came)
    AddressRefused,   // nothing acknowledged the address: the device is busy or absent
    ByteRefused,      // a byte after the address was not acknowledged, or a read came short
    NoAnswer,         // the adapter did not answer: the request was not taken or no reply came
    ArbitrationLost,  // another master took the bus; the transaction must be run again
    Abandoned,        // WhileWaiting said stop
    NotSent,          // an earlier message of the transaction failed
};

struct I2cMessageResult {
    I2cStatus status = I2cStatus::NotSent;
    int bytesDone = 0;               // bytes written (the address not counted) or read
    std::vector<std::uint8_t> read;  // a read's bytes, when Done
};

struct I2cTransferResult {
    std::vector<I2cMessageResult> messages;  // one per message, in order

    bool Done() const;
    bool NoAnswer() const { return Any(I2cStatus::NoAnswer); }
    bool ArbitrationLost() const { return Any(I2cStatus::ArbitrationLost); }
    bool Abandoned() const { return Any(I2cStatus::Abandoned); }
    // The bytes of the last message (a read), when the whole transaction went through.
    const std::vector<std::uint8_t>& ReadBytes() const { return messages.back().read; }

  private:
    bool Any(I2cStatus status) const;
};

class I2cBus {
  public:
    virtual ~I2cBus() = default;

    // Gets the bus ready for a command (an adapter plugged in again may have its I2C function
    // off). False when the adapter does not answer.
    virtual bool Begin() = 0;

    // Runs `messages` as one transaction. `whileWaiting`, if any, runs exactly once, after the
    // first request went out (whether or not the adapter took it). The transaction stops at
    // the first message that fails; the messages after it are NotSent.
    virtual I2cTransferResult Transfer(std::span<const I2cMessage> messages,
                                       const WhileWaiting& whileWaiting = nullptr) = 0;

    // The most bytes that one read message may ask for.
    virtual int MaxReadBytes() const = 0;

    // The most data bytes that one write may carry after the memory's word address.
    virtual int MaxWriteBytes() const { return kBytesPerAddress; }

    // Whether a read alone (no word address written first) can go on from where the memory's
    // pointer stands; SMBus has no call that reads a block that way.
    virtual bool ReadsOnFromPointer() const { return true; }
};

// How long a transaction whose first message writes is repeated while the device does not
// acknowledge its address (a memory busy with its write cycle: 5 ms on a 24C02, 10 ms on a
// 24LC21A), and the fewest attempts, whichever lasts longer: an IO-Warrior 24 manages one
// exchange per 8 ms.
inline constexpr auto kAckPollLimit = std::chrono::milliseconds(50);
inline constexpr int kAckPollAttempts = 3;
// Pause between two such repeats. A USB exchange takes about a millisecond anyway; the pause
// keeps an adapter that answers faster from flooding the bus.
inline constexpr auto kAckPollInterval = std::chrono::microseconds(250);

// Runs the transaction, repeating it for kAckPollLimit and kAckPollAttempts while the first
// message that fails is a write whose address is refused (acknowledge polling over a memory's
// write cycle); once only when not `poll`. `whileWaiting` runs during the first attempt only.
I2cTransferResult TransferPolling(I2cBus& bus, std::span<const I2cMessage> messages,
                                  const WhileWaiting& whileWaiting = nullptr, bool poll = true);

// How a memory's bytes past the first 256 are reached.
enum class Addressing {
    OneAddress,   // one address pair, 0xA0/0xA1, 256 bytes at most (24C01, 24C02, 24LC21A)
    BlockSelect,  // each 256 bytes at a pair of their own: 0xA0, 0xA2 ... 0xAE (24C04 to 24C16)
    Segment,      // VESA E-DDC: the segment written to 0x60, then with no stop between the
                  // memory at 0xA0 as usual; the segment pointer falls back to 0 at each stop
};
// The E-DDC segment pointer's 7-bit address (address byte 0x60).
inline constexpr std::uint8_t kSegmentPointerAddress = 0x30;

// The 7-bit address of the memory's byte `offset`.
std::uint8_t MemoryAddressOf(Addressing addressing, int offset);

// The memory's messages: a random read of `count` bytes from `offset`, a write of `data` at
// `offset` (neither past a 256-byte boundary), and a probe of an address byte (a message
// without data to its 7-bit address, in the direction of its low bit).
std::vector<I2cMessage> MemoryRead(Addressing addressing, int offset, int count);
std::vector<I2cMessage> MemoryWrite(Addressing addressing, int offset,
                                    std::span<const std::uint8_t> data);
std::vector<I2cMessage> AddressProbe(std::uint8_t addressByte);

}  // namespace quillon
