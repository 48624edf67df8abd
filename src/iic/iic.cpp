#include "iic/iic.h"

#include <algorithm>
#include <thread>
#include <tuple>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

enum class Outcome { Done, Failed, NoAnswer, Abandoned };

// Writes `request` into `buffer` (of the same size) and sends it, runs `whileWaiting` (if any;
// also when the write failed, so that the caller's wait happens all the same), then reads one
// reply into the same buffer. Returns what the read returned (0: no reply); a failed write
// reads nothing.
std::uint32_t Exchange(IowKitHandle handle, std::span<std::uint8_t> buffer,
                       std::span<const std::uint8_t> request,
                       const WhileWaiting* whileWaiting = nullptr, bool* abandoned = nullptr) {
    std::copy(request.begin(), request.end(), buffer.begin());
    const auto size = static_cast<std::uint32_t>(buffer.size());
    const bool sent = IowKitWrite(handle, kIowPipeI2c, buffer.data(), size) == size;
    if (whileWaiting != nullptr && *whileWaiting && !(*whileWaiting)()) {
        *abandoned = true;
        return 0;
    }
    return sent ? IowKitRead(handle, kIowPipeI2c, buffer.data(), size) : 0;
}

// Sends a write request of `byteCount` bytes until the memory acknowledges its address,
// for at most kAckPollLimit (acknowledge polling over the memory's write cycle).
// `whileWaiting` runs during the first attempt only.
Outcome WriteWithAckPolling(IowKitHandle handle, std::span<std::uint8_t> buffer,
                            std::span<const std::uint8_t> request, int byteCount,
                            const WhileWaiting& whileWaiting = nullptr) {
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

IicWriteResult ResultOf(Outcome outcome) {
    return {outcome == Outcome::Done, outcome == Outcome::Abandoned, outcome == Outcome::NoAnswer};
}

}  // namespace

std::vector<std::vector<std::uint8_t>> PageWriteReports(std::uint8_t offset,
                                                        std::span<const std::uint8_t> data,
                                                        int reportBytes) {
    std::vector<std::uint8_t> bytes{kEepromWriteAddress, offset};
    bytes.insert(bytes.end(), data.begin(), data.end());
    const int payload = ReportPayloadBytes(reportBytes);
    std::vector<std::vector<std::uint8_t>> reports;
    for (std::size_t done = 0; done < bytes.size();) {
        const auto n =
            std::min<std::size_t>(static_cast<std::size_t>(payload), bytes.size() - done);
        std::vector<std::uint8_t> report(static_cast<std::size_t>(reportBytes), 0);
        report[0] = kReportI2cWrite;
        report[1] = static_cast<std::uint8_t>(n | (done == 0 ? kWriteStartFlag : 0) |
                                              (done + n == bytes.size() ? kWriteStopFlag : 0));
        std::copy_n(bytes.begin() + static_cast<long>(done), n, report.begin() + 2);
        reports.push_back(std::move(report));
        done += n;
    }
    return reports;
}

std::vector<std::uint8_t> ChunkReadReport(int count, int reportBytes) {
    std::vector<std::uint8_t> report(static_cast<std::size_t>(reportBytes), 0);
    report[0] = kReportI2cRead;
    report[1] = static_cast<std::uint8_t>(count);
    report[2] = kEepromReadAddress;
    return report;
}

AdapterAnswers::AdapterAnswers(IowKitHandle handle)
    : unanswered_(IicEnable(handle, 1) == std::tuple_size_v<I2cReport>
                      ? 0
                      : kUnansweredExchangesBeforeGivingUp) {}

std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag) {
    I2cReport buffer = EnableReport(flag);
    return IowKitWrite(handle, kIowPipeI2c, buffer.data(), buffer.size());
}

IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting) {
    const IicWriteResult addressed = IicSetAddress(handle, offset, whileWaiting);
    if (!addressed) return {.abandoned = addressed.abandoned, .noAnswer = addressed.noAnswer};
    I2cReport buffer{};
    const std::uint32_t got = Exchange(handle, buffer, ReadRequestReport());
    if (!ReadReplyCarriesData(buffer, got)) {
        return {.noAnswer = got == 0};
    }
    return {.ok = true, .value = buffer[2]};
}

IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting) {
    I2cReport buffer{};
    return ResultOf(
        WriteWithAckPolling(handle, buffer, ByteWriteReport(offset, value), 3, whileWaiting));
}

IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte) {
    I2cReport buffer{};
    const std::uint32_t got = Exchange(handle, buffer, ProbeReport(addressByte));
    return {got > 0 && (buffer[1] & 0x01) != 0, got == 0};
}

IicWriteResult IicSetAddress(IowKitHandle handle, std::uint8_t offset,
                             const WhileWaiting& whileWaiting) {
    I2cReport buffer{};  // the backend pads it to the report size, and cuts the reply to it
    return ResultOf(WriteWithAckPolling(handle, buffer, SetAddressReport(offset), 2, whileWaiting));
}

IicChunk IicReadChunk(IowKitHandle handle, int count, int reportBytes) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(reportBytes));
    const std::uint32_t got = Exchange(handle, buffer, ChunkReadReport(count, reportBytes));
    if (!ReadReplyCarriesData(buffer, got, count)) return {.bytes = {}, .noAnswer = got == 0};
    return {.bytes = std::vector<std::uint8_t>(buffer.begin() + 2, buffer.begin() + 2 + count)};
}

IicWriteResult IicWritePage(IowKitHandle handle, std::uint8_t offset,
                            std::span<const std::uint8_t> data, int reportBytes) {
    const auto reports = PageWriteReports(offset, data, reportBytes);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(reportBytes));
    for (std::size_t k = 0; k < reports.size(); ++k) {
        const int bytes = reports[k][1] & kReplyCountMask;
        // Only the first report starts a transaction that a busy memory can refuse; a later
        // report that fails has ended it (the adapter aborts on a byte not acknowledged).
        Outcome outcome = Outcome::Done;
        if (k == 0) {
            outcome = WriteWithAckPolling(handle, buffer, reports[k], bytes);
        } else {
            const std::uint32_t got = Exchange(handle, buffer, reports[k]);
            if (WriteReplyVerdict(buffer, got, bytes) != ReplyVerdict::Done)
                outcome = got == 0 ? Outcome::NoAnswer : Outcome::Failed;
        }
        if (outcome != Outcome::Done) return ResultOf(outcome);
    }
    return {.ok = true};
}

}  // namespace quillon
