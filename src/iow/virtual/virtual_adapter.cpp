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
constexpr std::uint8_t kReplyError = 0x80;      // a byte was not acknowledged
constexpr std::uint8_t kFlagPullUpsOff = 0x80;  // of the enable report
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

void VirtualAdapter::Reset(Kind kind) {
    ++plugs_;
    kind_ = kind;
    paced_ = false;
    devices_.clear();
    auto eeprom = std::make_unique<Eeprom24C02>();
    eeprom->Memory() = SampleEdid();
    eeprom_ = eeprom.get();
    devices_.push_back(std::move(eeprom));
    latency_ = {};
    lastReadyAt_ = {};
    pullUps_ = true;
    PowerCycle();
    present_ = true;
    if (connectionWatcher_) connectionWatcher_();
}

void VirtualAdapter::UseLargerMemory(int bytes, Segments segments) {
    const SegmentPointer* pointer = nullptr;
    if (segments != Segments::None) {
        auto segment = std::make_unique<SegmentPointer>(segments == Segments::Kept);
        pointer = segment.get();
        devices_.push_back(std::move(segment));
    }
    eeprom_->SetSize(bytes, pointer);
    eeprom_->SetPageBytes(16);  // AT24C04 to AT24C16, CAT24C208
}

bool VirtualAdapter::Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                             Clock::time_point now, std::vector<Reply>& replies) {
    replies.clear();
    if (!present_ || pipe > 1 || length != static_cast<std::size_t>(ReportBytes(pipe))) {
        return false;
    }
    if (pipe == 0) {
        return true;  // IO port reports: taken, never answered
    }
    for (const Report& answer : HandleI2cRequest(Report(bytes, bytes + length), now))
        replies.push_back(Reply{answer, ReadyAt(now)});
    return true;
}

// Replies leave in the order of their requests, each after the latency; paced, at most one per
// interval, on the interval's tick.
Clock::time_point VirtualAdapter::ReadyAt(Clock::time_point now) {
    Clock::time_point ready = std::max(now + latency_, lastReadyAt_);
    if (paced_) {
        const Clock::duration interval =
            kind_ == Kind::Iow56 ? Clock::duration(kIow56Interval) : kIow24Interval;
        if (lastReadyAt_ != Clock::time_point{}) ready = std::max(ready, lastReadyAt_ + interval);
        const auto ticks = (ready.time_since_epoch() + interval - Clock::duration(1)) / interval;
        ready = Clock::time_point(ticks * interval);
    }
    return lastReadyAt_ = ready;
}

I2cDevice* VirtualAdapter::Addressed(std::uint8_t addressByte, Clock::time_point now) {
    for (auto& device : devices_) {
        if (device->Acknowledges(addressByte, now)) {
            return device.get();
        }
    }
    return nullptr;
}

void VirtualAdapter::StopTransaction(Clock::time_point now) {
    if (current_ != nullptr) current_->Stop(now);
    current_ = nullptr;
    for (auto& device : devices_) device->BusStop();
}

// The I2C function as docs/iowarrior-i2c.md lays it out.
std::vector<VirtualAdapter::Report> VirtualAdapter::HandleI2cRequest(const Report& request,
                                                                     Clock::time_point now) {
    const std::uint8_t id = request[0];
    const bool iow56 = kind_ == Kind::Iow56;
    if (id == kReportEnable) {
        const bool enable = request[1] != 0, pullUpsOff = (request[2] & kFlagPullUpsOff) != 0;
        // The pull-ups change as the function goes on; while it is on the IOW56 can switch
        // them off, never on, and the IOW24 leaves them be. Off, the pins are pulled high.
        if (!enable || !i2cEnabled_ || (iow56 && pullUpsOff)) pullUps_ = !enable || !pullUpsOff;
        i2cEnabled_ = enable;
        StopTransaction(now);
        return {};  // the enable report is never answered
    }
    if (!i2cEnabled_ || (id != kReportWrite && id != kReportRead)) {
        return {};  // the I2C function is off, or the report is not its own: nothing answers
    }
    const int payload = ReportBytes(1) - 2;  // data bytes in one report
    const int countMask = iow56 ? 0x3F : 0x07;
    Report reply(request.size(), 0);
    reply[0] = id;
    if (busHeld_) {
        // A memory drives SDA low since the last probe: no start, no stop. The IOW56 waits for
        // the stop and never answers; the IOW24's transaction fails. Either way the clocks
        // sent free the memory.
        busHeld_ = false;
        if (iow56) return {};
        reply[1] = kReplyError;
        return {reply};
    }
    if (id == kReportWrite) {
        const std::uint8_t flags = request[1];
        const int count = flags & countMask;
        if (count == 0 || count > payload) return {};  // ignored by the chip
        int acknowledged = 0;
        bool error = false;
        for (int k = 0; k < count && !error; ++k) {
            const std::uint8_t byte = request[2 + k];
            if (k == 0 && (flags & kFlagStart) != 0) {
                if (current_ != nullptr) current_->Stop(now);  // a repeated start ends it
                current_ = Addressed(byte, now);
                if (current_ == nullptr) {
                    error = true;
                    break;
                }
                const bool reading = (byte & 1) != 0;
                current_->Start(byte);
                if (reading && current_->DrivesLow()) {
                    // Its first bit is 0: SDA stays low, the stop cannot happen.
                    busHeld_ = true;
                    current_ = nullptr;
                    reply[1] = 1;
                    return {reply};
                }
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
        return {reply};
    }
    // A read request: 1..255 bytes; the IOW24 ignores a count of 0, for which the IOW56 reads
    // 256. The IOW56 sets the address byte's read bit itself.
    if (request[1] == 0 && !iow56) return {};
    const int count = request[1] == 0 ? 256 : request[1];
    // A read request follows a set-address write without a stop: the repeated start must not
    // start the memory's write cycle, so the open transaction ends without a stop.
    current_ = nullptr;
    const std::uint8_t addressByte = iow56 ? request[2] | 1 : request[2];
    I2cDevice* device = Addressed(addressByte, now);
    if (device == nullptr) {
        StopTransaction(now);  // not acknowledged
        reply[1] = kReplyError;
        return {reply};
    }
    device->Start(addressByte);
    std::vector<Report> chunks;
    for (int done = 0; done < count;) {
        const int n = std::min(payload, count - done);
        Report chunk(request.size(), 0);
        chunk[0] = id;
        chunk[1] = static_cast<std::uint8_t>(n);
        for (int k = 0; k < n; ++k) chunk[2 + k] = device->Read();
        chunks.push_back(chunk);
        done += n;
    }
    current_ = device;
    StopTransaction(now);
    return chunks;
}

}  // namespace quillon::iow
