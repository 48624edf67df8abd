#pragma once

// The wire side of the Linux backend: what the kernel's iowarrior driver exchanges with user
// space. Plain functions, tested without a device.

#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillon::iow {

inline constexpr char kDeviceFolder[] = "/dev/usb";
inline constexpr char kNodePrefix[] = "iowarrior";
// Present while the driver is loaded (as a module or built in).
inline constexpr char kSysfsDriverFolder[] = "/sys/bus/usb/drivers/iowarrior";
// Each node's USB interface in sysfs: <folder>/iowarriorN/device; its parent is the USB device.
inline constexpr char kSysfsClassFolder[] = "/sys/class/usbmisc";

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

// The driver's IOW_GETINFO. The driver has no compat ioctl: a 32-bit program on a 64-bit
// kernel gets ENOTTY and reads the same facts from sysfs (InfoFromSysfs).
inline constexpr unsigned long kIowGetInfoRequest = _IOR(0xC0, 3, IowarriorInfo);

// USB product ids of the IO-Warrior family that the driver serves.
inline constexpr std::uint32_t kProductIow40 = 0x1500;
inline constexpr std::uint32_t kProductIow24 = 0x1501;
inline constexpr std::uint32_t kProductIow56 = 0x1503;
inline constexpr std::uint32_t kProductIow28 = 0x1504;
inline constexpr std::uint32_t kProductIow28L = 0x1505;
inline constexpr std::uint32_t kProductIow100 = 0x1506;
inline constexpr std::uint32_t kProductIow56Am = 0x158B;
inline constexpr std::uint32_t kProductIowPv1 = 0x1511;  // IO-Warrior 24 Power Vampire
inline constexpr std::uint32_t kProductIowPv2 = 0x1512;
inline constexpr std::uint32_t kProductIow24Sag = 0x158A;

// Whether this program drives the product's I2C function: the IO-Warrior 24, 40 and 56 and
// their variants have it on interface 1 (docs/iowarrior-i2c.md). The IO-Warrior 28 and 100 have
// it on an interface of its own, which this program does not drive.
bool DrivesI2c(std::uint32_t product);

// The product in words, for a message: "IO-Warrior 28 (0x1504)".
std::string ProductName(std::uint32_t product);

struct DeviceNode {
    std::string path;
    IowarriorInfo info;
    // The USB device that the node's interface belongs to (its canonical sysfs folder); empty
    // when sysfs does not tell.
    std::string usbDevice;
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

// Pairs the two nodes of each adapter, one of interface 0 and one of interface 1: nodes of the
// same USB device. Where sysfs did not name the device, nodes of the same product and serial
// number; chips without a serial number are then not paired, since node numbers come from a
// table that every usbmisc driver shares and say nothing about which nodes belong together.
// Nodes left without a partner are left out. The result keeps the order of each adapter's
// first node.
std::vector<AdapterNodes> PairNodes(const std::vector<DeviceNode>& nodes);

// The driver's report size of a node: interface 0 of the IOW56, IOW28 and IOW100 has reports
// shorter than its endpoint; every other node's report is its interrupt-in endpoint's size.
std::uint32_t DriverReportSize(std::uint32_t product, std::uint32_t ifNum,
                               std::uint32_t endpointBytes);

// The sysfs folder of a node's USB interface: /sys/class/usbmisc/iowarriorN/device.
std::string SysfsInterfaceFolder(const std::string& nodePath);

// A sysfs number written in hexadecimal ("1501\n"); nothing when it is not one.
std::optional<std::uint32_t> ParseSysfsHex(const std::string& text);

// What IOW_GETINFO would tell, from sysfs. `read` gives the text of a file named relative to
// the interface folder ("bInterfaceNumber", "../idProduct"), empty when it is missing. False
// when a fact that the backend needs (interface, product, report size) is missing.
bool InfoFromSysfs(const std::function<std::string(const std::string&)>& read, IowarriorInfo& info);

// The bytes to write for an `length`-byte report on a node whose reports are `reportSize`
// bytes: the report padded with zeros. Empty when the report does not fit.
std::vector<std::uint8_t> PadReport(const std::uint8_t* report, std::size_t length,
                                    std::size_t reportSize);

}  // namespace quillon::iow
