// The IowKit functions over the emulated adapter. Its replies wait in one queue, as in the
// kernel driver: once more than 15 have arrived unread the oldest is dropped; they are kept
// across close and open, each arriving once its latency (and the pace) has passed. A report
// shorter than the pipe's report size is padded with zeros, as the Linux backend does. The same
// reply rules as on a real adapter apply (reply_sync.h).
#include <deque>
#include <thread>

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

struct OpenVirtualAdapter {};

struct Backend {
    VirtualAdapter adapter;
    HandleTable<OpenVirtualAdapter> handles;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    bool open = false;  // one open file per adapter, as the driver allows
    std::deque<VirtualAdapter::Reply> replies;
    ReplySync sync{static_cast<int>(kDefaultTimeoutMs)};
    std::uint32_t plugCount = 0;  // of the adapter whose replies are queued
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

// Sleeps until `until`, unless the adapter's time-outs are to end at once.
void WaitUntil(const VirtualAdapter& adapter, Clock::time_point until) {
    if (!adapter.InstantTimeouts()) std::this_thread::sleep_until(until);
}

class VirtualQueue : public ReportQueue {
  public:
    explicit VirtualQueue(Backend& backend) : backend_(backend) {}
    Take TryTake(std::vector<std::uint8_t>& report) override {
        if (!backend_.adapter.Connected()) return Take::Gone;
        auto& replies = backend_.replies;
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
        if (!backend_.adapter.Connected()) return Wait::Gone;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto& replies = backend_.replies;
        if (!replies.empty() && replies.front().readyAt <= deadline) {
            std::this_thread::sleep_until(replies.front().readyAt);
            return Wait::Ready;
        }
        WaitUntil(backend_.adapter, deadline);
        return Wait::TimedOut;
    }

  private:
    Backend& backend_;
};

}  // namespace

VirtualAdapter& TheVirtualAdapter() { return TheBackend().adapter; }

NoAdapterReason WhyNoAdapter() {
    const Backend& backend = TheBackend();
    if (backend.adapter.Connected() && backend.open) return NoAdapterReason::Busy;
    return NoAdapterReason::NoneAttached;
}

}  // namespace quillon::iow

using quillon::iow::Clock;
using quillon::iow::TheBackend;
using quillon::iow::VirtualQueue;

IowKitHandle IowKitOpenDevice() {
    auto& backend = TheBackend();
    std::vector<std::unique_ptr<quillon::iow::OpenVirtualAdapter>> found;
    if (backend.adapter.Connected() && !backend.open) {
        if (backend.plugCount != backend.adapter.PlugCount()) {  // a new adapter: nothing queued
            backend.plugCount = backend.adapter.PlugCount();
            backend.replies.clear();
            backend.sync.SetOutstanding(false);
        }
        found.push_back(std::make_unique<quillon::iow::OpenVirtualAdapter>());
        backend.open = true;
    }
    return backend.handles.AddGroup(std::move(found));
}

void IowKitCloseDevice(IowKitHandle handle) {
    auto& backend = TheBackend();
    if (!backend.handles.RemoveGroupOf(handle).empty()) {
        backend.open = false;
    }
}

bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs) {
    auto& backend = TheBackend();
    if (backend.handles.Find(handle) == nullptr) return false;
    backend.timeoutMs = timeoutMs;  // kept for the adapter's later opens too
    backend.sync.SetQuietMs(static_cast<int>(timeoutMs));
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    auto& backend = TheBackend();
    if (backend.handles.Find(handle) == nullptr || buffer == nullptr) return 0;
    VirtualQueue queue(backend);
    if (pipe == kIowPipeI2c && !backend.sync.BeforeRequest(queue)) return 0;
    if (backend.adapter.Connected() && !backend.adapter.TakingReports()) {
        // The write does not complete: it fails once the time-out has passed.
        quillon::iow::WaitUntil(backend.adapter,
                                Clock::now() + std::chrono::milliseconds(backend.timeoutMs));
        return 0;
    }
    const std::uint32_t reportBytes = backend.adapter.ReportBytes(pipe);
    if (length > reportBytes) return 0;
    std::vector<std::uint8_t> report(buffer, buffer + length);
    report.resize(reportBytes, 0);
    std::vector<quillon::iow::VirtualAdapter::Reply> replies;
    if (!backend.adapter.Receive(pipe, report.data(), report.size(), Clock::now(), replies))
        return 0;
    if (pipe == kIowPipeI2c) {
        backend.sync.RequestSent(buffer[0]);
        for (auto& reply : replies) backend.replies.push_back(std::move(reply));
    }
    return length;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    auto& backend = TheBackend();
    if (backend.handles.Find(handle) == nullptr || buffer == nullptr || length == 0) return 0;
    if (pipe != kIowPipeI2c) {  // the IO ports never report here: the read times out
        if (backend.adapter.Connected())
            quillon::iow::WaitUntil(backend.adapter,
                                    Clock::now() + std::chrono::milliseconds(backend.timeoutMs));
        return 0;
    }
    VirtualQueue queue(backend);
    const std::vector<std::uint8_t> reply =
        backend.sync.AwaitReply(queue, static_cast<int>(backend.timeoutMs));
    if (reply.empty()) return 0;
    const std::uint32_t count =
        std::min<std::uint32_t>(length, static_cast<std::uint32_t>(reply.size()));
    std::copy_n(reply.begin(), count, buffer);
    backend.adapter.RecordRead(pipe, buffer, count);
    return count;
}

std::uint32_t IowKitGetProductId(IowKitHandle handle) {
    return TheBackend().handles.Find(handle) ? TheBackend().adapter.ProductId() : 0;
}

std::uint32_t quillon::iow::ReportBytes(IowKitHandle handle, std::uint32_t pipe) {
    auto& backend = TheBackend();
    return backend.handles.Find(handle) && pipe <= 1 ? backend.adapter.ReportBytes(pipe) : 0;
}

std::uint32_t IowKitGetRevision(IowKitHandle handle) {
    return TheBackend().handles.Find(handle) ? quillon::iow::VirtualAdapter::kRevision : 0;
}

bool IowKitGetSerialNumber(IowKitHandle handle, std::uint8_t* buffer) {
    auto& backend = TheBackend();
    if (backend.handles.Find(handle) == nullptr || buffer == nullptr) return false;
    quillon::iow::WriteSerialAsUtf16(backend.adapter.SerialNumber(), buffer);
    return true;
}

std::uint32_t IowKitGetNumDevs() { return TheBackend().handles.NewestGroupSize(); }

IowKitHandle IowKitGetDeviceHandle(std::uint32_t deviceNumber) {
    return TheBackend().handles.NewestGroupHandle(deviceNumber);
}
