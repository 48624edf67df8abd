#pragma once

// USB-to-I2C bridges presented to the kernel through /dev/uhid with their vendor and product
// ids, so that Linux's own drivers bind them: a Silicon Labs CP2112 (10C4:EA90, hid-cp2112)
// answering its feature and output reports as AN495 lays them out, and a Microchip MCP2221A
// (04D8:00DD, hid-mcp2221) answering its 64-byte commands as its data sheet (DS20005565) does.
// Behind each sits the virtual adapter's memory model, driven as the bridge drives its bus:
// start, bytes, repeated start or stop.
//
// Runs in the test VM only (uhid, hid-cp2112, hid-mcp2221 and i2c-dev loaded). One thread
// answers the driver's requests; another takes the bridge away when asked to mid-command, as
// a pulled cable does, since the kernel finishes the removal only once the bus is closed.

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "iow/virtual/i2c_bus.h"

namespace quillon::testing {

// The bus behind a bridge: the memory, a 24C02 unless made larger. (No segment pointer: the
// bridges' drivers cannot reach one.)
class BridgeBus {
  public:
    // The bytes written to `address` after a start; a stop after them, or not (a repeated start
    // follows). False when the address or a byte was not acknowledged (then a stop ends it).
    bool Write(std::uint8_t address, const std::vector<std::uint8_t>& bytes, bool stop);
    // `count` bytes read from `address`, then a stop; none when the address was not acknowledged.
    std::optional<std::vector<std::uint8_t>> Read(std::uint8_t address, int count);
    void Stop();

    iow::Eeprom24C02& Eeprom() { return eeprom_; }
    // A 24C16's 2 KiB (block select); 256 is a 24C02 again.
    void UseLargerMemory(int bytes) { eeprom_.SetSize(bytes); }

  private:
    iow::I2cDevice* Addressed(std::uint8_t addressByte);
    bool Begin(std::uint8_t addressByte);  // a start or repeated start: acknowledged
    iow::Eeprom24C02 eeprom_;
    iow::I2cDevice* current_ = nullptr;
};

class EmulatedBridge {
  public:
    enum class Kind { Cp2112, Mcp2221 };
    explicit EmulatedBridge(Kind kind) : kind_(kind) {}
    ~EmulatedBridge() { Unplug(); }

    // Presents the bridge and waits until its driver has registered its I2C bus; false (with
    // the reason in `error`) when that did not happen within a few seconds.
    bool Plug(std::string& error);
    // Takes it away; waits until the kernel has let go of it.
    void Unplug();
    int BusNumber() const { return busNumber_; }
    const char* Name() const { return kind_ == Kind::Cp2112 ? "CP2112" : "MCP2221"; }

    // The model, changed only while no command runs.
    BridgeBus& Bus() { return bus_; }
    // Pulled after this many more transfers on its bus (0: never).
    void UnplugAfterTransfers(int transfers) { unplugAfter_ = transfers; }

  private:
    void Loop();
    void Handle(const void* event);
    void Input(std::vector<std::uint8_t> report);
    void Reply(std::uint32_t type, std::uint32_t id, std::uint16_t error,
               const std::vector<std::uint8_t>& data);
    std::vector<std::uint8_t> FeatureReport(std::uint8_t number) const;
    void Cp2112Output(const std::uint8_t* data, std::size_t size);
    void Mcp2221Output(const std::uint8_t* data, std::size_t size);
    void CountTransfer();

    Kind kind_;
    BridgeBus bus_;
    int fd_ = -1;
    int busNumber_ = -1;
    std::thread loop_, unplugging_;
    std::atomic<bool> running_{false};
    std::atomic<int> unplugAfter_{0};
    // A transfer's outcome, as the bridge keeps it until the host asks.
    bool nacked_ = false;
    std::vector<std::uint8_t> readData_;
    std::size_t readDelivered_ = 0;
    int lastLength_ = 0;
};

}  // namespace quillon::testing
