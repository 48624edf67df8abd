// The adapter backend over the kernel's iowarrior driver. Each adapter is two device nodes,
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

#include "iow/adapter_backend.h"
#include "iow/iowkit.h"
#include "iow/linux/iow_linux_protocol.h"
#include "iow/linux/linux_syscalls.h"
#include "iow/reply_sync.h"

namespace quillon::iow {
namespace {

using Clock = std::chrono::steady_clock;
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

// I2C nodes closed while a reply was still due: it may wait in the ring at the next open.
class OutstandingReplies {
  public:
    void Add(const std::string& node) {
        const std::lock_guard lock(mutex_);
        nodes_.insert(node);
    }
    bool Take(const std::string& node) {
        const std::lock_guard lock(mutex_);
        return nodes_.erase(node) > 0;
    }

  private:
    std::mutex mutex_;
    std::set<std::string> nodes_;
};

OutstandingReplies& TheOutstandingReplies() {
    static OutstandingReplies replies;
    return replies;
}

// An adapter's two nodes, open.
class LinuxAdapter final : public OpenAdapter {
  public:
    LinuxAdapter(const AdapterNodes& pair, int fd0, int fd1)
        : fd_{fd0, fd1}, i2cNode_(pair.pipe1.path + " " + pair.pipe1.usbDevice) {
        facts_.reportBytes[0] = pair.pipe0.info.report_size;
        facts_.reportBytes[1] = pair.pipe1.info.report_size;
        facts_.productId = pair.pipe1.info.product;
        facts_.revision = pair.pipe1.info.revision;
        facts_.serial = pair.serial;
        sync_.SetOutstanding(TheOutstandingReplies().Take(i2cNode_));
        // Reports left unread in the rings answer nothing of ours.
        for (std::uint32_t pipe = 0; pipe < 2; ++pipe) {
            NodeQueue queue = Queue(pipe);
            DiscardQueued(queue);
        }
    }
    ~LinuxAdapter() override {
        if (sync_.Outstanding()) TheOutstandingReplies().Add(i2cNode_);
        sys_.Close(fd_[0]);
        sys_.Close(fd_[1]);
    }
    LinuxAdapter(const LinuxAdapter&) = delete;
    LinuxAdapter& operator=(const LinuxAdapter&) = delete;

    const AdapterFacts& Facts() const override { return facts_; }
    void SetTimeout(std::uint32_t timeoutMs) override {
        timeoutMs_ = timeoutMs;
        sync_.SetQuietMs(static_cast<int>(timeoutMs));
    }

    std::uint32_t Write(std::uint32_t pipe, const std::uint8_t* buffer,
                        std::uint32_t length) override {
        const std::vector<std::uint8_t> report =
            PadReport(buffer, length, facts_.reportBytes[pipe]);
        if (report.empty()) return 0;
        NodeQueue queue = Queue(pipe);
        if (pipe == kIowPipeI2c && !sync_.BeforeRequest(queue)) return 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_.load());
        for (;;) {
            const long written = sys_.Write(fd_[pipe], report.data(), report.size());
            if (written == static_cast<long>(report.size())) break;
            if (written == -EINTR) continue;
            // An IOW24's control request that timed out may have reached the chip: its reply
            // may still come, so the next request first waits for quiet.
            if (written == -ETIMEDOUT && pipe == kIowPipeI2c) sync_.SetOutstanding(true);
            if (written != -EAGAIN) return 0;
            // Four reports under way: wait, within the time-out, until one has gone out.
            const int revents = PollUntil(sys_, fd_[pipe], POLLOUT, deadline);
            if (revents <= 0 || (revents & kNodeGone) != 0) return 0;
        }
        if (pipe == kIowPipeI2c) sync_.RequestSent(buffer[0]);
        return length;
    }

    std::uint32_t Read(std::uint32_t pipe, std::uint8_t* buffer, std::uint32_t length) override {
        NodeQueue queue = Queue(pipe);
        const int timeoutMs = static_cast<int>(timeoutMs_.load());
        std::vector<std::uint8_t> report;
        if (pipe == kIowPipeI2c) {
            report = sync_.AwaitReply(queue, timeoutMs);
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

  private:
    NodeQueue Queue(std::uint32_t pipe) { return {sys_, fd_[pipe], facts_.reportBytes[pipe]}; }

    LinuxSyscalls& sys_ = CurrentLinuxSyscalls();
    int fd_[2];
    std::string i2cNode_;  // path and USB device: who it is across opens
    AdapterFacts facts_;
    std::atomic<std::uint32_t> timeoutMs_ = 1000;
    ReplySync sync_{static_cast<int>(timeoutMs_)};
};

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

// Opens the nodes at `paths` (their facts from GETINFO, or sysfs) and pairs them into adapters;
// nodes left without a partner are closed again.
std::vector<std::unique_ptr<OpenAdapter>> OpenNodes(const std::vector<std::string>& paths) {
    LinuxSyscalls& sys = CurrentLinuxSyscalls();
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
    std::vector<std::unique_ptr<OpenAdapter>> adapters;
    for (const AdapterNodes& pair : PairNodes(nodes)) {
        if (!DrivesI2c(pair.pipe1.info.product)) continue;  // its nodes are closed below
        adapters.push_back(
            std::make_unique<LinuxAdapter>(pair, fds.at(pair.pipe0.path), fds.at(pair.pipe1.path)));
        fds.erase(pair.pipe0.path);
        fds.erase(pair.pipe1.path);
    }
    for (const auto& [path, fd] : fds) sys.Close(fd);  // nodes without a partner
    return adapters;
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

class LinuxBackend final : public AdapterBackend {
  public:
    std::vector<AttachedAdapter> List(bool tellAccess) override {
        LinuxSyscalls& sys = CurrentLinuxSyscalls();
        std::vector<AttachedAdapter> attached;
        for (const AdapterNodes& pair : AttachedNodes()) {
            AttachedAdapter adapter{pair.serial, pair.pipe1.info.product};
            if (!DrivesI2c(adapter.productId)) {
                adapter.access = AttachedAdapter::Access::Unsupported;
                adapter.productName = ProductName(adapter.productId);
            } else if (tellAccess) {
                const int fd = sys.Open(pair.pipe1.path, kOpenFlags);
                if (fd >= 0) sys.Close(fd);
                if (fd == -EBUSY) adapter.access = AttachedAdapter::Access::Held;
                if (fd == -EACCES || fd == -EPERM) adapter.access = AttachedAdapter::Access::Denied;
            }
            attached.push_back(adapter);
        }
        return attached;
    }

    std::vector<std::unique_ptr<OpenAdapter>> OpenAll() override {
        return OpenNodes(SortedNodePaths(CurrentLinuxSyscalls()));
    }

    std::unique_ptr<OpenAdapter> OpenSerial(const std::string& serial) override {
        for (const AdapterNodes& pair : AttachedNodes())
            if (!serial.empty() && pair.serial == serial) {
                auto opened = OpenNodes({pair.pipe0.path, pair.pipe1.path});
                return opened.empty() ? nullptr : std::move(opened.front());
            }
        return nullptr;
    }

    // The driver refuses a second open of a node with EBUSY; udev's rule decides who may open
    // it.
    NoAdapterReason WhyNone() override {
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
};

}  // namespace

AdapterBackend& TheBackend() {
    static LinuxBackend backend;
    return backend;
}

}  // namespace quillon::iow
