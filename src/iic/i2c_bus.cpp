#include "iic/i2c_bus.h"

#include <algorithm>
#include <thread>

namespace quillon {

bool I2cTransferResult::Done() const {
    return !messages.empty() && std::ranges::all_of(messages, [](const I2cMessageResult& m) {
        return m.status == I2cStatus::Done;
    });
}

bool I2cTransferResult::Any(I2cStatus status) const {
    return std::ranges::any_of(messages,
                               [status](const I2cMessageResult& m) { return m.status == status; });
}

std::uint8_t MemoryAddressOf(Addressing addressing, int offset) {
    const int block = addressing == Addressing::BlockSelect ? offset / kBytesPerAddress : 0;
    return static_cast<std::uint8_t>(kEepromAddress | block);
}

namespace {
// The messages that set the memory's address to `offset`, `data` written after the word
// address; the segment first where the memory has segments.
std::vector<I2cMessage> Addressed(Addressing addressing, int offset,
                                  std::span<const std::uint8_t> data) {
    std::vector<I2cMessage> messages;
    if (addressing == Addressing::Segment)
        messages.push_back(I2cMessage::Write(
            kSegmentPointerAddress, {static_cast<std::uint8_t>(offset / kBytesPerAddress)}));
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(offset % kBytesPerAddress)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    messages.push_back(I2cMessage::Write(MemoryAddressOf(addressing, offset), std::move(bytes)));
    return messages;
}
}  // namespace

std::vector<I2cMessage> MemoryRead(Addressing addressing, int offset, int count) {
    std::vector<I2cMessage> messages = Addressed(addressing, offset, {});
    messages.push_back(I2cMessage::Read(MemoryAddressOf(addressing, offset), count));
    return messages;
}

std::vector<I2cMessage> MemoryWrite(Addressing addressing, int offset,
                                    std::span<const std::uint8_t> data) {
    return Addressed(addressing, offset, data);
}

std::vector<I2cMessage> AddressProbe(std::uint8_t addressByte) {
    I2cMessage probe = I2cMessage::Read(static_cast<std::uint8_t>(addressByte >> 1), 0);
    probe.read = (addressByte & 1) != 0;
    return {probe};
}

I2cTransferResult TransferPolling(I2cBus& bus, std::span<const I2cMessage> messages,
                                  const WhileWaiting& whileWaiting, bool poll) {
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + kAckPollLimit;
    const bool polls = poll && !messages.empty() && !messages.front().read;
    for (int attempt = 1;; ++attempt) {
        // Judged by when the attempt started, so that one slow exchange does not end polling
        // before the memory had its chance to answer.
        const bool last = !polls || (attempt >= kAckPollAttempts && Clock::now() >= giveUp);
        I2cTransferResult result = bus.Transfer(messages, attempt == 1 ? whileWaiting : nullptr);
        const auto failed = std::ranges::find_if(
            result.messages, [](const I2cMessageResult& m) { return m.status != I2cStatus::Done; });
        if (last || failed == result.messages.end() ||
            failed->status != I2cStatus::AddressRefused ||
            messages[failed - result.messages.begin()].read)
            return result;
        std::this_thread::sleep_for(kAckPollInterval);
    }
}

}  // namespace quillon
