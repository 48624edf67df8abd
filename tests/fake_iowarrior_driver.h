#pragma once

// Plays the kernel's iowarrior driver (drivers/usb/misc/iowarrior.c) for the Linux backend,
// as unkindly as the driver itself: each node's ring of 16 slots holds 15 reports and drops
// the oldest when full, ties no report to a request and survives close and open; a reply can
// arrive after the next request went out; read and write block unless the descriptor is
// non-blocking (recorded as a violation instead of hanging the test); the IOW56/28/100 write
// on an interrupt-out endpoint with four reports under way at most, the others as a control
// request that fails after one second when the chip takes nothing; ioctl after unplug is
// ENODEV. Interface 1 of the model adapter is the emulated I2C function of a VirtualAdapter.

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
    static constexpr std::size_t kRingReports = 15;  // MAX_INTERRUPT_BUFFER 16, one kept free
    static constexpr int kWritesInFlight = 4;        // MAX_WRITES_IN_FLIGHT
    static constexpr auto kControlTimeout = std::chrono::seconds(1);  // usb_set_report's HZ

    struct Node {
        std::string path;
        IowarriorInfo info{};
        std::string usbDevice;  // sysfs folder of its USB device
        bool open = false;
        bool onModel = true;  // interface 1 answers from the model; vanishes when it is unplugged
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
    std::map<std::string, std::string> sysfsFiles;
    bool getInfoNotSupported = false;  // IOW_GETINFO answers ENOTTY (32-bit program)
    int interruptedPolls = 0;          // the next polls return EINTR

    // Adds the model adapter's two nodes: interface 0 numbered `firstMinor`, interface 1
    // numbered `i2cMinor` (firstMinor + 1 when negative). `i2cReportBytes` is the size of the
    // I2C node's endpoint; interface 0's report size follows the product, as the driver's.
    void AddModelAdapter(std::uint32_t product, std::uint32_t i2cReportBytes, int firstMinor = 0,
                         int i2cMinor = -1) {
        const std::string usb =
            "/sys/devices/pci0000:00/usb1/1-" + std::to_string(nodes.size() + 1);
        const std::uint32_t ioPortsEndpointBytes = WritesOnInterruptOut(product) ? 64 : 4;
        AddNode(firstMinor, product, model.SerialNumber(), 0, ioPortsEndpointBytes, usb, true);
        AddNode(i2cMinor < 0 ? firstMinor + 1 : i2cMinor, product, model.SerialNumber(), 1,
                i2cReportBytes, usb, true);
    }

    // Adds a node of some other adapter, which takes every report and answers none.
    Node& AddNode(int minor, std::uint32_t product, const std::string& serial, std::uint32_t ifNum,
                  std::uint32_t endpointBytes, const std::string& usbDevice, bool onModel = false) {
        Node node;
        node.path = "/dev/usb/iowarrior" + std::to_string(minor);
        node.info.vendor = 0x07C0;
        node.info.product = product;
        std::strncpy(reinterpret_cast<char*>(node.info.serial), serial.c_str(), 8);
        node.info.revision = VirtualAdapter::kRevision;
        node.info.if_num = ifNum;
        node.info.report_size = DriverReportSize(product, ifNum, endpointBytes);
        node.usbDevice = usbDevice;
        node.onModel = onModel;
        node.plugCount = model.PlugCount();
        // The same facts in sysfs, as the kernel shows them.
        const std::string dir = SysfsInterfaceFolder(node.path);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02x\n", ifNum);
        sysfsFiles[dir + "/bInterfaceNumber"] = hex;
        std::snprintf(hex, sizeof hex, "%04x\n", 0x81 + ifNum);
        sysfsFiles[dir + "/ep_8" + std::to_string(1 + ifNum) + "/type"] = "Interrupt\n";
        std::snprintf(hex, sizeof hex, "%04x\n", endpointBytes);
        sysfsFiles[dir + "/ep_8" + std::to_string(1 + ifNum) + "/wMaxPacketSize"] = hex;
        std::snprintf(hex, sizeof hex, "%04x\n", product);
        sysfsFiles[dir + "/../idProduct"] = hex;
        sysfsFiles[dir + "/../idVendor"] = "07c0\n";
        std::snprintf(hex, sizeof hex, "%04x\n", VirtualAdapter::kRevision);
        sysfsFiles[dir + "/../bcdDevice"] = hex;
        if (!serial.empty()) sysfsFiles[dir + "/../serial"] = serial + "\n";
        sysfsFiles["canonical:" + dir + "/.."] = usbDevice;
        nodes.push_back(node);
        return nodes.back();
    }

    // --- The driver's file operations ---
    std::vector<std::string> ListDeviceNodes() override {
        std::vector<std::string> paths;
        for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {  // the kernel's order is none
            if (!Gone(*it)) paths.push_back(it->path);
        }
        return paths;
    }
    int Open(const std::string& path, int flags) override {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            Node& node = nodes[i];
            if (node.path != path) continue;
            if (Gone(node)) return -ENODEV;
            Replugged(node);
            if (node.open) return -EBUSY;
            node.open = true;  // the ring is not reset: what was unread stays
            const int fd = nextFd_++;
            fds_[fd] = OpenFile{i, node.plugCount, (flags & O_NONBLOCK) != 0};
            return fd;
        }
        return -ENOENT;
    }
    void Close(int fd) override {
        const auto it = fds_.find(fd);
        if (it == fds_.end()) return;
        Node& node = nodes[it->second.node];
        if (it->second.plugCount == node.plugCount) node.open = false;
        fds_.erase(it);
    }
    int GetInfo(int fd, IowarriorInfo& info) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (getInfoNotSupported) return -ENOTTY;
        info = node->info;
        return 0;
    }
    long Write(int fd, const std::uint8_t* bytes, std::size_t length) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (length == 0) return 0;
        if (length != node->info.report_size) return -EINVAL;
        const bool interruptOut = WritesOnInterruptOut(node->info.product);
        const bool taking = model.TakingReports() || !node->onModel;
        CompleteWrites(*node);
        if (interruptOut && node->inFlight.size() >= kWritesInFlight) {
            if (!fds_[fd].nonBlocking)
                violations.push_back("write(2) blocks for ever: " + node->path);
            return -EAGAIN;
        }
        if (!taking) {
            if (interruptOut) {
                node->inFlight.emplace_back(bytes, bytes + length);  // completes once taken
                return static_cast<long>(length);
            }
            if (!model.InstantTimeouts()) std::this_thread::sleep_for(kControlTimeout);
            return -ETIMEDOUT;
        }
        return Deliver(*node, std::vector<std::uint8_t>(bytes, bytes + length))
                   ? static_cast<long>(length)
                   : -ENODEV;
    }
    long Read(int fd, std::uint8_t* bytes, std::size_t length) override {
        Node* node = Live(fd);
        if (node == nullptr) return fds_.count(fd) ? -ENODEV : -EBADF;
        if (length != node->info.report_size && length != node->info.report_size + 1)
            return -EINVAL;
        Deliver(*node);
        if (node->ring.empty()) {
            if (!fds_[fd].nonBlocking)
                violations.push_back("read(2) blocks for ever: " + node->path);
            return -EAGAIN;
        }
        std::vector<std::uint8_t> report = node->ring.front();
        node->ring.pop_front();
        std::memcpy(bytes, report.data(), length);
        model.RecordRead(node->info.if_num, report.data(), std::min<std::size_t>(report.size(), 8));
        return static_cast<long>(length);
    }
    int Poll(int fd, short events, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (fds_.count(fd) == 0) return POLLNVAL;
        Node* node = Live(fd);
        if (node == nullptr) return POLLERR | POLLHUP;
        if (interruptedPolls > 0) {
            --interruptedPolls;
            return -EINTR;
        }
        CompleteWrites(*node);
        Deliver(*node);
        int ready = Ready(*node) & events;
        if (ready != 0) return ready;
        if ((events & POLLIN) != 0 && !node->pending.empty() &&
            node->pending.front().readyAt <= deadline) {
            std::this_thread::sleep_until(node->pending.front().readyAt);
            Deliver(*node);
            return Ready(*node) & events;
        }
        if (!model.InstantTimeouts()) std::this_thread::sleep_until(deadline);
        return Live(fd) == nullptr ? POLLERR | POLLHUP : 0;
    }
    std::string ReadTextFile(const std::string& path) override {
        const auto it = sysfsFiles.find(path);
        return it == sysfsFiles.end() ? std::string() : it->second;
    }
    std::string CanonicalPath(const std::string& path) override {
        return ReadTextFile("canonical:" + path);
    }

  private:
    struct OpenFile {
        std::size_t node;
        std::uint32_t plugCount;  // a file of an adapter that was unplugged stays dead
        bool nonBlocking;
    };

    bool Gone(const Node& node) const { return node.onModel && !model.Connected(); }
    // A replugged adapter is a new device: nothing of the old one is queued.
    void Replugged(Node& node) {
        if (!node.onModel || node.plugCount == model.PlugCount()) return;
        Node fresh;
        fresh.path = node.path;
        fresh.info = node.info;
        fresh.usbDevice = node.usbDevice;
        fresh.plugCount = model.PlugCount();
        node = std::move(fresh);
    }
    Node* Live(int fd) {
        const auto it = fds_.find(fd);
        if (it == fds_.end()) return nullptr;
        Node& node = nodes[it->second.node];
        if (Gone(node) || (node.onModel && it->second.plugCount != model.PlugCount()))
            return nullptr;
        return &node;
    }
    // A report reaches the chip; the emulated function takes its first 8 bytes, as an
    // IO-Warrior 24 would. False when the adapter is gone.
    bool Deliver(Node& node, const std::vector<std::uint8_t>& report) {
        node.writes.push_back(report);
        if (!node.onModel) return true;
        std::optional<VirtualAdapter::Reply> reply;
        if (!model.Receive(node.info.if_num, report.data(), VirtualAdapter::kReportBytes,
                           Clock::now(), reply))
            return false;
        if (reply) node.pending.push_back(*reply);
        return true;
    }
    // Once the chip takes reports again, the writes under way reach it, late.
    void CompleteWrites(Node& node) {
        if (!model.TakingReports()) return;
        auto inFlight = std::move(node.inFlight);
        node.inFlight.clear();
        for (const auto& report : inFlight) Deliver(node, report);
    }
    // Replies whose time has come enter the ring, while the node is open (the driver's
    // interrupt-in URB runs only then); a full ring drops its oldest report.
    void Deliver(Node& node) {
        if (!node.open) return;
        while (!node.pending.empty() && node.pending.front().readyAt <= Clock::now()) {
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
        int mask = node.ring.empty() ? 0 : POLLIN | POLLRDNORM;
        if (node.inFlight.size() < kWritesInFlight) mask |= POLLOUT | POLLWRNORM;
        return mask;
    }

    std::map<int, OpenFile> fds_;
    int nextFd_ = 100;
};

}  // namespace quillon::iow
