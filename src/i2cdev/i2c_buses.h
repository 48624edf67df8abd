#pragma once

// The I2C buses Linux has, as sysfs tells of them to any user: each bus's number and name, the
// driver of the device it belongs to (a USB bridge, an SMBus host controller, a graphics card),
// the display connector whose DDC lines it is, and the drivers that hold its addresses.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillon::i2cdev {

struct I2cBusFacts {
    int number = 0;
    std::string name;       // the adapter's own ("CP2112 SMBus Bridge on hidraw0")
    std::string driver;     // of the adapter's device ("cp2112", "piix4_smbus"); empty: none
    std::string connector;  // the connector whose DDC this bus is ("card0-HDMI-A-1"); or empty
    std::string Node() const { return "/dev/i2c-" + std::to_string(number); }
};

inline const std::filesystem::path kSysFolder = "/sys";

// Every bus, by number.
std::vector<I2cBusFacts> ListI2cBuses(const std::filesystem::path& sys = kSysFolder);

// The bus that `chosen` names: its number ("3", "i2c-3"), or the connector whose DDC it is
// (as the displays command names connectors).
std::optional<I2cBusFacts> FindI2cBus(const std::string& chosen,
                                      const std::filesystem::path& sys = kSysFolder);

// The kernel device at `address` on bus `number` ("3-0050"), and the driver bound to it, which
// holds the address; empty when none is bound.
std::string AddressDevice(int number, std::uint8_t address);
std::string AddressHolder(int number, std::uint8_t address,
                          const std::filesystem::path& sys = kSysFolder);

}  // namespace quillon::i2cdev
