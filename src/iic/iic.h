#pragma once

// The link operations over the adapter's I2C function. The window's four build each request in
// one 8-byte buffer, write it on pipe 1 and read one reply into the same buffer (none after the
// enable report). The block operations use the adapter's full report size: a page written in as
// few reports as it allows, a read in chunks of one reply each.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "iic/i2c_report.h"
#include "iow/iowkit.h"

namespace quillon {

// How long a write or a set-address request is repeated while the memory does not
// acknowledge its address (it is busy with its write cycle, 5 ms on a 24C02).
inline constexpr auto kAckPollLimit = std::chrono::milliseconds(20);
// Pause between two such repeats. A USB exchange takes about a millisecond anyway; the pause
// keeps an adapter that answers faster from flooding the bus.
inline constexpr auto kAckPollInterval = std::chrono::microseconds(250);

// Called once per operation, right after its first request was sent and before its reply is
// read, so that the caller can let the window repaint while the adapter works. Returning
// false abandons the operation: no reply is read and nothing more is sent.
using WhileWaiting = std::function<bool()>;

// Switches the I2C function on (flag 1) or off (flag 0). Returns what IowKitWrite returned.
std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag);

// Every operation tells apart a bus that said no (a reply with the error flag) from an
// adapter that did not answer at all (the request was not taken, or no reply came in time).
struct IicByte {
    bool ok = false;         // a reply carrying the byte was read
    std::uint8_t value = 0;  // 0 when !ok
    bool abandoned = false;  // WhileWaiting said stop
    bool noAnswer = false;
};

struct IicWriteResult {
    bool ok = false;  // the memory acknowledged every byte
    bool abandoned = false;
    bool noAnswer = false;
    explicit operator bool() const { return ok; }
};

struct IicProbeResult {
    bool present = false;  // a reply came and the address byte was acknowledged
    bool noAnswer = false;
    explicit operator bool() const { return present; }
};

// Reads the memory byte at `offset`: set-address request, then a read request.
IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting = nullptr);

// Writes `value` at `offset`.
IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting = nullptr);

// Whether a device acknowledges `addressByte` (0..255, either direction).
IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte);

// --- Block operations: the command line's, at the adapter's report size `reportBytes` ---

// Sets the memory's address pointer to `offset`, polling its acknowledge over a write cycle.
// The window's single-byte read starts with it too, with its WhileWaiting.
IicWriteResult IicSetAddress(IowKitHandle handle, std::uint8_t offset,
                             const WhileWaiting& whileWaiting = nullptr);

// Reads `count` bytes (1..ReportPayloadBytes) from the memory's address pointer with one read
// request, whose one reply carries them. A reply is never shared between requests: the
// adapter's replies carry no sequence number, so a lost chunk of a longer request could not be
// told from the next one.
struct IicChunk {
    std::vector<std::uint8_t> bytes;  // `count` bytes, or empty
    bool noAnswer = false;
};
IicChunk IicReadChunk(IowKitHandle handle, int count, int reportBytes);

// Writes `data` (one page of the memory, up to 16 bytes) at `offset` in one transaction; while
// the memory does not acknowledge its address (busy with a write cycle) the first report is
// sent again, within kAckPollLimit. ok when every report's bytes were acknowledged.
IicWriteResult IicWritePage(IowKitHandle handle, std::uint8_t offset,
                            std::span<const std::uint8_t> data, int reportBytes);

// Whether the adapter still answers during one command. Each unanswered exchange costs a read
// time-out and a quiet wait (or the driver's one-second write time-out), so after a few in a
// row the command stops talking to the adapter: the bytes not done are faults, and an adapter
// that died ends the command in seconds rather than minutes.
class AdapterAnswers {
  public:
    static constexpr int kUnansweredExchangesBeforeGivingUp = 5;

    // Switches the I2C function on: an adapter plugged in again since start-up has it off.
    // The enable report gets no reply; when it cannot be written the adapter is not answering.
    explicit AdapterAnswers(IowKitHandle handle);
    bool Answering() const { return unanswered_ < kUnansweredExchangesBeforeGivingUp; }
    void Note(bool noAnswer) { unanswered_ = noAnswer ? unanswered_ + 1 : 0; }

  private:
    int unanswered_;
};

}  // namespace quillon
