#include "iow/linux/iow_linux_protocol.h"

#include <algorithm>
#include <cctype>

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
    std::vector<AdapterNodes> adapters;
    std::vector<bool> used(nodes.size(), false);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (used[i] || nodes[i].info.if_num > 1) continue;
        const std::string serial = SerialOf(nodes[i].info);
        for (std::size_t j = i + 1; j < nodes.size(); ++j) {
            if (used[j] || nodes[j].info.if_num > 1) continue;
            const bool otherInterface = nodes[j].info.if_num != nodes[i].info.if_num;
            const bool sameChip =
                nodes[j].info.product == nodes[i].info.product && SerialOf(nodes[j].info) == serial;
            if (!otherInterface || !sameChip) continue;
            used[i] = used[j] = true;
            AdapterNodes adapter;
            adapter.pipe0 = nodes[i].info.if_num == 0 ? nodes[i] : nodes[j];
            adapter.pipe1 = nodes[i].info.if_num == 1 ? nodes[i] : nodes[j];
            adapter.serial = serial;
            adapters.push_back(adapter);
            break;
        }
    }
    return adapters;
}

std::vector<std::uint8_t> PadReport(const std::uint8_t* report, std::size_t length,
                                    std::size_t reportSize) {
    if (report == nullptr || length == 0 || length > reportSize) return {};
    std::vector<std::uint8_t> padded(reportSize, 0);
    std::copy_n(report, length, padded.begin());
    return padded;
}

}  // namespace quillon::iow
