#include "i2cdev/i2c_dev_protocol.h"

#include <linux/i2c.h>

#include <cctype>
#include <cerrno>
#include <string>

namespace quillon::i2cdev {

namespace {
bool Has(std::uint32_t functionality, std::uint32_t needed) {
    return (functionality & needed) == needed;
}
}  // namespace

std::optional<SmbusCall> SmbusCallFor(std::span<const I2cMessage> messages,
                                      std::uint32_t functionality) {
    using Kind = SmbusCall::Kind;
    const auto allowed = [&](SmbusCall call, std::uint32_t needed) -> std::optional<SmbusCall> {
        if (!Has(functionality, needed)) return std::nullopt;
        return call;
    };
    const auto call = [](Kind kind, std::uint8_t address, std::uint8_t command = 0,
                         std::vector<std::uint8_t> data = {}, int length = 0) {
        return SmbusCall{kind, address, command, std::move(data), length};
    };
    if (messages.size() == 1) {
        const I2cMessage& m = messages.front();
        if (m.read)
            return m.length <= 1 ? allowed(call(Kind::ReadByte, m.address), I2C_FUNC_SMBUS_READ_BYTE)
                                 : std::nullopt;
        const auto size = m.data.size();
        if (size == 0)
            return Has(functionality, I2C_FUNC_SMBUS_QUICK)
                       ? allowed(call(Kind::Quick, m.address), I2C_FUNC_SMBUS_QUICK)
                       : allowed(call(Kind::ReadByte, m.address), I2C_FUNC_SMBUS_READ_BYTE);
        if (size == 1)
            return allowed(call(Kind::WriteByte, m.address, m.data[0]), I2C_FUNC_SMBUS_WRITE_BYTE);
        if (size == 2)
            return allowed(call(Kind::WriteByteData, m.address, m.data[0], {m.data[1]}),
                           I2C_FUNC_SMBUS_WRITE_BYTE_DATA);
        if (size - 1 > kSmbusBlockBytes) return std::nullopt;
        return allowed(call(Kind::WriteI2cBlock, m.address, m.data[0], {m.data.begin() + 1, m.data.end()}),
                       I2C_FUNC_SMBUS_WRITE_I2C_BLOCK);
    }
    if (messages.size() == 2) {
        const I2cMessage& first = messages[0];
        const I2cMessage& then = messages[1];
        if (first.read || first.data.size() != 1 || !then.read || then.address != first.address ||
            then.length < 1 || then.length > kSmbusBlockBytes)
            return std::nullopt;
        if (then.length == 1 && !Has(functionality, I2C_FUNC_SMBUS_READ_I2C_BLOCK))
            return allowed(call(Kind::ReadByteData, first.address, first.data[0], {}, 1),
                           I2C_FUNC_SMBUS_READ_BYTE_DATA);
        return allowed(call(Kind::ReadI2cBlock, first.address, first.data[0], {}, then.length),
                       I2C_FUNC_SMBUS_READ_I2C_BLOCK);
    }
    return std::nullopt;
}

I2cStatus StatusOfError(int error) {
    switch (error) {
        case ENXIO:      // the address was not acknowledged (fault-codes.rst)
        case EREMOTEIO:  // the same, from some adapters
        case ETIMEDOUT:  // hid-cp2112 reports a refused address as a time-out
        case ENODEV:     // i2c-stub: no chip at the address
            return I2cStatus::AddressRefused;
        case EAGAIN:  // arbitration lost
            return I2cStatus::ArbitrationLost;
        default:
            return I2cStatus::NoAnswer;
    }
}

AdapterLimits LimitsOfDriver(std::string_view driver) {
    // hid-cp2112: a write request carries 61 bytes; several messages are one write then one read
    // to the same address (CP2112_DATA_WRITE_READ_REQUEST). hid-mcp2221: the same pairs.
    if (driver == "cp2112") return {.writeThenReadOnly = true, .maxWriteBytes = 61};
    if (driver == "mcp2221") return {.writeThenReadOnly = true};
    return {};
}

bool IsSmbusHostController(std::string_view driver) {
    // i801_smbus, piix4_smbus, nForce2_smbus, vt596_smbus, ismt_smbus, amd756_smbus, ...
    std::string lower(driver);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("smbus") != std::string::npos;
}

}  // namespace quillon::i2cdev
