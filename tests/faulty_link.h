#pragma once

// The link between a host and an emulated adapter, with the faults that tests switch on and a
// log of the reports that crossed it. Wraps the model; the virtual backend (SetVirtualLink) and
// the VM's emulator talk to the adapter through it.

#include <atomic>
#include <functional>

#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

class FaultyLink final : public AdapterLink {
  public:
    struct Traffic {
        enum class Direction { Written, Read };
        Direction direction;
        std::uint32_t pipe;
        std::vector<std::uint8_t> bytes;
    };

    explicit FaultyLink(VirtualAdapter& model) : model_(model) {}
    VirtualAdapter& Model() { return model_; }

    // A freshly plugged adapter of `kind` with no faults and an empty log.
    void Reset(VirtualAdapter::Kind kind = VirtualAdapter::Kind::Iow24) {
        faults_ = {};
        unplugged_ = false;
        instantTimeouts_ = false;
        traffic_.clear();
        model_.Reset(kind);
    }
    // Every fault of the link and of the memory away, the adapter plugged in (in its power-on
    // state if a fault had pulled it); the memory's bytes and the log stay.
    void ClearFaults() {
        if (unplugged_) model_.PowerCycle();
        unplugged_ = false;
        faults_ = {};
        model_.Eeprom().ClearFaults();
        model_.SetPresent(true);
    }

    // After `exchanges` more requests on the I2C pipe the adapter is unplugged.
    void UnplugAfterExchanges(int exchanges) { faults_.unplugAfter = exchanges; }
    // After `exchanges` more requests on the I2C pipe the adapter takes no reports any more.
    void StopAfterExchanges(int exchanges) { faults_.stopAfter = exchanges; }
    // Runs `action` once, when the I2C pipe has taken `exchanges` more requests.
    void AfterExchanges(int exchanges, std::function<void()> action) {
        faults_.actionAfter = exchanges;
        faults_.action = std::move(action);
    }
    // The next `count` replies are lost (-1: all of them).
    void DropReplies(int count) { faults_.dropReplies = count; }
    // The reply after the next `skipped` ones is lost (a chunk in the middle of a read).
    void DropReplyAfter(int skipped) { faults_.dropAfter = skipped; }
    // Every `nth` reply from now on is lost.
    void DropEveryReply(int nth) { faults_.dropEvery = nth; }
    // The read reply after the next `skipped` ones counts one byte fewer than it was asked for
    // (a chunk cut short), with no error flag.
    void ShortenReplyAfter(int skipped) { faults_.shortenAfter = skipped; }
    // The read reply after the next `skipped` ones says that arbitration was lost (an IO-Warrior
    // 56's flag), its bytes another master's.
    void LoseArbitrationAfter(int skipped) { faults_.arbitrationAfter = skipped; }
    // The adapter's USB side hangs: writes do not complete.
    void SetTakingReports(bool taking) { faults_.taking = taking; }
    void SetInstantTimeouts(bool instant) { instantTimeouts_ = instant; }

    const std::vector<Traffic>& TrafficLog() const { return traffic_; }
    void ClearTraffic() { traffic_.clear(); }

    // --- What the host meets ---
    bool Connected() const override { return model_.Connected() && !unplugged_; }
    std::uint32_t PlugCount() const override { return model_.PlugCount() + unplugs_; }
    bool TakingReports() const override { return faults_.taking; }
    bool InstantTimeouts() const override { return instantTimeouts_; }
    void Delivered(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length) override {
        traffic_.push_back({Traffic::Direction::Read, pipe, {bytes, bytes + length}});
    }
    bool Receive(std::uint32_t pipe, const std::uint8_t* bytes, std::size_t length,
                 Clock::time_point now, std::vector<Reply>& replies) override {
        replies.clear();
        if (!Connected() || !faults_.taking) return false;
        if (pipe == 1 && faults_.unplugAfter-- == 0) {
            unplugged_ = true;
            ++unplugs_;
            return false;
        }
        if (pipe == 1 && faults_.stopAfter-- == 0) return faults_.taking = false;
        if (!model_.Receive(pipe, bytes, length, now, replies)) return false;
        traffic_.push_back({Traffic::Direction::Written, pipe, {bytes, bytes + length}});
        if (pipe != 1) return true;
        if (faults_.actionAfter-- == 1 && faults_.action) faults_.action();
        std::erase_if(replies, [this](const Reply&) { return Lost(); });
        for (Reply& reply : replies) {
            if (reply.bytes[0] != kReportRead) continue;
            if (faults_.shortenAfter-- == 0 && (reply.bytes[1] & 0x7F) > 0) --reply.bytes[1];
            if (faults_.arbitrationAfter-- == 0) {
                reply.bytes[1] |= 0x40;
                std::fill(reply.bytes.begin() + 2, reply.bytes.end(), 0xFF);
            }
        }
        return true;
    }

  private:
    static constexpr std::uint8_t kReportRead = 3;

    bool Lost() {
        if (faults_.dropReplies != 0) {
            if (faults_.dropReplies > 0) --faults_.dropReplies;
            return true;
        }
        if (faults_.dropAfter-- == 0) return true;
        return faults_.dropEvery > 0 && ++faults_.repliesSinceDropEvery % faults_.dropEvery == 0;
    }

    struct Faults {
        int unplugAfter = -1, stopAfter = -1, actionAfter = -1;
        std::function<void()> action;
        int dropReplies = 0, dropAfter = -1, dropEvery = 0, repliesSinceDropEvery = 0;
        int shortenAfter = -1, arbitrationAfter = -1;
        bool taking = true;
    };
    VirtualAdapter& model_;
    Faults faults_;
    std::atomic<bool> unplugged_ = false;  // read by another adapter's thread listing adapters
    std::uint32_t unplugs_ = 0;
    bool instantTimeouts_ = false;
    std::vector<Traffic> traffic_;
};

}  // namespace quillon::iow
