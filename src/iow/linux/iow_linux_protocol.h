#pragma once

// The wire side of the Linux backend: what the kernel's iowarrior driver exchanges with user
// space. Plain functions, tested without a device.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::iow {

inline constexpr char kDeviceFolder[] = "/dev/usb";
inline constexpr char kNodePrefix[] = "iowarrior";

// struct iowarrior_info of the kernel's ABI (drivers/usb/misc/iowarrior.c); no header ships
// it to user space.
struct IowarriorInfo {
    std::uint32_t vendor;
    std::uint32_t product;
    std::uint8_t serial[9];  // zero-terminated text, empty when the chip has none
    std::uint32_t revision;
    std::uint32_t speed;
    std::uint32_t power;
    std::uint32_t if_num;  // USB interface of the node: 0 IO ports, 1 the special functions
    std::uint32_t report_size;
};
static_assert(sizeof(IowarriorInfo) == 40, "layout of struct iowarrior_info");

// _IOR(0xC0, 3, struct iowarrior_info): direction read (2) << 30 | size << 16 | type << 8 | nr.
inline constexpr unsigned long kIowGetInfoRequest =
    (2UL << 30) | (sizeof(IowarriorInfo) << 16) | (0xC0UL << 8) | 3UL;

// The driver's report queue holds this many unread reports per node.
inline constexpr int kDriverQueuedReports = 16;

struct DeviceNode {
    std::string path;
    IowarriorInfo info;
};

// One adapter: its two nodes, interface 0 (pipe 0) and interface 1 (pipe 1, I2C).
struct AdapterNodes {
    DeviceNode pipe0;
    DeviceNode pipe1;
    std::string serial;
};

// The serial number of a node as text (up to the first zero byte).
std::string SerialOf(const IowarriorInfo& info);

// Orders node paths as the driver numbers them: iowarrior2 before iowarrior10.
void SortNodePaths(std::vector<std::string>& paths);

// Pairs the two nodes of each adapter: nodes of the same product and serial number, one of
// interface 0 and one of interface 1. Nodes of chips without a serial number pair with the
// next node of the other interface in listing order. Nodes left without a partner are left
// out. The result keeps the order of each adapter's first node.
std::vector<AdapterNodes> PairNodes(const std::vector<DeviceNode>& nodes);

// The bytes to write for an `length`-byte report on a node whose reports are `reportSize`
// bytes: the report padded with zeros. Empty when the report does not fit.
std::vector<std::uint8_t> PadReport(const std::uint8_t* report, std::size_t length,
                                    std::size_t reportSize);

}  // namespace quillon::iow
