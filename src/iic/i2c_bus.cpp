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

std::vector<I2cMessage> EepromRead(std::uint8_t offset, int count) {
    return {I2cMessage::Write(kEepromAddress, {offset}), I2cMessage::Read(kEepromAddress, count)};
}

std::vector<I2cMessage> EepromWrite(std::uint8_t offset, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> bytes{offset};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return {I2cMessage::Write(kEepromAddress, std::move(bytes))};
}

std::vector<I2cMessage> AddressProbe(std::uint8_t addressByte) {
    I2cMessage probe = I2cMessage::Read(static_cast<std::uint8_t>(addressByte >> 1), 0);
    probe.read = (addressByte & 1) != 0;
    return {probe};
}

I2cTransferResult TransferPolling(I2cBus& bus, std::span<const I2cMessage> messages,
                                  const WhileWaiting& whileWaiting) {
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + kAckPollLimit;
    const bool polls = !messages.empty() && !messages.front().read;
    for (int attempt = 1;; ++attempt) {
        // Judged by when the attempt started, so that one slow exchange does not end polling
        // before the memory had its chance to answer.
        const bool last = !polls || (attempt >= kAckPollAttempts && Clock::now() >= giveUp);
        I2cTransferResult result = bus.Transfer(messages, attempt == 1 ? whileWaiting : nullptr);
        if (last || result.messages.front().status != I2cStatus::AddressRefused) return result;
        std::this_thread::sleep_for(kAckPollInterval);
    }
}

}  // namespace quillon
