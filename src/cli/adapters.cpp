#include "cli/adapters.h"

#include <array>

#include "iic/iow_i2c_bus.h"
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
    return Adapter{handle, SerialNumberOf(handle)};
}

}  // namespace quillon::cli
