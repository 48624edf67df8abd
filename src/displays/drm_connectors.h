#pragma once

// The connectors of the graphics cards that Linux's DRM drives, and the EDID of the display on
// each, as /sys/class/drm/card*-*/edid gives it to any user: the kernel has already followed
// the display's segments and HF-EEODB, and dropped the extension blocks it found bad.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/edid_image.h"

namespace quillon {

struct DisplayConnector {
    std::string name;    // as sysfs names it: "card0-HDMI-A-1"
    std::string status;  // "connected", "disconnected" or "unknown"
    EdidBytes edid;      // empty: no display, or none that gave an EDID
    bool HasDisplay() const { return !edid.empty() && status != "disconnected"; }
};

inline const std::filesystem::path kDrmClassFolder = "/sys/class/drm";

// Every connector of every card, by name.
std::vector<DisplayConnector> ListConnectors(const std::filesystem::path& drm = kDrmClassFolder);

// The connector called `name`: its sysfs name, or that without the card ("HDMI-A-1") where one
// card alone has it.
std::optional<DisplayConnector> FindConnector(const std::string& name,
                                              const std::filesystem::path& drm = kDrmClassFolder);

// Whether `name` names the connector `full`: its sysfs name, or that without the card.
bool ConnectorNamed(const std::string& full, const std::string& name);

// Where the connector's EDID is read from.
std::filesystem::path EdidPath(const std::string& connector,
                               const std::filesystem::path& drm = kDrmClassFolder);

}  // namespace quillon
