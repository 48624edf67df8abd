#include "iow/virtual/virtual_adapter.h"

#include <algorithm>

#include "iow/virtual/sample_edid_bytes.h"

namespace quillon::iow {

namespace {
constexpr std::uint8_t kReportEnable = 1;
constexpr std::uint8_t kReportWrite = 2;
constexpr std::uint8_t kReportRead = 3;
constexpr std::uint8_t kFlagStart = 0x80;
constexpr std::uint8_t kFlagStop = 0x40;
constexpr std::uint8_t kReplyError = 0x80;  // a byte was not acknowledged
constexpr int kMaxPayload = 6;              // data bytes in one 8-byte report
}  // namespace

const std::array<std::uint8_t, 256>& SampleEdid() {
    static const std::array<std::uint8_t, 256> sample = [] {
        static_assert(sizeof(kSampleEdidBytes) == 256, "the sample EDID is 256 bytes");
        std::array<std::uint8_t, 256> bytes{};
        for (int k = 0; k < 256; ++k) bytes[k] = kSampleEdidBytes[k];
        return bytes;
    }();
    return sample;
}

VirtualAdapter::VirtualAdapter() { Reset(); }

void VirtualAdapter::Reset() {
    ++plugs_;
    devices_.clear();
    auto eeprom = std::make_unique<Eeprom24C02>();
    eeprom->Memory() = SampleEdid();
    eeprom_ = eeprom.get();
    devices_.push_back(std::move(eeprom));
    current_ = nullptr;
    ClearFaults();
    instantTimeouts_ = false;
    latency_ = {};
    lastReadyAt_ = {};
    i2cEnabled_ = false;
    traffic_.clear();
    recording_ = true;
}

void VirtualAdapter::ClearFaults() {
    if (unplugged_ || !present_) PowerOn();
    present_ = true;
    unplugged_ = false;
    takingReports_ = true;
    unplugAfter_ = -1;
    exchanges_ = 0;
    dropReplies_ = 0;
    dropEvery_ = 0;
    refused_.clear();
    eeprom_->SetWriteCycle(Eeprom24C02::kDefaultWriteCycle);
    eeprom_->SetWriteProtected(false);
    eeprom_->SetCorruptedOffsets({});
    eeprom_->SetHoldsOneBlock(false);
    if (connectionWatcher_) connectionWatcher_();
}

void VirtualAdapter::RecordRead(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length) {
    if (!recording_) return;
    traffic_.push_back(
        {Traffic::Direction::Read, pipe, std::vector<std::uint8_t>(bytes, bytes + length)});
}

bool VirtualAdapter::Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                             Clock::time_point now, std::optional<Reply>& reply) {
    reply.reset();
    if (!Connected() || !takingReports_ || pipe > 1 || length != kReportBytes) {
        return false;
    }
    if (pipe == 1 && unplugAfter_ >= 0 && exchanges_ >= unplugAfter_) {
        unplugged_ = true;
        ++plugs_;
        return false;
    }
    if (recording_) {
        traffic_.push_back(
            {Traffic::Direction::Written, pipe, std::vector<std::uint8_t>(bytes, bytes + length)});
    }
    if (pipe == 0) {
        return true;  // IO port reports: taken, never answered
    }
    ++exchanges_;
    Report request{};
    std::copy(bytes, bytes + kReportBytes, request.begin());
    const std::optional<Report> answer = HandleI2cRequest(request, now);
    if (!answer) {
        return true;
    }
    if (dropReplies_ != 0) {
        if (dropReplies_ > 0) --dropReplies_;
        return true;
    }
    if (dropEvery_ > 0 && ++repliesSinceDropEvery_ % dropEvery_ == 0) return true;
    lastReadyAt_ = std::max(now + latency_, lastReadyAt_);
    reply = Reply{*answer, lastReadyAt_};
    return true;
}

I2cDevice* VirtualAdapter::Addressed(std::uint8_t addressByte, Clock::time_point now) {
    if (refused_.count(addressByte) != 0) {
        return nullptr;
    }
    for (auto& device : devices_) {
        if (device->Acknowledges(addressByte, now)) {
            return device.get();
        }
    }
    return nullptr;
}

void VirtualAdapter::StopTransaction(Clock::time_point now) {
    if (current_ != nullptr) {
        current_->Stop(now);
        current_ = nullptr;
    }
}

std::optional<VirtualAdapter::Report> VirtualAdapter::HandleI2cRequest(const Report& request,
                                                                       Clock::time_point now) {
    const std::uint8_t id = request[0];
    if (id == kReportEnable) {
        i2cEnabled_ = request[1] != 0;
        StopTransaction(now);
        return std::nullopt;  // the enable report is never answered
    }
    if (!i2cEnabled_) {
        return std::nullopt;  // the I2C function is off: nothing answers
    }
    Report reply{};
    reply[0] = id;
    if (id == kReportWrite) {
        const std::uint8_t flags = request[1];
        const int count = std::min<int>(flags & 0x07, kMaxPayload);
        int acknowledged = 0;
        bool error = false;
        for (int k = 0; k < count && !error; ++k) {
            const std::uint8_t byte = request[2 + k];
            if (k == 0 && (flags & kFlagStart) != 0) {
                StopTransaction(now);  // a new start ends a transaction left open
                current_ = Addressed(byte, now);
                if (current_ == nullptr) {
                    error = true;
                    break;
                }
                current_->Start((byte & 1) != 0);
            } else if (current_ == nullptr || !current_->Write(byte)) {
                error = true;
                break;
            }
            ++acknowledged;
        }
        if (error || (flags & kFlagStop) != 0) {
            StopTransaction(now);
        }
        reply[1] = static_cast<std::uint8_t>((error ? kReplyError : 0) | acknowledged);
        return reply;
    }
    if (id == kReportRead) {
        const int count = std::min<int>(request[1], kMaxPayload);
        // A read request follows a set-address write without a stop: the repeated start must
        // not start the memory's write cycle, so the open transaction ends without a stop.
        current_ = nullptr;
        I2cDevice* device = Addressed(request[2], now);
        if (device == nullptr || count == 0) {
            reply[1] = kReplyError;
            return reply;
        }
        device->Start(true);
        for (int k = 0; k < count; ++k) {
            reply[2 + k] = device->Read();
        }
        device->Stop(now);
        reply[1] = static_cast<std::uint8_t>(count);
        return reply;
    }
    return std::nullopt;  // unknown report id: the function ignores it
}

}  // namespace quillon::iow
