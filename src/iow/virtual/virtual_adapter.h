#pragma once

#include <array>
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

// An emulated IO-Warrior 24 seen from the USB side: reports arrive on its two pipes, and its
// I2C function (pipe 1) answers write and read requests from the devices on its bus. Holds
// the faults that tests switch on. Plain and single-threaded: the caller passes the time.
class VirtualAdapter {
  public:
    static constexpr std::uint32_t kProductId = 0x1501;  // IO-Warrior 24
    static constexpr std::uint32_t kRevision = 0x1021;
    static constexpr int kReportBytes = 8;
    using Report = std::array<std::uint8_t, kReportBytes>;

    struct Reply {
        Report bytes{};
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

    // Back to a freshly plugged adapter holding the sample EDID, with no faults.
    void Reset();

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
    std::string SerialNumber() const { return "0000A5E1"; }
    // One report written on `pipe`. Returns false when the adapter did not take it (not
    // connected, bad pipe or length). A reply, when the function gives one, is in `reply`.
    bool Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                 Clock::time_point now, std::optional<Reply>& reply);

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
    std::optional<Report> HandleI2cRequest(const Report& request, Clock::time_point now);
    I2cDevice* Addressed(std::uint8_t addressByte, Clock::time_point now);
    void StopTransaction(Clock::time_point now);

    bool present_ = true;
    bool unplugged_ = false;
    bool takingReports_ = true;
    std::uint32_t plugs_ = 0;
    std::function<void()> connectionWatcher_;
    int unplugAfter_ = -1;
    int exchanges_ = 0;
    int dropReplies_ = 0;
    int dropEvery_ = 0;
    int repliesSinceDropEvery_ = 0;
    bool instantTimeouts_ = false;
    std::set<std::uint8_t> refused_;
    Clock::duration latency_{};
    Clock::time_point lastReadyAt_{};
    bool i2cEnabled_ = false;

    Eeprom24C02* eeprom_ = nullptr;
    std::vector<std::unique_ptr<I2cDevice>> devices_;
    I2cDevice* current_ = nullptr;  // device of the open transaction, if any

    std::vector<Traffic> traffic_;
    bool recording_ = true;
};

// The sample EDID that the emulated memory holds when plugged in.
const std::array<std::uint8_t, 256>& SampleEdid();

}  // namespace quillon::iow
