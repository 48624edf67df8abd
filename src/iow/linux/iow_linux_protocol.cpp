#include "iow/linux/iow_linux_protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quillon::iow {

std::string SerialOf(const IowarriorInfo& info) {
    std::string serial;
    for (std::uint8_t c : info.serial) {
        if (c == 0) break;
        serial.push_back(static_cast<char>(c));
    }
    return serial;
}

namespace {
// The number at the end of a node path; -1 when there is none.
long TrailingNumber(const std::string& path) {
    std::size_t start = path.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(path[start - 1]))) --start;
    if (start == path.size()) return -1;
    return std::stol(path.substr(start, 9));
}
}  // namespace

void SortNodePaths(std::vector<std::string>& paths) {
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        const long na = TrailingNumber(a);
        const long nb = TrailingNumber(b);
        return na != nb ? na < nb : a < b;
    });
}

std::vector<AdapterNodes> PairNodes(const std::vector<DeviceNode>& nodes) {
    const auto sameAdapter = [](const DeviceNode& a, const DeviceNode& b) {
        if (!a.usbDevice.empty() && !b.usbDevice.empty()) return a.usbDevice == b.usbDevice;
        const std::string serial = SerialOf(a.info);
        return !serial.empty() && a.info.product == b.info.product && SerialOf(b.info) == serial;
    };
    std::vector<AdapterNodes> adapters;
    std::vector<bool> used(nodes.size(), false);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (used[i] || nodes[i].info.if_num > 1) continue;
        for (std::size_t j = i + 1; j < nodes.size(); ++j) {
            if (used[j] || nodes[j].info.if_num > 1) continue;
            if (nodes[j].info.if_num == nodes[i].info.if_num || !sameAdapter(nodes[i], nodes[j]))
                continue;
            used[i] = used[j] = true;
            AdapterNodes adapter;
            adapter.pipe0 = nodes[i].info.if_num == 0 ? nodes[i] : nodes[j];
            adapter.pipe1 = nodes[i].info.if_num == 1 ? nodes[i] : nodes[j];
            adapter.serial = SerialOf(adapter.pipe1.info);
            adapters.push_back(adapter);
            break;
        }
    }
    return adapters;
}

std::uint32_t DriverReportSize(std::uint32_t product, std::uint32_t ifNum,
                               std::uint32_t endpointBytes) {
    if (ifNum != 0) return endpointBytes;
    switch (product) {
        case kProductIow56:
        case kProductIow56Am:
            return 7;
        case kProductIow28:
        case kProductIow28L:
            return 4;
        case kProductIow100:
            return 12;
        default:
            return endpointBytes;
    }
}

bool DrivesI2c(std::uint32_t product) {
    switch (product) {
        case kProductIow40:
        case kProductIow24:
        case kProductIowPv1:
        case kProductIowPv2:
        case kProductIow24Sag:
        case kProductIow56:
        case kProductIow56Am:
            return true;
        default:
            return false;
    }
}

std::string ProductName(std::uint32_t product) {
    const char* name = product == kProductIow28    ? "IO-Warrior 28"
                       : product == kProductIow28L ? "IO-Warrior 28L"
                       : product == kProductIow100 ? "IO-Warrior 100"
                                                   : "IO-Warrior";
    char text[40];
    std::snprintf(text, sizeof text, "%s (0x%04X)", name, product);
    return text;
}

std::string SysfsInterfaceFolder(const std::string& nodePath) {
    const std::size_t slash = nodePath.find_last_of('/');
    const std::string name = slash == std::string::npos ? nodePath : nodePath.substr(slash + 1);
    return std::string(kSysfsClassFolder) + "/" + name + "/device";
}

std::optional<std::uint32_t> ParseSysfsHex(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    if (end == 0 || end > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < end; ++k) {
        const char c = text[k];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                            ? c - '0'
                                                            : std::tolower(c) - 'a' + 10);
    }
    return value;
}

bool InfoFromSysfs(const std::function<std::string(const std::string&)>& read,
                   IowarriorInfo& info) {
    info = IowarriorInfo{};
    const auto ifNum = ParseSysfsHex(read("bInterfaceNumber"));
    const auto product = ParseSysfsHex(read("../idProduct"));
    if (!ifNum || !product) return false;
    // The driver takes the interface's last interrupt-in endpoint.
    std::uint32_t endpointBytes = 0;
    for (int address = 0x81; address <= 0x8F; ++address) {
        char folder[8];
        std::snprintf(folder, sizeof folder, "ep_%02x", address);
        const std::string type = read(std::string(folder) + "/type");
        const auto size = ParseSysfsHex(read(std::string(folder) + "/wMaxPacketSize"));
        if (type.rfind("Interrupt", 0) == 0 && size) endpointBytes = *size & 0x7FF;
    }
    if (endpointBytes == 0) return false;
    info.vendor = ParseSysfsHex(read("../idVendor")).value_or(0);
    info.product = *product;
    info.revision = ParseSysfsHex(read("../bcdDevice")).value_or(0);
    info.if_num = *ifNum;
    info.report_size = DriverReportSize(*product, *ifNum, endpointBytes);
    // As the driver does: a serial number is kept only when it has exactly eight characters.
    std::string serial = read("../serial");
    while (!serial.empty() && std::isspace(static_cast<unsigned char>(serial.back())))
        serial.pop_back();
    if (serial.size() == 8) std::copy(serial.begin(), serial.end(), info.serial);
    return true;
}

std::vector<std::uint8_t> PadReport(const std::uint8_t* report, std::size_t length,
                                    std::size_t reportSize) {
    if (report == nullptr || length == 0 || length > reportSize) return {};
    std::vector<std::uint8_t> padded(reportSize, 0);
    std::copy_n(report, length, padded.begin());
    return padded;
}

}  // namespace quillon::iow
