#pragma once

// Plays the kernel's iowarrior driver for the Linux backend: device nodes, IOW_GETINFO,
// fixed-size reports, a queue of at most 16 unread reports, EBUSY on a second open, ENODEV
// once unplugged. Interface 1 of its adapter is the emulated I2C function of a
// VirtualAdapter, so the same faults apply as on the virtual backend.

#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>

#include "iow/linux/linux_syscalls.h"
#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

class FakeIowarriorDriver : public LinuxSyscalls {
  public:
    struct Node {
        std::string path;
        IowarriorInfo info{};
        bool open = false;
        bool onModel = true;  // the model's nodes vanish when it is unplugged
        std::deque<VirtualAdapter::Reply> queue;
        std::vector<std::vector<std::uint8_t>> writes;  // every report as written
    };

    VirtualAdapter model;
    std::vector<Node> nodes;

    // Adds the model adapter's two nodes, numbered `firstMinor` and `firstMinor + 1`.
    void AddModelAdapter(std::uint32_t product, std::uint32_t reportSize, int firstMinor = 0) {
        for (std::uint32_t ifNum = 0; ifNum < 2; ++ifNum) {
            nodes.push_back(MakeNode(firstMinor + static_cast<int>(ifNum), product,
                                     model.SerialNumber(), ifNum, ifNum == 0 ? 8 : reportSize));
        }
    }

    static Node MakeNode(int minor, std::uint32_t product, const std::string& serial,
                         std::uint32_t ifNum, std::uint32_t reportSize) {
        Node node;
        node.path = "/dev/usb/iowarrior" + std::to_string(minor);
        node.info.vendor = 0x07C0;
        node.info.product = product;
        std::strncpy(reinterpret_cast<char*>(node.info.serial), serial.c_str(), 8);
        node.info.revision = VirtualAdapter::kRevision;
        node.info.if_num = ifNum;
        node.info.report_size = reportSize;
        return node;
    }

    Node* ByFd(int fd) {
        return fd >= 100 && fd < 100 + static_cast<int>(nodes.size()) ? &nodes[fd - 100] : nullptr;
    }
    bool Gone(const Node& node) const { return node.onModel && !model.Connected(); }

    std::vector<std::string> ListDeviceNodes() override {
        std::vector<std::string> paths;
        for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {  // the kernel's order is none
            if (!Gone(*it)) paths.push_back(it->path);
        }
        return paths;
    }
    int Open(const std::string& path) override {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i].path != path || Gone(nodes[i])) continue;
            if (nodes[i].open) return -EBUSY;
            nodes[i].open = true;
            nodes[i].queue.clear();
            return 100 + static_cast<int>(i);
        }
        return -ENOENT;
    }
    void Close(int fd) override {
        if (Node* node = ByFd(fd)) node->open = false;
    }
    int GetInfo(int fd, IowarriorInfo& info) override {
        Node* node = ByFd(fd);
        if (node == nullptr) return -EBADF;
        info = node->info;
        return 0;
    }
    long Write(int fd, const std::uint8_t* bytes, std::size_t length) override {
        Node* node = ByFd(fd);
        if (node == nullptr || !node->open) return -EBADF;
        if (Gone(*node)) return -ENODEV;
        if (length != node->info.report_size) return -EINVAL;
        node->writes.emplace_back(bytes, bytes + length);
        if (!node->onModel) return static_cast<long>(length);
        std::optional<VirtualAdapter::Reply> reply;
        // The emulated function takes the report's first 8 bytes, as an IO-Warrior 24 would.
        if (!model.Receive(node->info.if_num, bytes, VirtualAdapter::kReportBytes, Clock::now(),
                           reply)) {
            return -ENODEV;
        }
        if (reply && node->queue.size() < kDriverQueuedReports) node->queue.push_back(*reply);
        return static_cast<long>(length);
    }
    int WaitReadable(int fd, int timeoutMs) override {
        Node* node = ByFd(fd);
        if (node == nullptr) return -EBADF;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (Gone(*node)) return -ENODEV;
        if (!node->queue.empty() && node->queue.front().readyAt <= deadline) {
            std::this_thread::sleep_until(node->queue.front().readyAt);
            return 1;
        }
        if (!model.InstantTimeouts()) std::this_thread::sleep_until(deadline);
        return 0;
    }
    long Read(int fd, std::uint8_t* bytes, std::size_t length) override {
        Node* node = ByFd(fd);
        if (node == nullptr) return -EBADF;
        if (Gone(*node)) return -ENODEV;
        if (length != node->info.report_size && length != node->info.report_size + 1)
            return -EINVAL;
        if (node->queue.empty()) return -EAGAIN;
        std::memset(bytes, 0, length);
        const auto reply = node->queue.front();
        node->queue.pop_front();
        std::copy(reply.bytes.begin(), reply.bytes.end(), bytes);
        model.RecordRead(node->info.if_num, reply.bytes.data(), reply.bytes.size());
        return static_cast<long>(length);
    }
};

}  // namespace quillon::iow
