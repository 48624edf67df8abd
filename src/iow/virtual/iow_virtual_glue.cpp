// The IowKit functions over the emulated adapters (one unless a test or the demo adds more). Each
// adapter's replies wait in a queue of its own, as in the kernel driver: once more than 15 have
// arrived unread the oldest is dropped; they are kept across close and open, each arriving once
// its latency (and the pace) has passed. A report shorter than the pipe's report size is padded
// with zeros, as the Linux backend does. The same reply rules as on a real adapter apply
// (reply_sync.h). Each handle may be used from a thread of its own.
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "iow/adapter_choice.h"
#include "iow/handle_table.h"
#include "iow/iowkit.h"
#include "iow/no_adapter.h"
#include "iow/reply_sync.h"
#include "iow/report_size.h"
#include "iow/serial_number.h"
#include "iow/virtual/virtual_backend.h"

namespace quillon::iow {

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::size_t kQueuedReplies = 15;

// One emulated adapter and what the driver would keep for it.
struct Slot {
    VirtualAdapter adapter;
    bool open = false;  // one open file per adapter, as the driver allows
    std::deque<VirtualAdapter::Reply> replies;
    ReplySync sync{static_cast<int>(kDefaultTimeoutMs)};
    std::uint32_t plugCount = 0;  // of the adapter whose replies are queued
};

struct OpenVirtualAdapter {
    Slot* slot;
};

struct Backend {
    std::deque<Slot> slots = std::deque<Slot>(1);  // addresses stay put as slots are added
    HandleTable<OpenVirtualAdapter> handles;
    std::atomic<std::uint32_t> timeoutMs = kDefaultTimeoutMs;
    std::mutex openMutex;  // the slots' open flags
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

Slot* SlotOf(IowKitHandle handle) {
    OpenVirtualAdapter* open = TheBackend().handles.Find(handle);
    return open != nullptr ? open->slot : nullptr;
}

// Sleeps until `until`, unless the adapter's time-outs are to end at once.
void WaitUntil(const VirtualAdapter& adapter, Clock::time_point until) {
    if (!adapter.InstantTimeouts()) std::this_thread::sleep_until(until);
}

class VirtualQueue : public ReportQueue {
  public:
    explicit VirtualQueue(Slot& slot) : slot_(slot) {}
    Take TryTake(std::vector<std::uint8_t>& report) override {
        if (!slot_.adapter.Connected()) return Take::Gone;
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
        if (!slot_.adapter.Connected()) return Wait::Gone;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto& replies = slot_.replies;
        if (!replies.empty() && replies.front().readyAt <= deadline) {
            std::this_thread::sleep_until(replies.front().readyAt);
            return Wait::Ready;
        }
        WaitUntil(slot_.adapter, deadline);
        return Wait::TimedOut;
    }

  private:
    Slot& slot_;
};

// Opens `slot` if it is there and free: a new adapter since the last open has nothing queued.
std::unique_ptr<OpenVirtualAdapter> TryOpen(Slot& slot) {
    if (!slot.adapter.Connected() || slot.open) return nullptr;
    if (slot.plugCount != slot.adapter.PlugCount()) {
        slot.plugCount = slot.adapter.PlugCount();
        slot.replies.clear();
        slot.sync.SetOutstanding(false);
    }
    slot.open = true;
    return std::make_unique<OpenVirtualAdapter>(OpenVirtualAdapter{&slot});
}

}  // namespace

VirtualAdapter& TheVirtualAdapter() { return TheBackend().slots.front().adapter; }

std::vector<VirtualAdapter*> UseVirtualAdapters(int count) {
    Backend& backend = TheBackend();
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

NoAdapterReason WhyNoAdapter() {
    for (const AttachedAdapter& adapter : ListAttachedAdapters())
        if (adapter.access == AttachedAdapter::Access::Held) return NoAdapterReason::Busy;
    return NoAdapterReason::NoneAttached;
}

std::vector<AttachedAdapter> ListAttachedAdapters(bool) {
    Backend& backend = TheBackend();
    const std::lock_guard lock(backend.openMutex);
    std::vector<AttachedAdapter> attached;
    for (const Slot& slot : backend.slots)
        if (slot.adapter.Connected())
            attached.push_back({slot.adapter.SerialNumber(), slot.adapter.ProductId(),
                                slot.open ? AttachedAdapter::Access::Held
                                          : AttachedAdapter::Access::Free});
    return attached;
}

IowKitHandle OpenAdapterWithSerial(const std::string& serial) {
    Backend& backend = TheBackend();
    std::vector<std::unique_ptr<OpenVirtualAdapter>> found;
    {
        const std::lock_guard lock(backend.openMutex);
        for (Slot& slot : backend.slots)
            if (slot.adapter.SerialNumber() == serial)
                if (auto open = TryOpen(slot)) found.push_back(std::move(open));
    }
    return backend.handles.AddGroup(std::move(found));
}

std::uint32_t ReportBytes(IowKitHandle handle, std::uint32_t pipe) {
    const Slot* slot = SlotOf(handle);
    return slot != nullptr && pipe <= 1 ? slot->adapter.ReportBytes(pipe) : 0;
}

}  // namespace quillon::iow

using quillon::iow::Clock;
using quillon::iow::Slot;
using quillon::iow::SlotOf;
using quillon::iow::TheBackend;
using quillon::iow::VirtualQueue;

IowKitHandle IowKitOpenDevice() {
    auto& backend = TheBackend();
    std::vector<std::unique_ptr<quillon::iow::OpenVirtualAdapter>> found;
    {
        const std::lock_guard lock(backend.openMutex);
        for (Slot& slot : backend.slots)
            if (auto open = quillon::iow::TryOpen(slot)) found.push_back(std::move(open));
    }
    return backend.handles.AddGroup(std::move(found));
}

void IowKitCloseDevice(IowKitHandle handle) {
    auto& backend = TheBackend();
    const auto removed = backend.handles.RemoveGroupOf(handle);
    const std::lock_guard lock(backend.openMutex);
    for (const auto& open : removed) open->slot->open = false;
}

bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs) {
    Slot* slot = SlotOf(handle);
    if (slot == nullptr) return false;
    TheBackend().timeoutMs = timeoutMs;  // kept for the adapters' later opens too
    slot->sync.SetQuietMs(static_cast<int>(timeoutMs));
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    Slot* slot = SlotOf(handle);
    if (slot == nullptr || buffer == nullptr) return 0;
    auto& adapter = slot->adapter;
    VirtualQueue queue(*slot);
    if (pipe == kIowPipeI2c && !slot->sync.BeforeRequest(queue)) return 0;
    if (adapter.Connected() && !adapter.TakingReports()) {
        // The write does not complete: it fails once the time-out has passed.
        quillon::iow::WaitUntil(
            adapter, Clock::now() + std::chrono::milliseconds(TheBackend().timeoutMs.load()));
        return 0;
    }
    const std::uint32_t reportBytes = adapter.ReportBytes(pipe);
    if (length > reportBytes) return 0;
    std::vector<std::uint8_t> report(buffer, buffer + length);
    report.resize(reportBytes, 0);
    std::vector<quillon::iow::VirtualAdapter::Reply> replies;
    if (!adapter.Receive(pipe, report.data(), report.size(), Clock::now(), replies)) return 0;
    if (pipe == kIowPipeI2c) {
        slot->sync.RequestSent(buffer[0]);
        for (auto& reply : replies) slot->replies.push_back(std::move(reply));
    }
    return length;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    Slot* slot = SlotOf(handle);
    if (slot == nullptr || buffer == nullptr || length == 0) return 0;
    const int timeoutMs = static_cast<int>(TheBackend().timeoutMs.load());
    if (pipe != kIowPipeI2c) {  // the IO ports never report here: the read times out
        if (slot->adapter.Connected())
            quillon::iow::WaitUntil(slot->adapter,
                                    Clock::now() + std::chrono::milliseconds(timeoutMs));
        return 0;
    }
    VirtualQueue queue(*slot);
    const std::vector<std::uint8_t> reply = slot->sync.AwaitReply(queue, timeoutMs);
    if (reply.empty()) return 0;
    const std::uint32_t count =
        std::min<std::uint32_t>(length, static_cast<std::uint32_t>(reply.size()));
    std::copy_n(reply.begin(), count, buffer);
    slot->adapter.RecordRead(pipe, buffer, count);
    return count;
}

std::uint32_t IowKitGetProductId(IowKitHandle handle) {
    const Slot* slot = SlotOf(handle);
    return slot != nullptr ? slot->adapter.ProductId() : 0;
}

std::uint32_t IowKitGetRevision(IowKitHandle handle) {
    return SlotOf(handle) != nullptr ? quillon::iow::VirtualAdapter::kRevision : 0;
}

bool IowKitGetSerialNumber(IowKitHandle handle, std::uint8_t* buffer) {
    const Slot* slot = SlotOf(handle);
    if (slot == nullptr || buffer == nullptr) return false;
    quillon::iow::WriteSerialAsUtf16(slot->adapter.SerialNumber(), buffer);
    return true;
}

std::uint32_t IowKitGetNumDevs() { return TheBackend().handles.NewestGroupSize(); }

IowKitHandle IowKitGetDeviceHandle(std::uint32_t deviceNumber) {
    return TheBackend().handles.NewestGroupHandle(deviceNumber);
}
