#pragma once

// The plain functions under the i2c-dev bus: how a transaction of I2C messages goes through the
// SMBus calls of a bus without plain I2C, what the kernel's error numbers mean for a message,
// and what the drivers of some adapters cannot do. From the kernel's i2c-dev, i2c-core-smbus,
// Documentation/i2c/fault-codes.rst, and the drivers named below.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "iic/i2c_bus.h"

namespace quillon::i2cdev {

// One SMBus call (the kernel's I2C_SMBUS ioctl) to a 7-bit address.
struct SmbusCall {
    enum class Kind {  // in this order: i2c_dev_bus.cpp's table of the ioctl's sizes
        Quick,           // the address alone, as a write (i2cdetect's write probe)
        ReadByte,        // the address, one byte read (i2cdetect's read probe)
        WriteByte,       // the address and `command` (sets a memory's pointer)
        WriteByteData,   // the address, `command` and one byte of `data`
        ReadByteData,    // `command` written, then one byte read after a repeated start
        ReadI2cBlock,    // `command` written, then `length` bytes read after a repeated start
        WriteI2cBlock,   // the address, `command` and `data`
    };
    Kind kind = Kind::Quick;
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;
    int length = 0;
};

// The most bytes an SMBus block carries (I2C_SMBUS_BLOCK_MAX).
inline constexpr int kSmbusBlockBytes = 32;

// The SMBus call that does what `messages` do on a bus whose functionality (I2C_FUNCS) is
// `functionality`; none when no call can (a memory's segment, several messages to different
// addresses, a block longer than SMBus carries, or a call the bus lacks). A message without
// data is a probe, as i2cdetect makes it: a read byte for a read, a quick write for a write where
// the bus has it.
std::optional<SmbusCall> SmbusCallFor(std::span<const I2cMessage> messages,
                                      std::uint32_t functionality);

// What a failed transfer's error number says about its first message.
I2cStatus StatusOfError(int error);

// What the driver of an adapter lets through I2C_RDWR.
struct AdapterLimits {
    // One message, or a write then a read to the same address (hid-cp2112, hid-mcp2221): no
    // E-DDC segment, which needs three messages without a stop.
    bool writeThenReadOnly = false;
    int maxWriteBytes = 8192;  // of one write message (hid-cp2112: 61)
};
// By the name of the driver of the adapter's device ("cp2112", "mcp2221").
AdapterLimits LimitsOfDriver(std::string_view driver);

// Whether the driver is a computer's SMBus host controller (i2c-i801, i2c-piix4 and their kin),
// whose bus carries the memory modules' SPD EEPROMs at 0x50 to 0x57.
bool IsSmbusHostController(std::string_view driver);

}  // namespace quillon::i2cdev
