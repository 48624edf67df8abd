// The IowKit functions over the kernel's iowarrior driver. Each adapter is two device nodes,
// interface 0 (pipe 0) and interface 1 (pipe 1), opened non-blocking: the driver's read waits
// without a time-out on an empty ring, and its write waits for ever once four reports are
// under way on an IOW56/28/100 that stopped taking them. Every wait here is a poll bounded
// by the read time-out. Reports are padded to the node's report size on write; a reply longer
// than the caller's buffer is cut to it. Replies are tied to requests by reply_sync.h.
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "iow/adapter_choice.h"
#include "iow/handle_table.h"
#include "iow/iowkit.h"
#include "iow/linux/iow_linux_protocol.h"
#include "iow/linux/linux_syscalls.h"
#include "iow/no_adapter.h"
#include "iow/reply_sync.h"
#include "iow/report_size.h"
#include "iow/serial_number.h"

namespace quillon::iow {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

// poll(2) until `deadline`; an interrupted poll goes on with the time that is left. Returns
// revents, 0 on time-out, -errno on failure.
int PollUntil(LinuxSyscalls& sys, int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int result = sys.Poll(fd, events, MsUntil(deadline));
        if (result != -EINTR) return result;
    }
}

constexpr int kNodeGone = POLLERR | POLLHUP | POLLNVAL;

// One node's ring in the driver.
class NodeQueue : public ReportQueue {
  public:
    NodeQueue(LinuxSyscalls& sys, int fd, std::uint32_t reportSize)
        : sys_(sys), fd_(fd), reportSize_(reportSize) {}
    Take TryTake(std::vector<std::uint8_t>& report) override {
        report.resize(reportSize_);
        for (;;) {
            const long got = sys_.Read(fd_, report.data(), report.size());
            if (got > 0) {
                report.resize(static_cast<std::size_t>(got));
                return Take::Got;
            }
            if (got == -EINTR) continue;
            return got == -EAGAIN ? Take::Empty : Take::Gone;
        }
    }
    Wait WaitQueued(int timeoutMs) override {
        const int revents =
            PollUntil(sys_, fd_, POLLIN, Clock::now() + std::chrono::milliseconds(timeoutMs));
        if (revents < 0 || (revents & kNodeGone) != 0) return Wait::Gone;
        return (revents & POLLIN) != 0 ? Wait::Ready : Wait::TimedOut;
    }

  private:
    LinuxSyscalls& sys_;
    int fd_;
    std::uint32_t reportSize_;
};

struct OpenLinuxAdapter {
    int fd[2] = {-1, -1};
    std::uint32_t reportSize[2] = {0, 0};
    std::uint32_t productId = 0;
    std::uint32_t revision = 0;
    std::string serial;
    std::string i2cNode;  // path and USB device: who it is across opens
    ReplySync sync{static_cast<int>(kDefaultTimeoutMs)};
};

// Shared by every handle, so each member is safe to use from several threads at once.
struct Backend {
    HandleTable<OpenLinuxAdapter> handles;
    std::atomic<std::uint32_t> timeoutMs = kDefaultTimeoutMs;
    // I2C nodes closed while a reply was still due: it may wait in the ring at the next open.
    std::mutex outstandingMutex;
    std::set<std::string> outstandingReplies;
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

bool ValidPipe(std::uint32_t pipe) { return pipe == kIowPipeIoPorts || pipe == kIowPipeI2c; }

// GETINFO, or the same facts from sysfs where the ioctl is not there for this program.
// What GETINFO would tell of the node at `path`, from its interface's sysfs folder.
bool NodeInfoFromSysfs(LinuxSyscalls& sys, const std::string& path, IowarriorInfo& info) {
    const std::string folder = SysfsInterfaceFolder(path);
    return InfoFromSysfs(
        [&](const std::string& file) { return sys.ReadTextFile(folder + "/" + file); }, info);
}

// The driver's nodes, in its order.
std::vector<std::string> SortedNodePaths(LinuxSyscalls& sys) {
    std::vector<std::string> paths = sys.ListDeviceNodes();
    SortNodePaths(paths);
    return paths;
}

bool ReadNodeInfo(LinuxSyscalls& sys, int fd, DeviceNode& node) {
    const int result = sys.GetInfo(fd, node.info);
    if (result == -ENOTTY) {
        if (!NodeInfoFromSysfs(sys, node.path, node.info)) return false;
    } else if (result != 0) {
        return false;
    }
    return node.info.report_size != 0;
}

}  // namespace

// The driver refuses a second open of a node with EBUSY; udev's rule decides who may open it.
NoAdapterReason WhyNoAdapter() {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    const std::vector<std::string> paths = sys.ListDeviceNodes();
    if (paths.empty())
        return sys.CanonicalPath(kSysfsDriverFolder).empty() ? NoAdapterReason::DriverNotLoaded
                                                             : NoAdapterReason::NoneAttached;
    bool busy = false;
    bool denied = false;
    for (const std::string& path : paths) {
        const int fd = sys.Open(path, kOpenFlags);
        if (fd >= 0) sys.Close(fd);
        busy = busy || fd == -EBUSY;
        denied = denied || fd == -EACCES || fd == -EPERM;
    }
    if (denied) return NoAdapterReason::NoPermission;
    return busy ? NoAdapterReason::Busy : NoAdapterReason::NoneAttached;
}

}  // namespace quillon::iow

using namespace quillon::iow;

namespace {

// Opens the nodes at `paths` (their facts from GETINFO, or sysfs), pairs them into adapters and
// adds those as one group; nodes left without a partner are closed again.
IowKitHandle OpenNodes(const std::vector<std::string>& paths) {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    Backend& backend = TheBackend();
    std::vector<DeviceNode> nodes;
    std::map<std::string, int> fds;
    for (const std::string& path : paths) {
        const int fd = sys.Open(path, kOpenFlags);
        if (fd < 0) continue;  // busy (held by another program) or no permission
        DeviceNode node{path, {}, sys.CanonicalPath(SysfsInterfaceFolder(path) + "/..")};
        if (!ReadNodeInfo(sys, fd, node)) {
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
        adapter->i2cNode = pair.pipe1.path + " " + pair.pipe1.usbDevice;
        adapter->sync.SetQuietMs(static_cast<int>(backend.timeoutMs));
        {
            const std::lock_guard lock(backend.outstandingMutex);
            adapter->sync.SetOutstanding(backend.outstandingReplies.erase(adapter->i2cNode) > 0);
        }
        // Reports left unread in the rings answer nothing of ours.
        for (int pipe = 0; pipe < 2; ++pipe) {
            NodeQueue queue(sys, adapter->fd[pipe], adapter->reportSize[pipe]);
            DiscardQueued(queue);
        }
        adapters.push_back(std::move(adapter));
    }
    for (const auto& [path, fd] : fds) sys.Close(fd);  // nodes without a partner
    return backend.handles.AddGroup(std::move(adapters));
}

// Every node's facts from sysfs alone, without opening it, paired into adapters.
std::vector<AdapterNodes> AttachedNodes() {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    std::vector<DeviceNode> nodes;
    for (const std::string& path : SortedNodePaths(sys)) {
        DeviceNode node{path, {}, sys.CanonicalPath(SysfsInterfaceFolder(path) + "/..")};
        if (NodeInfoFromSysfs(sys, path, node.info)) nodes.push_back(node);
    }
    return PairNodes(nodes);
}

}  // namespace

IowKitHandle IowKitOpenDevice() { return OpenNodes(SortedNodePaths(CurrentLinuxSyscalls())); }

std::vector<AttachedAdapter> quillon::iow::ListAttachedAdapters(bool tellAccess) {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    std::vector<AttachedAdapter> attached;
    for (const AdapterNodes& pair : AttachedNodes()) {
        AttachedAdapter adapter{pair.serial, pair.pipe1.info.product};
        if (!tellAccess) {
            attached.push_back(adapter);
            continue;
        }
        const int fd = sys.Open(pair.pipe1.path, kOpenFlags);
        if (fd >= 0) sys.Close(fd);
        if (fd == -EBUSY) adapter.access = AttachedAdapter::Access::Held;
        if (fd == -EACCES || fd == -EPERM) adapter.access = AttachedAdapter::Access::Denied;
        attached.push_back(adapter);
    }
    return attached;
}

IowKitHandle quillon::iow::OpenAdapterWithSerial(const std::string& serial) {
    for (const AdapterNodes& pair : AttachedNodes())
        if (!serial.empty() && pair.serial == serial)
            return OpenNodes({pair.pipe0.path, pair.pipe1.path});
    return 0;
}

void IowKitCloseDevice(IowKitHandle handle) {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    Backend& backend = TheBackend();
    for (const auto& adapter : backend.handles.RemoveGroupOf(handle)) {
        if (adapter->sync.Outstanding()) {
            const std::lock_guard lock(backend.outstandingMutex);
            backend.outstandingReplies.insert(adapter->i2cNode);
        }
        sys.Close(adapter->fd[0]);
        sys.Close(adapter->fd[1]);
    }
}

bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs) {
    OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr) return false;
    TheBackend().timeoutMs = timeoutMs;  // kept for later opens too
    adapter->sync.SetQuietMs(static_cast<int>(timeoutMs));
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr || !ValidPipe(pipe)) return 0;
    const std::vector<std::uint8_t> report = PadReport(buffer, length, adapter->reportSize[pipe]);
    if (report.empty()) return 0;
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    const int fd = adapter->fd[pipe];
    NodeQueue queue(sys, fd, adapter->reportSize[pipe]);
    if (pipe == kIowPipeI2c && !adapter->sync.BeforeRequest(queue)) return 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(TheBackend().timeoutMs.load());
    for (;;) {
        const long written = sys.Write(fd, report.data(), report.size());
        if (written == static_cast<long>(report.size())) break;
        if (written == -EINTR) continue;
        // An IOW24's control request that timed out may have reached the chip: its reply
        // may still come, so the next request first waits for quiet.
        if (written == -ETIMEDOUT && pipe == kIowPipeI2c) adapter->sync.SetOutstanding(true);
        if (written != -EAGAIN) return 0;
        // Four reports under way: wait, within the time-out, until one has gone out.
        const int revents = PollUntil(sys, fd, POLLOUT, deadline);
        if (revents <= 0 || (revents & kNodeGone) != 0) return 0;
    }
    if (pipe == kIowPipeI2c) adapter->sync.RequestSent(buffer[0]);
    return length;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    if (adapter == nullptr || !ValidPipe(pipe) || buffer == nullptr || length == 0) return 0;
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
    NodeQueue queue(sys, adapter->fd[pipe], adapter->reportSize[pipe]);
    const int timeoutMs = static_cast<int>(TheBackend().timeoutMs);
    std::vector<std::uint8_t> report;
    if (pipe == kIowPipeI2c) {
        report = adapter->sync.AwaitReply(queue, timeoutMs);
    } else if (queue.TryTake(report) != ReportQueue::Take::Got) {
        // The IO ports report a change of their pins; nothing ties them to a request.
        report.clear();
        if (queue.WaitQueued(timeoutMs) != ReportQueue::Wait::Ready ||
            queue.TryTake(report) != ReportQueue::Take::Got)
            report.clear();
    }
    const std::uint32_t count =
        std::min<std::uint32_t>(length, static_cast<std::uint32_t>(report.size()));
    std::copy_n(report.begin(), count, buffer);
    return count;
}

std::uint32_t quillon::iow::ReportBytes(IowKitHandle handle, std::uint32_t pipe) {
    const OpenLinuxAdapter* adapter = TheBackend().handles.Find(handle);
    return adapter != nullptr && ValidPipe(pipe) ? adapter->reportSize[pipe] : 0;
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
