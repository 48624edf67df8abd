#include "i2cdev/i2c_buses.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>

#include "displays/drm_connectors.h"

namespace quillon::i2cdev {

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The name of the driver bound to `device`; empty when none.
std::string DriverOf(const fs::path& device) {
    std::error_code error;
    const fs::path driver = fs::read_symlink(device / "driver", error);
    return error ? std::string() : driver.filename().string();
}

}  // namespace

std::vector<I2cBusFacts> ListI2cBuses(const fs::path& sys) {
    static const std::regex kBusName("i2c-([0-9]+)");
    std::vector<I2cBusFacts> buses;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sys / "bus/i2c/devices", error)) {
        const std::string name = entry.path().filename().string();
        std::smatch number;
        if (!std::regex_match(name, number, kBusName)) continue;
        const fs::path device = fs::canonical(entry.path(), error);
        if (error) continue;
        buses.push_back({std::stoi(number[1]), FirstLine(device / "name"),
                         DriverOf(device.parent_path()), {}});
    }
    // A connector's "ddc" names the bus of its display's DDC lines.
    for (const auto& entry : fs::directory_iterator(sys / "class/drm", error)) {
        const fs::path ddc = fs::canonical(entry.path() / "ddc", error);
        if (error) continue;
        for (I2cBusFacts& bus : buses)
            if (ddc.filename() == "i2c-" + std::to_string(bus.number))
                bus.connector = entry.path().filename().string();
    }
    std::ranges::sort(buses, {}, &I2cBusFacts::number);
    return buses;
}

std::optional<I2cBusFacts> FindI2cBus(const std::string& chosen, const fs::path& sys) {
    static const std::regex kNumber("(i2c-)?([0-9]+)");
    std::smatch number;
    const bool byNumber = std::regex_match(chosen, number, kNumber);
    std::vector<I2cBusFacts> found;
    for (I2cBusFacts& bus : ListI2cBuses(sys)) {
        if (byNumber ? bus.number == std::stoi(number[2])
                     : !bus.connector.empty() && ConnectorNamed(bus.connector, chosen))
            found.push_back(std::move(bus));
    }
    if (found.size() == 1) return found.front();
    return std::nullopt;
}

std::string AddressDevice(int number, std::uint8_t address) {
    char name[32];
    std::snprintf(name, sizeof name, "%d-%04x", number, address);
    return name;
}

std::string AddressHolder(int number, std::uint8_t address, const fs::path& sys) {
    return DriverOf(sys / "bus/i2c/devices" / AddressDevice(number, address));
}

}  // namespace quillon::i2cdev
