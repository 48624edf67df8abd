#include "iic/iic.h"

#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

enum class Outcome { Done, Failed, NoAnswer, Abandoned };

// Writes `request` into `buffer` and sends it, runs `whileWaiting` (if any; also when the
// write failed, so that the caller's wait happens all the same), then reads one reply into
// the same buffer. Returns what the read returned (0: no reply); a failed write reads nothing.
std::uint32_t Exchange(IowKitHandle handle, I2cReport& buffer, const I2cReport& request,
                       const WhileWaiting* whileWaiting = nullptr, bool* abandoned = nullptr) {
    buffer = request;
    const bool sent =
        IowKitWrite(handle, kIowPipeI2c, buffer.data(), buffer.size()) == buffer.size();
    if (whileWaiting != nullptr && *whileWaiting && !(*whileWaiting)()) {
        *abandoned = true;
        return 0;
    }
    return sent ? IowKitRead(handle, kIowPipeI2c, buffer.data(), buffer.size()) : 0;
}

// Sends a write request of `byteCount` bytes until the memory acknowledges its address,
// for at most kAckPollLimit (acknowledge polling over the memory's write cycle).
// `whileWaiting` runs during the first attempt only.
Outcome WriteWithAckPolling(IowKitHandle handle, I2cReport& buffer, const I2cReport& request,
                            int byteCount, const WhileWaiting& whileWaiting) {
    const auto giveUp = Clock::now() + kAckPollLimit;
    bool firstAttempt = true;
    for (;;) {
        // Judged by when the attempt started, so that one slow exchange does not end polling
        // before the memory had its chance to answer.
        const bool lastAttempt = Clock::now() >= giveUp;
        bool abandoned = false;
        const std::uint32_t got =
            Exchange(handle, buffer, request, firstAttempt ? &whileWaiting : nullptr, &abandoned);
        firstAttempt = false;
        if (abandoned) return Outcome::Abandoned;
        switch (WriteReplyVerdict(buffer, got, byteCount)) {
            case ReplyVerdict::Done:
                return Outcome::Done;
            case ReplyVerdict::Failed:
                return got == 0 ? Outcome::NoAnswer : Outcome::Failed;
            case ReplyVerdict::AddressRefused:
                if (lastAttempt) return Outcome::Failed;
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

IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting) {
    I2cReport buffer{};
    switch (WriteWithAckPolling(handle, buffer, SetAddressReport(offset), 2, whileWaiting)) {
        case Outcome::Done:
            break;
        case Outcome::Failed:
            return {};
        case Outcome::NoAnswer:
            return {.noAnswer = true};
        case Outcome::Abandoned:
            return {.abandoned = true};
    }
    const std::uint32_t got = Exchange(handle, buffer, ReadRequestReport());
    if (!ReadReplyCarriesData(buffer, got)) {
        return {.noAnswer = got == 0};
    }
    return {.ok = true, .value = buffer[2]};
}

IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting) {
    I2cReport buffer{};
    const Outcome outcome =
        WriteWithAckPolling(handle, buffer, ByteWriteReport(offset, value), 3, whileWaiting);
    return {outcome == Outcome::Done, outcome == Outcome::Abandoned, outcome == Outcome::NoAnswer};
}

IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte) {
    I2cReport buffer{};
    const std::uint32_t got = Exchange(handle, buffer, ProbeReport(addressByte));
    return {got > 0 && (buffer[1] & 0x01) != 0, got == 0};
}

}  // namespace quillon
