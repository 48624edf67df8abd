#pragma once

// Plays the kernel's iowarrior driver (drivers/usb/misc/iowarrior.c) for the Linux backend,
// as unkindly as the driver itself: each node's ring of 16 slots holds 15 reports and drops
// the oldest when full, ties no report to a request and survives close and open; a reply can
// arrive after the next request went out; read and write block unless the descriptor is
// non-blocking (recorded as a violation instead of hanging the test); the IOW56/28/100 write
// on an interrupt-out endpoint with four reports under way at most, the others as a control
// request that fails after one second when the chip takes nothing; a node is gone (ENODEV)
// once its adapter is unplugged. Interface 1 is the I2C function of a VirtualAdapter.

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

#include "iow/linux/linux_syscalls.h"
#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

class FakeIowarriorDriver : public LinuxSyscalls {
  public:
    struct Node {
        std::string path;
        IowarriorInfo info{};
        std::uint32_t endpointBytes = 0;
        bool open = false;
        std::uint32_t plugCount = 0;
        std::deque<std::vector<std::uint8_t>> ring;
        std::deque<VirtualAdapter::Reply> pending;        // replies not yet arrived
        std::vector<std::vector<std::uint8_t>> inFlight;  // interrupt-out writes not completed
        std::vector<std::vector<std::uint8_t>> writes;    // every report as written
        std::uint8_t sequence = 0;                        // the driver's byte after each report
    };

    VirtualAdapter model;
    std::vector<Node> nodes;
    std::vector<std::string> violations;  // calls that would block for ever on the real driver
    bool getInfoNotSupported = false;     // IOW_GETINFO answers ENOTTY (a 32-bit program)
    int interruptedPolls = 0;             // the next polls return EINTR

    // The model adapter's two nodes; interface 0's report size follows the product, as the
    // driver's does.
    void AddModelAdapter(std::uint32_t product, std::uint32_t i2cEndpointBytes) {
        for (std::uint32_t ifNum : {0u, 1u}) {
            Node& node = nodes.emplace_back();
            node.path = "/dev/usb/iowarrior" + std::to_string(nodes.size() - 1);
            node.endpointBytes = ifNum ? i2cEndpointBytes : WritesOnInterruptOut(product) ? 64 : 4;
            node.info = {
                0x07C0, product, {},    VirtualAdapter::kRevision,
                0,      0,       ifNum, DriverReportSize(product, ifNum, node.endpointBytes)};
            std::strncpy(reinterpret_cast<char*>(node.info.serial), model.SerialNumber().c_str(),
                         8);
            node.plugCount = model.PlugCount();
        }
    }

    std::vector<std::string> ListDeviceNodes() override {
        std::vector<std::string> paths;  // the kernel promises no order
        for (auto it = nodes.rbegin(); it != nodes.rend() && model.Connected(); ++it)
            paths.push_back(it->path);
        return paths;
    }
    int Open(const std::string& path, int flags) override {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            Node& node = nodes[i];
            if (node.path != path) continue;
            if (!model.Connected()) return -ENODEV;
            if (node.plugCount != model.PlugCount()) {  // replugged: a new device, nothing queued
                node = Node{node.path, node.info, node.endpointBytes, false, model.PlugCount()};
            }
            if (node.open) return -EBUSY;
            node.open = true;  // the ring is not reset: what was unread stays
            fds_[nextFd_] = {i, node.plugCount, (flags & O_NONBLOCK) != 0};
            return nextFd_++;
        }
        return -ENOENT;
    }
    void Close(int fd) override {
        if (!fds_.count(fd)) return;
        if (fds_[fd].plugCount == nodes[fds_[fd].node].plugCount) nodes[fds_[fd].node].open = false;
        fds_.erase(fd);
    }
    int GetInfo(int fd, IowarriorInfo& info) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (getInfoNotSupported) return -ENOTTY;
        return info = node->info, 0;
    }
    long Write(int fd, const std::uint8_t* bytes, std::size_t length) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (length != node->info.report_size) return length == 0 ? 0 : -EINVAL;
        const bool interruptOut = WritesOnInterruptOut(node->info.product);
        CompleteWrites(*node);
        if (interruptOut && node->inFlight.size() >= kWritesInFlight)
            return Blocks(fd, "write"), -EAGAIN;
        if (!model.TakingReports() && interruptOut) {  // completes once the chip takes it
            node->inFlight.emplace_back(bytes, bytes + length);
        } else if (!model.TakingReports()) {
            if (!model.InstantTimeouts()) std::this_thread::sleep_for(std::chrono::seconds(1));
            return -ETIMEDOUT;  // usb_set_report's time-out
        } else if (!Deliver(*node, {bytes, bytes + length})) {
            return -ENODEV;
        }
        return static_cast<long>(length);
    }
    long Read(int fd, std::uint8_t* bytes, std::size_t length) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (length != node->info.report_size && length != node->info.report_size + 1)
            return -EINVAL;
        Arrive(*node);
        if (node->ring.empty()) return Blocks(fd, "read"), -EAGAIN;
        std::memcpy(bytes, node->ring.front().data(), length);
        model.RecordRead(node->info.if_num, node->ring.front().data(), 8);
        node->ring.pop_front();
        return static_cast<long>(length);
    }
    int Poll(int fd, short events, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (fds_.count(fd) == 0) return POLLNVAL;
        Node* node = Live(fd);
        if (node == nullptr) return POLLERR | POLLHUP;
        if (interruptedPolls > 0) return --interruptedPolls, -EINTR;
        CompleteWrites(*node);
        Arrive(*node);
        if ((Ready(*node) & events) == 0 && (events & POLLIN) && !node->pending.empty() &&
            node->pending.front().readyAt <= deadline) {
            std::this_thread::sleep_until(node->pending.front().readyAt);
            Arrive(*node);
        } else if ((Ready(*node) & events) == 0 && !model.InstantTimeouts()) {
            std::this_thread::sleep_until(deadline);
        }
        return Live(fd) == nullptr ? POLLERR | POLLHUP : Ready(*node) & events;
    }
    // The sysfs files of a node's interface and USB device, as the kernel shows them.
    std::string ReadTextFile(const std::string& path) override {
        for (const Node& node : nodes) {
            const std::string folder = SysfsInterfaceFolder(node.path) + "/";
            if (path.rfind(folder, 0) != 0) continue;
            const std::string file = path.substr(folder.size()),
                              ep = "ep_8" + std::to_string(1 + node.info.if_num);
            char text[16];
            const auto hex = [&](const char* format, unsigned value) {
                return std::snprintf(text, sizeof text, format, value), std::string(text);
            };
            if (file == "bInterfaceNumber") return hex("%02x\n", node.info.if_num);
            if (file == ep + "/type") return "Interrupt\n";
            if (file == ep + "/wMaxPacketSize") return hex("%04x\n", node.endpointBytes);
            if (file == "../idProduct") return hex("%04x\n", node.info.product);
            if (file == "../idVendor") return "07c0\n";
            if (file == "../bcdDevice") return hex("%04x\n", node.info.revision);
            if (file == "../serial") return model.SerialNumber() + "\n";
        }
        return {};
    }
    std::string CanonicalPath(const std::string&) override {
        return "/sys/devices/pci0000:00/usb1/1-1";
    }

  private:
    static constexpr std::size_t kRingReports = 15;    // MAX_INTERRUPT_BUFFER 16, one kept free
    static constexpr std::size_t kWritesInFlight = 4;  // MAX_WRITES_IN_FLIGHT
    struct OpenFile {
        std::size_t node;
        std::uint32_t plugCount;  // a file of an adapter that was unplugged stays dead
        bool nonBlocking;
    };

    Node* Live(int fd) {
        const auto it = fds_.find(fd);
        if (it == fds_.end() || !model.Connected() || it->second.plugCount != model.PlugCount())
            return nullptr;
        return &nodes[it->second.node];
    }
    void Blocks(int fd, const char* call) {
        if (!fds_[fd].nonBlocking)
            violations.push_back(std::string(call) +
                                 "(2) blocks for ever: " + nodes[fds_[fd].node].path);
    }
    // A report reaches the chip, whose function takes its first 8 bytes, as an IO-Warrior 24's
    // would. False when the adapter is gone.
    bool Deliver(Node& node, const std::vector<std::uint8_t>& report) {
        node.writes.push_back(report);
        std::optional<VirtualAdapter::Reply> reply;
        if (!model.Receive(node.info.if_num, report.data(), 8, Clock::now(), reply)) return false;
        if (reply) node.pending.push_back(*reply);
        return true;
    }
    // Once the chip takes reports again, the writes under way reach it, late.
    void CompleteWrites(Node& node) {
        if (!model.TakingReports()) return;
        for (const auto& report : std::exchange(node.inFlight, {})) Deliver(node, report);
    }
    // Replies whose time has come enter the ring while the node is open (the driver's
    // interrupt-in URB runs only then); a full ring drops its oldest report.
    void Arrive(Node& node) {
        while (node.open && !node.pending.empty() && node.pending.front().readyAt <= Clock::now()) {
            std::vector<std::uint8_t> report(node.info.report_size + 1, 0);
            std::copy(node.pending.front().bytes.begin(), node.pending.front().bytes.end(),
                      report.begin());
            report.back() = node.sequence++;
            node.pending.pop_front();
            if (node.ring.size() == kRingReports) node.ring.pop_front();
            node.ring.push_back(std::move(report));
        }
    }
    int Ready(const Node& node) const {
        return (node.ring.empty() ? 0 : POLLIN | POLLRDNORM) |
               (node.inFlight.size() < kWritesInFlight ? POLLOUT | POLLWRNORM : 0);
    }

    std::map<int, OpenFile> fds_;
    int nextFd_ = 100;
};

}  // namespace quillon::iow
