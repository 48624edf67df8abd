// The adapter backend over the emulated adapters (one unless a test or the demo adds more). Each
// adapter's replies wait in a queue of its own, as in the kernel driver: once more than 15 have
// arrived unread the oldest is dropped; they are kept across close and open, each arriving once
// its latency (and the pace) has passed. A report shorter than the pipe's report size is padded
// with zeros, as the Linux backend does. The same reply rules as on a real adapter apply
// (reply_sync.h). Each handle may be used from a thread of its own.
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "iow/adapter_backend.h"
#include "iow/iowkit.h"
#include "iow/reply_sync.h"
#include "iow/virtual/virtual_backend.h"

namespace quillon::iow {

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::size_t kQueuedReplies = 15;

// One emulated adapter and what the driver would keep for it.
struct Slot {
    VirtualAdapter adapter;
    AdapterLink* link = &adapter;  // what the host meets: the adapter, or a test's faulty link
    bool open = false;  // one open file per adapter, as the driver allows
    std::deque<AdapterLink::Reply> replies;
    ReplySync sync{static_cast<int>(kDefaultTimeoutMs)};
    std::uint32_t plugCount = 0;  // of the adapter whose replies are queued
};

struct Slots {
    std::deque<Slot> slots = std::deque<Slot>(1);  // addresses stay put as slots are added
    std::mutex openMutex;                          // the slots' open flags
};

Slots& TheSlots() {
    static Slots slots;
    return slots;
}

// Sleeps until `until`, unless the adapter's time-outs are to end at once.
void WaitUntil(const AdapterLink& link, Clock::time_point until) {
    if (!link.InstantTimeouts()) std::this_thread::sleep_until(until);
}

class VirtualQueue : public ReportQueue {
  public:
    explicit VirtualQueue(Slot& slot) : slot_(slot) {}
    Take TryTake(std::vector<std::uint8_t>& report) override {
        if (!slot_.link->Connected()) return Take::Gone;
        auto& replies = slot_.replies;
        const auto now = Clock::now();
        std::size_t arrived = 0;
        while (arrived < replies.size() && replies[arrived].readyAt <= now) ++arrived;
        for (; arrived > kQueuedReplies; --arrived) replies.pop_front();
        if (arrived == 0) return Take::Empty;
        report.assign(replies.front().bytes.begin(), replies.front().bytes.end());
        replies.pop_front();
        return Take::Got;
    }
    Wait WaitQueued(int timeoutMs) override {
        if (!slot_.link->Connected()) return Wait::Gone;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto& replies = slot_.replies;
        if (!replies.empty() && replies.front().readyAt <= deadline) {
            std::this_thread::sleep_until(replies.front().readyAt);
            return Wait::Ready;
        }
        WaitUntil(*slot_.link, deadline);
        return Wait::TimedOut;
    }

  private:
    Slot& slot_;
};

class OpenVirtualAdapter final : public OpenAdapter {
  public:
    explicit OpenVirtualAdapter(Slot& slot) : slot_(slot) {
        facts_.productId = slot.adapter.ProductId();
        facts_.revision = VirtualAdapter::kRevision;
        facts_.serial = slot.adapter.SerialNumber();
        for (std::uint32_t pipe = 0; pipe < 2; ++pipe)
            facts_.reportBytes[pipe] = static_cast<std::uint32_t>(slot.adapter.ReportBytes(pipe));
    }
    ~OpenVirtualAdapter() override {
        const std::lock_guard lock(TheSlots().openMutex);
        slot_.open = false;
    }
    OpenVirtualAdapter(const OpenVirtualAdapter&) = delete;
    OpenVirtualAdapter& operator=(const OpenVirtualAdapter&) = delete;

    const AdapterFacts& Facts() const override { return facts_; }
    void SetTimeout(std::uint32_t timeoutMs) override {
        timeoutMs_ = timeoutMs;
        slot_.sync.SetQuietMs(static_cast<int>(timeoutMs));
    }

    std::uint32_t Write(std::uint32_t pipe, const std::uint8_t* buffer,
                        std::uint32_t length) override {
        AdapterLink& link = *slot_.link;
        VirtualQueue queue(slot_);
        if (pipe == kIowPipeI2c && !slot_.sync.BeforeRequest(queue)) return 0;
        if (link.Connected() && !link.TakingReports()) {
            // The write does not complete: it fails once the time-out has passed.
            WaitUntil(link, Clock::now() + std::chrono::milliseconds(timeoutMs_.load()));
            return 0;
        }
        const auto reportBytes = static_cast<std::uint32_t>(slot_.adapter.ReportBytes(pipe));
        if (length > reportBytes) return 0;
        std::vector<std::uint8_t> report(buffer, buffer + length);
        report.resize(reportBytes, 0);
        std::vector<AdapterLink::Reply> replies;
        if (!link.Receive(pipe, report.data(), report.size(), Clock::now(), replies)) return 0;
        if (pipe == kIowPipeI2c) {
            slot_.sync.RequestSent(buffer[0]);
            for (auto& reply : replies) slot_.replies.push_back(std::move(reply));
        }
        return length;
    }

    std::uint32_t Read(std::uint32_t pipe, std::uint8_t* buffer, std::uint32_t length) override {
        const int timeoutMs = static_cast<int>(timeoutMs_.load());
        if (pipe != kIowPipeI2c) {  // the IO ports never report here: the read times out
            if (slot_.link->Connected())
                WaitUntil(*slot_.link, Clock::now() + std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        VirtualQueue queue(slot_);
        const std::vector<std::uint8_t> reply = slot_.sync.AwaitReply(queue, timeoutMs);
        if (reply.empty()) return 0;
        const std::uint32_t count =
            std::min<std::uint32_t>(length, static_cast<std::uint32_t>(reply.size()));
        std::copy_n(reply.begin(), count, buffer);
        slot_.link->Delivered(pipe, buffer, count);
        return count;
    }

  private:
    Slot& slot_;
    AdapterFacts facts_;
    std::atomic<std::uint32_t> timeoutMs_ = kDefaultTimeoutMs;
};

// Opens `slot` if it is there and free: a new adapter since the last open has nothing queued.
// The caller holds the open mutex.
std::unique_ptr<OpenAdapter> TryOpen(Slot& slot) {
    if (!slot.link->Connected() || slot.open) return nullptr;
    if (slot.plugCount != slot.link->PlugCount()) {
        slot.plugCount = slot.link->PlugCount();
        slot.replies.clear();
        slot.sync.SetOutstanding(false);
    }
    slot.open = true;
    return std::make_unique<OpenVirtualAdapter>(slot);
}

class VirtualBackend final : public AdapterBackend {
  public:
    std::vector<AttachedAdapter> List(bool) override {
        Slots& backend = TheSlots();
        const std::lock_guard lock(backend.openMutex);
        std::vector<AttachedAdapter> attached;
        for (const Slot& slot : backend.slots)
            if (slot.link->Connected())
                attached.push_back(
                    {slot.adapter.SerialNumber(), slot.adapter.ProductId(),
                     slot.open ? AttachedAdapter::Access::Held : AttachedAdapter::Access::Free});
        return attached;
    }
    std::vector<std::unique_ptr<OpenAdapter>> OpenAll() override { return Open(nullptr); }
    std::unique_ptr<OpenAdapter> OpenSerial(const std::string& serial) override {
        auto found = Open(&serial);
        return found.empty() ? nullptr : std::move(found.front());
    }
    NoAdapterReason WhyNone() override {
        for (const AttachedAdapter& adapter : List(true))
            if (adapter.access == AttachedAdapter::Access::Held) return NoAdapterReason::Busy;
        return NoAdapterReason::NoneAttached;
    }

  private:
    // Every free slot, or the one of `serial`.
    std::vector<std::unique_ptr<OpenAdapter>> Open(const std::string* serial) {
        Slots& backend = TheSlots();
        const std::lock_guard lock(backend.openMutex);
        std::vector<std::unique_ptr<OpenAdapter>> found;
        for (Slot& slot : backend.slots)
            if (serial == nullptr || slot.adapter.SerialNumber() == *serial)
                if (auto open = TryOpen(slot)) found.push_back(std::move(open));
        return found;
    }
};

}  // namespace

VirtualAdapter& TheVirtualAdapter() { return TheSlots().slots.front().adapter; }

void SetVirtualLink(VirtualAdapter& adapter, AdapterLink* link) {
    for (Slot& slot : TheSlots().slots)
        if (&slot.adapter == &adapter) slot.link = link != nullptr ? link : &adapter;
}

std::vector<VirtualAdapter*> UseVirtualAdapters(int count) {
    Slots& backend = TheSlots();
    const std::lock_guard lock(backend.openMutex);
    while (static_cast<int>(backend.slots.size()) > std::max(count, 1)) backend.slots.pop_back();
    std::vector<VirtualAdapter*> adapters;
    for (int k = 0; k < count; ++k) {
        if (k == static_cast<int>(backend.slots.size())) backend.slots.emplace_back();
        Slot& slot = backend.slots[static_cast<std::size_t>(k)];
        char serial[16];
        std::snprintf(serial, sizeof serial, "0000A5%02X", (0xE1 + k) & 0xFF);
        slot.adapter.SetSerialNumber(serial);
        adapters.push_back(&slot.adapter);
    }
    return adapters;
}

AdapterBackend& TheBackend() {
    static VirtualBackend backend;
    return backend;
}

}  // namespace quillon::iow
