#include "iic/iow_i2c_bus.h"

#include <algorithm>
#include <utility>

#include "iic/i2c_report.h"
#include "iow/report_size.h"

namespace quillon {

namespace {

// Writes `request` into `buffer` (of the same size) and sends it, runs `whileWaiting` (if any;
// also when the write failed, so that the caller's wait happens all the same), then reads one
// reply into the same buffer. Returns what the read returned (0: no reply); a failed write
// reads nothing.
std::uint32_t Exchange(IowKitHandle handle, std::span<std::uint8_t> buffer,
                       std::span<const std::uint8_t> request, const WhileWaiting* whileWaiting,
                       bool& abandoned) {
    std::copy(request.begin(), request.end(), buffer.begin());
    const auto size = static_cast<std::uint32_t>(buffer.size());
    const bool sent = IowKitWrite(handle, kIowPipeI2c, buffer.data(), size) == size;
    if (whileWaiting != nullptr && *whileWaiting && !(*whileWaiting)()) {
        abandoned = true;
        return 0;
    }
    return sent ? IowKitRead(handle, kIowPipeI2c, buffer.data(), size) : 0;
}

}  // namespace

IowI2cBus IowI2cBus::AtNodeReportSize(IowKitHandle handle) {
    const std::uint32_t bytes = iow::ReportBytes(handle, kIowPipeI2c);
    return {handle, bytes >= 8 && bytes <= 64 ? static_cast<int>(bytes) : kWindowReportBytes};
}

bool IowI2cBus::Begin() {
    const auto send = [this](I2cReport report) {
        return IowKitWrite(handle_, kIowPipeI2c, report.data(), report.size()) == report.size();
    };
    if (pullUps_ && !send(EnableReport(0))) return false;
    return send(EnableReport(1, pullUps_ && !*pullUps_ ? kEnablePullUpsOffFlag : 0));
}

int IowI2cBus::MaxReadBytes() const { return ReportPayloadBytes(reportBytes_); }

I2cTransferResult IowI2cBus::Transfer(std::span<const I2cMessage> messages,
                                      const WhileWaiting& whileWaiting) {
    I2cTransferResult result;
    result.messages.resize(messages.size());
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(reportBytes_));
    const WhileWaiting* firstWait = &whileWaiting;  // taken by the first report only
    for (std::size_t m = 0; m < messages.size(); ++m) {
        const I2cMessage& message = messages[m];
        I2cMessageResult& done = result.messages[m];
        bool abandoned = false;
        if (message.read && message.length > 0) {
            const std::uint32_t got =
                Exchange(handle_, buffer,
                         ReadRequestReport(message.AddressByte(), message.length, reportBytes_),
                         std::exchange(firstWait, nullptr), abandoned);
            done.status = ReplyStatus(buffer, got, kReportI2cRead, message.length, reportBytes_);
            if (done.status == I2cStatus::Done) {
                done.bytesDone = message.length;
                done.read.assign(buffer.begin() + 2, buffer.begin() + 2 + message.length);
            }
        } else {
            const bool stop = m + 1 == messages.size();
            const auto reports =
                WriteReports(message.AddressByte(), message.data, stop, reportBytes_);
            done.status = I2cStatus::Done;
            for (std::size_t k = 0; k < reports.size() && done.status == I2cStatus::Done; ++k) {
                const int bytes = reports[k][1] & CountMask(reportBytes_);
                const std::uint32_t got = Exchange(handle_, buffer, reports[k],
                                                   std::exchange(firstWait, nullptr), abandoned);
                done.status = ReplyStatus(buffer, got, kReportI2cWrite, bytes, reportBytes_);
                // The address byte is no data byte; a refused start of a later report is a
                // refused byte of this message.
                if (done.status == I2cStatus::Done) done.bytesDone += bytes - (k == 0 ? 1 : 0);
                if (done.status == I2cStatus::AddressRefused && k > 0)
                    done.status = I2cStatus::ByteRefused;
                if (abandoned) break;
            }
        }
        if (abandoned) done.status = I2cStatus::Abandoned;
        if (done.status != I2cStatus::Done) break;
    }
    return result;
}

}  // namespace quillon
