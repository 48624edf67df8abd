#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "iow/virtual/i2c_bus.h"

namespace quillon::iow {

// An emulated IO-Warrior 24 or 56 seen from the USB side: reports arrive on its two pipes, and
// its I2C function (pipe 1) answers write and read requests from the devices on its bus as the
// data sheets lay them out: a write report carries a start and a stop flag and up to 6 (IOW24)
// or 62 (IOW56) bytes and is acknowledged by one report; a read report asks for up to 255 bytes
// (256 on the IOW56, count 0), which come back in chunks of 6 or 62, one report each. Holds the
// faults that tests switch on. Plain and single-threaded: the caller passes the time.
class VirtualAdapter {
  public:
    enum class Kind { Iow24, Iow56 };
    static constexpr std::uint32_t kProductIow24 = 0x1501;
    static constexpr std::uint32_t kProductIow56 = 0x1503;
    static constexpr std::uint32_t kRevision = 0x1021;
    static constexpr int kLargestReportBytes = 64;
    // An interrupt-in endpoint delivers at most one report per polling interval: the IOW24's
    // low-speed endpoint as Linux schedules it, the IOW56's full-speed one.
    static constexpr auto kIow24Interval = std::chrono::milliseconds(8);
    static constexpr auto kIow56Interval = std::chrono::milliseconds(1);

    struct Reply {
        std::vector<std::uint8_t> bytes;  // the pipe's report size
        Clock::time_point readyAt{};
    };

    struct Traffic {
        enum class Direction { Written, Read };
        Direction direction;
        std::uint32_t pipe;
        std::vector<std::uint8_t> bytes;
        friend bool operator==(const Traffic&, const Traffic&) = default;
    };

    VirtualAdapter();

    // Back to a freshly plugged adapter holding the sample EDID, with no faults; an IOW24
    // unless `kind` says otherwise, its replies unpaced.
    void Reset(Kind kind = Kind::Iow24);
    void SetKind(Kind kind) { kind_ = kind; }
    std::uint32_t ProductId() const { return kind_ == Kind::Iow56 ? kProductIow56 : kProductIow24; }
    // The report size of `pipe`: 8, and 64 on the IOW56's I2C pipe.
    int ReportBytes(std::uint32_t pipe) const { return kind_ == Kind::Iow56 && pipe == 1 ? 64 : 8; }
    // Replies leave at the kind's pace, at most one per polling interval, as a real USB host
    // collects them; unpaced they leave as soon as they are made (and any latency passed).
    void SetPaced(bool paced) { paced_ = paced; }

    // Takes every fault away, as if the adapter had never had one; the memory, the I2C
    // function's state and the traffic log stay.
    void ClearFaults();

    // --- What tests and the demo set ---
    void SetPresent(bool present) {
        if (present_ && !present) ++plugs_;
        if (!present_ && present) PowerOn();
        present_ = present;
        if (connectionWatcher_) connectionWatcher_();
    }
    // Runs after a test plugged the adapter in or out (SetPresent, ClearFaults, Reset), for a
    // host that has to present the change to a real USB stack.
    void SetConnectionWatcher(std::function<void()> watcher) {
        connectionWatcher_ = std::move(watcher);
    }
    // After `exchanges` more requests on the I2C pipe the adapter is unplugged. Plugged in
    // again (ClearFaults, Reset) it is in its power-on state: the I2C function is off.
    void UnplugAfterExchanges(int exchanges) {
        unplugAfter_ = exchanges;
        exchanges_ = 0;
    }
    // The next `count` replies are lost (-1: all of them) and reads time out.
    void DropReplies(int count) { dropReplies_ = count; }
    // The reply after the next `skipped` ones is lost (a chunk in the middle of a read).
    void DropReplyAfter(int skipped) { dropAfter_ = skipped; }
    // The read reply after the next `skipped` ones counts one byte fewer than it was asked for
    // (a chunk cut short), with no error flag.
    void ShortenReplyAfter(int skipped) { shortenAfter_ = skipped; }
    // After `exchanges` more requests on the I2C pipe the adapter takes no reports any more.
    void StopAfterExchanges(int exchanges) {
        stopAfter_ = exchanges;
        exchanges_ = 0;
    }
    // Runs `action` once, when the I2C pipe has taken `exchanges` more requests.
    void AfterExchanges(int exchanges, std::function<void()> action) {
        actionAfter_ = exchanges;
        action_ = std::move(action);
        exchanges_ = 0;
    }
    // Every `nth` reply from now on is lost (0: none).
    void DropEveryReply(int nth) {
        dropEvery_ = nth;
        repliesSinceDropEvery_ = 0;
    }
    // Address bytes that nothing acknowledges, whatever is on the bus.
    void RefuseAddress(std::uint8_t addressByte) { refused_.insert(addressByte); }
    // How long the adapter takes to answer a request. Replies leave in the order of their
    // requests, so a reply is never ready before the one to an earlier request.
    void SetLatency(Clock::duration latency) { latency_ = latency; }
    // The adapter takes no reports any more (its USB side hangs): writes do not complete.
    void SetTakingReports(bool taking) { takingReports_ = taking; }
    bool TakingReports() const { return takingReports_; }
    // Time-outs end at once instead of waiting them out; for tests that provoke many.
    void SetInstantTimeouts(bool instant) { instantTimeouts_ = instant; }
    bool InstantTimeouts() const { return instantTimeouts_; }
    void AddDevice(std::unique_ptr<I2cDevice> device) { devices_.push_back(std::move(device)); }
    // Whether reports are recorded in the traffic log (on after Reset). The demo turns it off
    // so that a long session does not grow the log without bound.
    void SetRecording(bool recording) { recording_ = recording; }
    Eeprom24C02& Eeprom() { return *eeprom_; }

    // --- The USB side ---
    bool Connected() const { return present_ && !unplugged_; }
    // Changes whenever the adapter is taken away, so that a host can tell a replugged
    // adapter (with nothing of the old one queued) from the same one.
    std::uint32_t PlugCount() const { return plugs_; }
    std::string SerialNumber() const { return serial_; }
    void SetSerialNumber(std::string serial) { serial_ = std::move(serial); }
    // One report written on `pipe` (ReportBytes long). Returns false when the adapter did not
    // take it (not connected, bad pipe or length). The replies it gives, in order, are in
    // `replies`.
    bool Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                 Clock::time_point now, std::vector<Reply>& replies);

    // Every report written to and read from the adapter, in order.
    const std::vector<Traffic>& TrafficLog() const { return traffic_; }
    void RecordRead(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length);
    void ClearTraffic() { traffic_.clear(); }

  private:
    // Plugged in again: the chip starts with its special modes (I2C) off.
    void PowerOn() {
        i2cEnabled_ = false;
        current_ = nullptr;
    }
    using Report = std::vector<std::uint8_t>;
    std::vector<Report> HandleI2cRequest(const Report& request, Clock::time_point now);
    Clock::time_point ReadyAt(Clock::time_point now);
    I2cDevice* Addressed(std::uint8_t addressByte, Clock::time_point now);
    void StopTransaction(Clock::time_point now);

    std::atomic<bool> present_ = true;  // read by another adapter's thread listing the adapters
    std::atomic<bool> unplugged_ = false;
    bool takingReports_ = true;
    std::uint32_t plugs_ = 0;
    std::function<void()> connectionWatcher_;
    int unplugAfter_ = -1;
    int exchanges_ = 0;
    int dropReplies_ = 0;
    int dropAfter_ = -1;
    int shortenAfter_ = -1;
    int stopAfter_ = -1;
    int actionAfter_ = -1;
    std::function<void()> action_;
    int dropEvery_ = 0;
    int repliesSinceDropEvery_ = 0;
    bool instantTimeouts_ = false;
    std::set<std::uint8_t> refused_;
    Clock::duration latency_{};
    Clock::time_point lastReadyAt_{};
    bool i2cEnabled_ = false;
    Kind kind_ = Kind::Iow24;
    bool paced_ = false;
    std::string serial_ = "0000A5E1";

    Eeprom24C02* eeprom_ = nullptr;
    std::vector<std::unique_ptr<I2cDevice>> devices_;
    I2cDevice* current_ = nullptr;  // device of the open transaction, if any

    std::vector<Traffic> traffic_;
    bool recording_ = true;
};

// The sample EDID that the emulated memory holds when plugged in.
const std::array<std::uint8_t, 256>& SampleEdid();

}  // namespace quillon::iow
