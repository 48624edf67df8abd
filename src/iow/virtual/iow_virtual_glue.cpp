// The IowKit functions over the emulated adapter. Replies wait in a queue per open adapter,
// as in the kernel driver, until read; a read waits for the reply's latency or the time-out.
#include <deque>
#include <thread>

#include "iow/handle_table.h"
#include "iow/iowkit.h"
#include "iow/reply_matching.h"
#include "iow/serial_number.h"
#include "iow/virtual/virtual_backend.h"

namespace quillon::iow {

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::size_t kMaxQueuedReplies = 16;

struct OpenVirtualAdapter {
    std::deque<VirtualAdapter::Reply> replies;
    std::uint8_t lastRequestId = 0;
};

struct Backend {
    VirtualAdapter adapter;
    HandleTable<OpenVirtualAdapter> handles;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    bool open = false;  // one open file per adapter, as the driver allows
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

}  // namespace

VirtualAdapter& TheVirtualAdapter() { return TheBackend().adapter; }

}  // namespace quillon::iow

using quillon::iow::Clock;
using quillon::iow::TheBackend;

IowKitHandle IowKitOpenDevice() {
    auto& backend = TheBackend();
    std::vector<std::unique_ptr<quillon::iow::OpenVirtualAdapter>> found;
    if (backend.adapter.Connected() && !backend.open) {
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
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    auto& backend = TheBackend();
    auto* open = backend.handles.Find(handle);
    if (open == nullptr || buffer == nullptr) return 0;
    std::optional<quillon::iow::VirtualAdapter::Reply> reply;
    if (!backend.adapter.Receive(pipe, buffer, length, Clock::now(), reply)) return 0;
    if (pipe == kIowPipeI2c) {
        open->lastRequestId = buffer[0];
        if (reply && open->replies.size() < quillon::iow::kMaxQueuedReplies) {
            open->replies.push_back(*reply);
        }
    }
    return length;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    auto& backend = TheBackend();
    auto* open = backend.handles.Find(handle);
    if (open == nullptr || buffer == nullptr || length == 0) return 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(backend.timeoutMs);
    const bool instant = backend.adapter.InstantTimeouts();
    while (backend.adapter.Connected() && pipe == kIowPipeI2c && !open->replies.empty()) {
        const auto reply = open->replies.front();
        if (reply.readyAt > deadline) break;
        open->replies.pop_front();
        if (!quillon::iow::IsReplyTo(open->lastRequestId, reply.bytes[0])) continue;  // late
        std::this_thread::sleep_until(reply.readyAt);
        const std::uint32_t count =
            std::min<std::uint32_t>(length, quillon::iow::VirtualAdapter::kReportBytes);
        std::copy_n(reply.bytes.begin(), count, buffer);
        backend.adapter.RecordRead(pipe, buffer, count);
        return count;
    }
    if (backend.adapter.Connected() && !instant) {
        std::this_thread::sleep_until(deadline);  // nothing came: the read times out
    }
    return 0;
}

std::uint32_t IowKitGetProductId(IowKitHandle handle) {
    return TheBackend().handles.Find(handle) ? quillon::iow::VirtualAdapter::kProductId : 0;
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
