#include "cli/adapters.h"

#include "cli/commands.h"

#include <array>
#include <cstring>

#include "i2cdev/i2c_buses.h"
#include "i2cdev/i2c_dev_bus.h"
#include "iic/iow_i2c_bus.h"
#include "image/edid_layout.h"
#include "transfer/memory_engine.h"
#include "iow/adapter_choice.h"
#include "iow/no_adapter.h"
#include "iow/serial_number.h"

namespace quillon::cli {

namespace {

QString SerialNumberOf(IowKitHandle handle) {
    std::array<std::uint8_t, kIowSerialBufferBytes> buffer{};
    if (!IowKitGetSerialNumber(handle, buffer.data())) return {};
    return QString::fromStdU16String(iow::SerialFromUtf16(buffer));
}

// An adapter whose I2C function this program does not drive, named.
QString UnsupportedText(const iow::AttachedAdapter& adapter) {
    return QString(
               "%1 %2 is attached, but this program drives the I2C function of the "
               "IO-Warrior 24, 40 and 56 only.")
        .arg(QString::fromStdString(adapter.productName),
             adapter.serial.empty() ? QString() : QString::fromStdString(adapter.serial));
}

QString NoAdapterText(iow::NoAdapterReason reason) {
    switch (reason) {
        case iow::NoAdapterReason::DriverNotLoaded:
            return "No IO-Warrior adapter: the kernel's iowarrior driver is not loaded. "
                   "Load it with 'sudo modprobe iowarrior'.";
        case iow::NoAdapterReason::NoPermission:
            return "An IO-Warrior adapter is attached, but this user may not open it "
                   "(/dev/usb/iowarrior*). Install the package's udev rule "
                   "(60-orvane-quillon-iowarrior.rules), then plug the adapter in again; from a "
                   "remote session, join the plugdev group.";
        case iow::NoAdapterReason::Busy:
            return "An IO-Warrior adapter is attached, but another program holds it open (the "
                   "window, or another quillon-cli). Close that program and try again.";
        case iow::NoAdapterReason::NoneAttached:
            break;
    }
    return "No IO-Warrior adapter found. Plug one in: lsusb lists it as 07c0:15xx.";
}

}  // namespace

QStringList ChosenSerials(const Request& request) {
    if (!request.buses.isEmpty()) return request.buses;
    QStringList serials = request.adapters;
    if (request.all)
        for (const auto& adapter : iow::ListAttachedAdapters(false))
            serials << QString::fromStdString(adapter.serial);
    serials.removeDuplicates();
    if (serials.isEmpty()) serials << QString();  // the open says that none is attached
    return serials;
}

std::variant<Adapter, CommandResult> OpenChosenAdapter(const QString& wanted) {
    IowKitHandle handle = 0;
    if (wanted.isEmpty()) {
        const auto attached = iow::ListAttachedAdapters(false);
        bool unnamed = attached.empty();  // nothing listed: the full open tells
        for (const auto& adapter : attached) {
            unnamed = unnamed || adapter.serial.empty();
            if (handle == 0 && !adapter.serial.empty())
                handle = iow::OpenAdapterWithSerial(adapter.serial);
        }
        // Adapters without a serial number can only be opened all together.
        if (handle == 0 && unnamed) handle = IowKitOpenDevice();
        for (const auto& adapter : attached)
            if (handle == 0 && adapter.access == iow::AttachedAdapter::Access::Unsupported)
                return Fail(kExitNoAdapter, UnsupportedText(adapter));
        if (handle == 0) return Fail(kExitNoAdapter, NoAdapterText(iow::WhyNoAdapter()));
    } else {
        handle = iow::OpenAdapterWithSerial(wanted.toStdString());
    }
    if (handle == 0) {  // why, as the adapters are now
        QStringList serials;
        for (const auto& adapter : iow::ListAttachedAdapters()) {
            serials << QString::fromStdString(adapter.serial);
            if (serials.back() != wanted) continue;
            if (adapter.access == iow::AttachedAdapter::Access::Held)
                return Fail(kExitNoAdapter,
                            NoAdapterText(iow::NoAdapterReason::Busy)
                                .replace("An IO-Warrior adapter", "Adapter " + wanted));
            if (adapter.access == iow::AttachedAdapter::Access::Denied)
                return Fail(kExitNoAdapter, NoAdapterText(iow::NoAdapterReason::NoPermission));
            if (adapter.access == iow::AttachedAdapter::Access::Unsupported)
                return Fail(kExitNoAdapter, UnsupportedText(adapter));
        }
        return Fail(kExitNoAdapter, QString("No adapter with serial number %1; attached: %2.")
                                        .arg(wanted, serials.join(", ")));
    }
    IowKitSetTimeout(handle, kReadTimeoutMs);
    return Adapter{handle, SerialNumberOf(handle), nullptr};
}

std::variant<Adapter, CommandResult> OpenChosen(const Request& request, const QString& wanted) {
    return request.buses.isEmpty() ? OpenChosenAdapter(wanted) : OpenChosenBus(request, wanted);
}

namespace {

// The 7-bit addresses through which the memory is reached.
std::vector<std::uint8_t> MemoryAddresses(const MemoryProfile& memory) {
    std::vector<std::uint8_t> addresses;
    for (int offset = 0; offset < memory.bytes; offset += kBytesPerAddress)
        if (addresses.empty() || addresses.back() != MemoryAddressOf(memory.addressing, offset))
            addresses.push_back(MemoryAddressOf(memory.addressing, offset));
    if (memory.addressing == Addressing::Segment) addresses.push_back(kSegmentPointerAddress);
    return addresses;
}

QString BusText(const i2cdev::I2cBusFacts& bus) {
    return QString("i2c-%1 (%2%3)")
        .arg(bus.number)
        .arg(QString::fromStdString(bus.name),
             bus.driver.empty() ? QString() : ", driver " + QString::fromStdString(bus.driver));
}

}  // namespace

std::variant<Adapter, CommandResult> OpenChosenBus(const Request& request, const QString& chosen) {
    using namespace i2cdev;
    const auto facts = FindI2cBus(chosen.toStdString());
    if (!facts)
        return Fail(kExitNoAdapter, QString("No I2C bus %1: quillon-cli list shows the buses, by "
                                            "number and by the connector whose DDC each is.")
                                        .arg(chosen));
    const QString node = QString::fromStdString(facts->Node());
    auto opened = I2cDevBus::Open(facts->Node(), LimitsOfDriver(facts->driver));
    if (const int* error = std::get_if<int>(&opened)) {
        if (*error == ENOENT)
            return Fail(kExitNoAdapter, QString("No %1: the kernel's i2c-dev is not loaded. Load "
                                                "it with 'sudo modprobe i2c-dev'.")
                                            .arg(node));
        if (*error == EACCES || *error == EPERM)
            return Fail(kExitNoAdapter, QString("This user may not open %1: join the i2c group, "
                                                "which Debian's i2c-tools package makes with its "
                                                "udev rule ('sudo apt install i2c-tools', 'sudo "
                                                "adduser $USER i2c'), then log in again.")
                                            .arg(node));
        return Fail(kExitNoAdapter,
                    QString("Cannot open %1: %2.").arg(node, std::strerror(*error)));
    }
    std::shared_ptr<I2cDevBus> bus = std::move(std::get<std::unique_ptr<I2cDevBus>>(opened));
    const MemoryProfile& memory = *request.memory;
    if (memory.addressing == Addressing::Segment && !bus->TakesSegments())
        return Fail(kExitUsage,
                    QString("%1 cannot reach a %2's bytes past 256: its segment needs three "
                            "messages with no stop between (segment, word address, read), and "
                            "this bus takes %3. Use a bus with plain I2C, or an IO-Warrior.")
                        .arg(BusText(*facts), memory.name,
                             bus->PlainI2c() ? "one message, or a write then a read to one address"
                                             : "SMBus calls only"));
    for (const std::uint8_t address : MemoryAddresses(memory)) {
        if (bus->Claim(address) != EBUSY) continue;
        const QString device = QString::fromStdString(AddressDevice(facts->number, address));
        const QString holder = QString::fromStdString(AddressHolder(facts->number, address));
        return Fail(kExitNoAdapter,
                    QString("Address %1 on %2 is held by the kernel's %3 driver (device %4), "
                            "which reads and writes that memory itself. To program it here, "
                            "release it first: echo %4 | sudo tee /sys/bus/i2c/drivers/%3/unbind")
                        .arg(Hex(address), BusText(*facts), holder, device));
    }
    if (request.entry->writes && IsSmbusHostController(facts->driver)) {
        if (request.smbusHostBus != QString::number(facts->number))
            return Fail(kExitNoAdapter,
                        QString("%1 is a computer's SMBus host controller: its 0x50 is most "
                                "likely a memory module's SPD EEPROM, and writing that can leave "
                                "the computer unable to start. Nothing written. Where the "
                                "display's memory really is on this bus, name the bus: "
                                "--write-smbus-host %2.")
                            .arg(BusText(*facts))
                            .arg(facts->number));
        TransferObserver quiet;
        const MemoryOutcome header =
            ReadMemory(*bus, int(kEdidHeader.size()), {.addressing = memory.addressing}, quiet);
        if (!header.faults.empty() || !std::ranges::equal(header.memory, kEdidHeader))
            return Fail(kExitNoAdapter,
                        QString("The memory at 0x50 on %1 %2: on an SMBus host controller that "
                                "is no display's memory. Nothing written.")
                            .arg(BusText(*facts),
                                 header.faults.empty()
                                     ? "does not read as an EDID (its first 8 bytes are not 00 "
                                       "FF FF FF FF FF FF 00)"
                                     : "did not answer for its first 8 bytes"));
    }
    return Adapter{0, node.mid(5), std::move(bus)};
}

}  // namespace quillon::cli
