#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "iow/virtual/i2c_bus.h"

namespace quillon::iow {

// The USB side of an emulated adapter as a host (the virtual backend, the VM's emulator) meets
// it: the adapter itself, or a link with faults that a test puts in front of it.
class AdapterLink {
  public:
    struct Reply {
        std::vector<std::uint8_t> bytes;  // the pipe's report size
        Clock::time_point readyAt{};
    };

    virtual ~AdapterLink() = default;
    virtual bool Connected() const = 0;
    // Changes whenever the adapter is taken away, so that a host can tell a replugged
    // adapter (with nothing of the old one queued) from the same one.
    virtual std::uint32_t PlugCount() const = 0;
    // One report written on `pipe` (the pipe's report size). Returns false when the adapter did
    // not take it (not connected, bad pipe or length). The replies it gives, in order, are in
    // `replies`.
    virtual bool Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                         Clock::time_point now, std::vector<Reply>& replies) = 0;
    // A hung adapter takes no reports: a host's write does not complete.
    virtual bool TakingReports() const { return true; }
    // Whether a host ends its time-outs at once instead of waiting them out.
    virtual bool InstantTimeouts() const { return false; }
    // A reply the host has read.
    virtual void Delivered(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length) {
        (void)pipe, (void)bytes, (void)length;
    }
};

// An emulated IO-Warrior 24 or 56 seen from the USB side: reports arrive on its two pipes, and
// its I2C function (pipe 1) answers write and read requests from the devices on its bus as the
// data sheets lay them out (docs/iowarrior-i2c.md): a write report carries a start and a stop
// flag and 1 to 6 (IOW24) or 62 (IOW56) bytes and is acknowledged by one report; a read report
// asks for 1 to 255 bytes (256 on the IOW56, count 0), which come back in chunks of 6 or 62, one
// report each; a report out of range gets no reply. What it
// keeps is what a physical adapter and its memory have; link faults are the tests' own.
// Plain and single-threaded: the caller passes the time.
class VirtualAdapter : public AdapterLink {
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

    VirtualAdapter();

    // Back to a freshly plugged adapter holding the sample EDID in a plain 24C02; an IOW24
    // unless `kind` says otherwise, its replies unpaced.
    void Reset(Kind kind = Kind::Iow24);
    void SetKind(Kind kind) { kind_ = kind; }
    std::uint32_t ProductId() const { return kind_ == Kind::Iow56 ? kProductIow56 : kProductIow24; }
    // The report size of `pipe`: 8, and 64 on the IOW56's I2C pipe.
    int ReportBytes(std::uint32_t pipe) const { return kind_ == Kind::Iow56 && pipe == 1 ? 64 : 8; }
    // Replies leave at the kind's pace, at most one per polling interval, as a real USB host
    // collects them; unpaced they leave as soon as they are made (and any latency passed).
    void SetPaced(bool paced) { paced_ = paced; }
    // How long the adapter takes to answer a request. Replies leave in the order of their
    // requests, so a reply is never ready before the one to an earlier request.
    void SetLatency(Clock::duration latency) { latency_ = latency; }
    void AddDevice(std::unique_ptr<I2cDevice> device) { devices_.push_back(std::move(device)); }
    // The memory on the bus larger: `bytes` at address bytes of their own (24C04 to 24C16), or,
    // `segments`, an E-DDC memory behind a segment pointer that falls back to 0 at a stop, or
    // that keeps its segment.
    enum class Segments { None, FallBack, Kept };
    void UseLargerMemory(int bytes, Segments segments = Segments::None);
    Eeprom24C02& Eeprom() { return *eeprom_; }
    // Whether the internal pull-ups hold SDA and SCL high (the enable report's flag).
    bool PullUpsOn() const { return pullUps_; }

    // The cable plugged in or pulled.
    void SetPresent(bool present) {
        if (present_ && !present) ++plugs_;
        if (!present_ && present) PowerCycle();
        present_ = present;
        if (connectionWatcher_) connectionWatcher_();
    }
    // Runs after the adapter was plugged in or out (SetPresent, Reset), for a host that has to
    // present the change to a real USB stack.
    void SetConnectionWatcher(std::function<void()> watcher) {
        connectionWatcher_ = std::move(watcher);
    }
    // Plugged in again: the chip starts with its special modes (I2C) off.
    void PowerCycle() {
        i2cEnabled_ = busHeld_ = false;
        current_ = nullptr;
    }

    // --- The USB side ---
    bool Connected() const override { return present_; }
    std::uint32_t PlugCount() const override { return plugs_; }
    std::string SerialNumber() const { return serial_; }
    void SetSerialNumber(std::string serial) { serial_ = std::move(serial); }
    bool Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                 Clock::time_point now, std::vector<Reply>& replies) override;

  private:
    using Report = std::vector<std::uint8_t>;
    std::vector<Report> HandleI2cRequest(const Report& request, Clock::time_point now);
    Clock::time_point ReadyAt(Clock::time_point now);
    I2cDevice* Addressed(std::uint8_t addressByte, Clock::time_point now);
    void StopTransaction(Clock::time_point now);

    std::atomic<bool> present_ = true;  // read by another adapter's thread listing the adapters
    std::uint32_t plugs_ = 0;
    std::function<void()> connectionWatcher_;
    Clock::duration latency_{};
    Clock::time_point lastReadyAt_{};
    bool i2cEnabled_ = false;
    bool pullUps_ = true;
    bool busHeld_ = false;  // a memory addressed for reading holds SDA low
    Kind kind_ = Kind::Iow24;
    bool paced_ = false;
    std::string serial_ = "0000A5E1";

    Eeprom24C02* eeprom_ = nullptr;
    std::vector<std::unique_ptr<I2cDevice>> devices_;
    I2cDevice* current_ = nullptr;  // device of the open transaction, if any
};

// The sample EDID that the emulated memory holds when plugged in.
const std::array<std::uint8_t, 256>& SampleEdid();

}  // namespace quillon::iow
