#include "displays/drm_connectors.h"

#include <algorithm>
#include <fstream>
#include <regex>

namespace quillon {

namespace {

// An EDID has 255 extension blocks at most.
constexpr std::size_t kMostEdidBytes = 256 * kBlockBytes;

// A sysfs attribute's whole content, up to `most` bytes (its size on the disk says nothing).
std::string ReadAttribute(const std::filesystem::path& path, std::size_t most) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    char chunk[4096];
    while (in && bytes.size() < most) {
        in.read(chunk, sizeof chunk);
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    return bytes.substr(0, most);
}

}  // namespace

std::filesystem::path EdidPath(const std::string& connector, const std::filesystem::path& drm) {
    return drm / connector / "edid";
}

std::vector<DisplayConnector> ListConnectors(const std::filesystem::path& drm) {
    static const std::regex kConnectorName("card[0-9]+-.+");
    std::vector<DisplayConnector> connectors;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(drm, error)) {
        const std::string name = entry.path().filename().string();
        if (!std::regex_match(name, kConnectorName) ||
            !std::filesystem::exists(EdidPath(name, drm), error))
            continue;
        std::string status = ReadAttribute(entry.path() / "status", 64);
        while (!status.empty() && status.back() == '\n') status.pop_back();
        const std::string edid = ReadAttribute(EdidPath(name, drm), kMostEdidBytes);
        connectors.push_back({name, status, EdidBytes(edid.begin(), edid.end())});
    }
    std::ranges::sort(connectors, {}, &DisplayConnector::name);
    return connectors;
}

bool ConnectorNamed(const std::string& full, const std::string& name) {
    return full == name ||
           (full.ends_with("-" + name) && full.find('-') == full.size() - name.size() - 1);
}

std::optional<DisplayConnector> FindConnector(const std::string& name,
                                              const std::filesystem::path& drm) {
    std::vector<DisplayConnector> found;
    for (DisplayConnector& connector : ListConnectors(drm)) {
        if (connector.name == name) return connector;
        if (ConnectorNamed(connector.name, name)) found.push_back(std::move(connector));
    }
    if (found.size() == 1) return found.front();
    return std::nullopt;
}

}  // namespace quillon
