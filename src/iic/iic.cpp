#include "iic/iic.h"

#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

// Writes `request` into `buffer` and sends it, then reads one reply into the same buffer.
// Returns what the read returned (0: no reply); a failed write reads nothing.
std::uint32_t Exchange(IowKitHandle handle, I2cReport& buffer, const I2cReport& request) {
    buffer = request;
    if (IowKitWrite(handle, kIowPipeI2c, buffer.data(), buffer.size()) != buffer.size()) {
        return 0;
    }
    return IowKitRead(handle, kIowPipeI2c, buffer.data(), buffer.size());
}

// Sends a write request of `byteCount` bytes until the memory acknowledges its address,
// for at most kAckPollLimit (acknowledge polling over the memory's write cycle).
bool WriteWithAckPolling(IowKitHandle handle, I2cReport& buffer, const I2cReport& request,
                         int byteCount) {
    const auto giveUp = Clock::now() + kAckPollLimit;
    for (;;) {
        // Judged by when the attempt started, so that one slow exchange does not end polling
        // before the memory had its chance to answer.
        const bool lastAttempt = Clock::now() >= giveUp;
        const std::uint32_t got = Exchange(handle, buffer, request);
        switch (WriteReplyVerdict(buffer, got, byteCount)) {
            case ReplyVerdict::Done:
                return true;
            case ReplyVerdict::Failed:
                return false;
            case ReplyVerdict::AddressRefused:
                if (lastAttempt) return false;
                std::this_thread::sleep_for(kAckPollInterval);
                break;
        }
    }
}

}  // namespace

std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag) {
    I2cReport buffer = EnableReport(flag);
    return IowKitWrite(handle, kIowPipeI2c, buffer.data(), buffer.size());
}

IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset) {
    I2cReport buffer{};
    if (!WriteWithAckPolling(handle, buffer, SetAddressReport(offset), 2)) {
        return {};
    }
    const std::uint32_t got = Exchange(handle, buffer, ReadRequestReport());
    if (!ReadReplyCarriesData(buffer, got)) {
        return {};
    }
    return {true, buffer[2]};
}

bool IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value) {
    I2cReport buffer{};
    return WriteWithAckPolling(handle, buffer, ByteWriteReport(offset, value), 3);
}

bool IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte) {
    I2cReport buffer{};
    const std::uint32_t got = Exchange(handle, buffer, ProbeReport(addressByte));
    return got > 0 && (buffer[1] & 0x01) != 0;
}

}  // namespace quillon
