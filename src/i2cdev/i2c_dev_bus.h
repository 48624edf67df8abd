#pragma once

// A Linux I2C bus (/dev/i2c-N, the kernel's i2c-dev) as the I2C messages: a transaction is one
// I2C_RDWR where the bus has plain I2C and its driver takes the messages, else the one SMBus
// call that does the same (an SMBus-only bus: reads and writes of at most 32 bytes, no
// segment). Probes are SMBus calls, as i2cdetect makes them. The bus's functionality is read
// when it opens. The node is held open for the bus's lifetime, which keeps the kernel's adapter
// (a USB bridge unplugged stays until the node is closed; its transfers fail).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <variant>

#include "i2cdev/i2c_dev_protocol.h"
#include "iic/i2c_bus.h"

namespace quillon::i2cdev {

class I2cDevBus final : public I2cBus {
  public:
    // Opens the node; the error number when it cannot (ENOENT: no such bus, or i2c-dev not
    // loaded; EACCES: no permission).
    static std::variant<std::unique_ptr<I2cDevBus>, int> Open(const std::filesystem::path& node,
                                                              AdapterLimits limits);
    ~I2cDevBus() override;
    I2cDevBus(const I2cDevBus&) = delete;
    I2cDevBus& operator=(const I2cDevBus&) = delete;

    bool Begin() override { return true; }
    // `whileWaiting` runs after the transfer: the ioctl blocks until the bus is done.
    I2cTransferResult Transfer(std::span<const I2cMessage> messages,
                               const WhileWaiting& whileWaiting = nullptr) override;
    // 128 through I2C_RDWR; an SMBus block's 32 otherwise, or a byte where the bus has no
    // I2C block calls (i2c-piix4).
    int MaxReadBytes() const override;
    int MaxWriteBytes() const override;
    bool ReadsOnFromPointer() const override { return PlainI2c(); }

    bool PlainI2c() const;
    // Whether a transaction may hold a memory's segment: three messages, no stop between.
    bool TakesSegments() const { return PlainI2c() && !limits_.writeThenReadOnly; }
    // 0 when the address may be used; EBUSY when a kernel driver holds it.
    int Claim(std::uint8_t address) const;

  private:
    I2cDevBus(int fd, std::uint32_t functionality, AdapterLimits limits)
        : fd_(fd), functionality_(functionality), limits_(limits) {}
    bool ThroughRdwr(std::span<const I2cMessage> messages) const;
    void Rdwr(std::span<const I2cMessage> messages, I2cTransferResult& result);
    void Smbus(std::span<const I2cMessage> messages, I2cTransferResult& result);

    int fd_;
    std::uint32_t functionality_;
    AdapterLimits limits_;
};

}  // namespace quillon::i2cdev
