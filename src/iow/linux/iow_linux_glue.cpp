// The IowKit functions over the kernel's iowarrior driver. Each adapter is two device nodes,
// interface 0 (pipe 0) and interface 1 (pipe 1); reports are padded to the node's report
// size on write, and a reply longer than the caller's buffer is cut to it.
#include <algorithm>
#include <chrono>
#include <map>

#include "iow/handle_table.h"
#include "iow/iowkit.h"
#include "iow/linux/iow_linux_protocol.h"
#include "iow/linux/linux_syscalls.h"
#include "iow/reply_matching.h"
#include "iow/serial_number.h"

namespace quillon::iow {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kDefaultTimeoutMs = 1000;

struct OpenLinuxAdapter {
    int fd[2] = {-1, -1};
    std::uint32_t reportSize[2] = {0, 0};
    std::uint32_t productId = 0;
    std::uint32_t revision = 0;
    std::string serial;
    std::uint8_t lastRequestId = 0;
};

struct Backend {
    HandleTable<OpenLinuxAdapter> handles;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

bool ValidPipe(std::uint32_t pipe) { return pipe == kIowPipeIoPorts || pipe == kIowPipeI2c; }

}  // namespace
}  // namespace quillon::iow

using namespace quillon::iow;

IowKitHandle IowKitOpenDevice() {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    std::vector<std::string> paths = sys.ListDeviceNodes();
    SortNodePaths(paths);
    std::vector<DeviceNode> nodes;
    std::map<std::string, int> fds;
    for (const std::string& path : paths) {
        const int fd = sys.Open(path);
        if (fd < 0) continue;  // busy (held by another program) or no permission
        DeviceNode node{path, {}};
        if (sys.GetInfo(fd, node.info) != 0 || node.info.report_size == 0) {
            sys.Close(fd);
            continue;
        }
        nodes.push_back(node);
        fds[path] = fd;
    }
    std::vector<std::unique_ptr<OpenLinuxAdapter>> adapters;
    for (const AdapterNodes& pair : PairNodes(nodes)) {
        auto adapter = std::make_unique<OpenLinuxAdapter>();
        adapter->fd[0] = fds.at(pair.pipe0.path);
        adapter->fd[1] = fds.at(pair.pipe1.path);
        fds.erase(pair.pipe0.path);
        fds.erase(pair.pipe1.path);
        adapter->reportSize[0] = pair.pipe0.info.report_size;
        adapter->reportSize[1] = pair.pipe1.info.report_size;
        adapter->productId = pair.pipe1.info.product;
        adapter->revision = pair.pipe1.info.revision;
        adapter->serial = pair.serial;
        adapters.push_back(std::move(adapter));
    }
    for (const auto& [path, fd] : fds) sys.Close(fd);  // nodes without a partner
    return TheBackend().handles.AddGroup(std::move(adapters));
}

void IowKitCloseDevice(IowKitHandle handle) {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    for (const auto& adapter : TheBackend().handles.RemoveGroupOf(handle)) {
        sys.Close(adapter->fd[0]);
        sys.Close(adapter->fd[1]);
    }
}

bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs) {
    if (TheBackend().handles.Find(handle) == nullptr) return false;
    TheBackend().timeoutMs = timeoutMs;  // kept for later opens too
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr || !ValidPipe(pipe)) return 0;
    const std::vector<std::uint8_t> report = PadReport(buffer, length, adapter->reportSize[pipe]);
    if (report.empty()) return 0;
    const long written =
        CurrentLinuxSyscalls().Write(adapter->fd[pipe], report.data(), report.size());
    if (written != static_cast<long>(report.size())) return 0;
    if (pipe == kIowPipeI2c) adapter->lastRequestId = buffer[0];
    return length;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr || !ValidPipe(pipe) || buffer == nullptr || length == 0) return 0;
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    const auto deadline = Clock::now() + std::chrono::milliseconds(TheBackend().timeoutMs);
    std::vector<std::uint8_t> report(adapter->reportSize[pipe]);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready =
            sys.WaitReadable(adapter->fd[pipe], static_cast<int>(std::max<long>(0, left.count())));
        if (ready <= 0) return 0;  // time-out, or the adapter is gone
        const long got = sys.Read(adapter->fd[pipe], report.data(), report.size());
        if (got <= 0) return 0;
        if (pipe == kIowPipeI2c && !IsReplyTo(adapter->lastRequestId, report[0])) {
            continue;  // a late reply to an earlier request
        }
        const std::uint32_t count =
            std::min<std::uint32_t>(length, static_cast<std::uint32_t>(got));
        std::copy_n(report.begin(), count, buffer);
        return count;
    }
}

std::uint32_t IowKitGetProductId(IowKitHandle handle) {
    const OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    return adapter != nullptr ? adapter->productId : 0;
}

std::uint32_t IowKitGetRevision(IowKitHandle handle) {
    const OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    return adapter != nullptr ? adapter->revision : 0;
}

bool IowKitGetSerialNumber(IowKitHandle handle, std::uint8_t* buffer) {
    const OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr || buffer == nullptr) return false;
    WriteSerialAsUtf16(adapter->serial, buffer);
    return true;
}

std::uint32_t IowKitGetNumDevs() { return TheBackend().handles.NewestGroupSize(); }

IowKitHandle IowKitGetDeviceHandle(std::uint32_t deviceNumber) {
    return TheBackend().handles.NewestGroupHandle(deviceNumber);
}
