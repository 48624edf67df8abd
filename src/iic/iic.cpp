#include "iic/iic.h"

#include "iic/i2c_report.h"
#include "iic/iow_i2c_bus.h"

namespace quillon {

std::uint32_t IicEnable(IowKitHandle handle, std::uint8_t flag) {
    I2cReport buffer = EnableReport(flag);
    return IowKitWrite(handle, kIowPipeI2c, buffer.data(), buffer.size());
}

IicByte IicReadEepromByte(IowKitHandle handle, std::uint8_t offset,
                          const WhileWaiting& whileWaiting) {
    IowI2cBus bus(handle, kWindowReportBytes);
    const I2cTransferResult result =
        TransferPolling(bus, MemoryRead(Addressing::OneAddress, offset, 1), whileWaiting);
    if (!result.Done()) return {.abandoned = result.Abandoned(), .noAnswer = result.NoAnswer()};
    return {.ok = true, .value = result.ReadBytes()[0]};
}

IicWriteResult IicWriteEepromByte(IowKitHandle handle, std::uint8_t offset, std::uint8_t value,
                                  const WhileWaiting& whileWaiting) {
    IowI2cBus bus(handle, kWindowReportBytes);
    const std::uint8_t data[] = {value};
    const I2cTransferResult result =
        TransferPolling(bus, MemoryWrite(Addressing::OneAddress, offset, data), whileWaiting);
    return {result.Done(), result.Abandoned(), result.NoAnswer()};
}

IicProbeResult IicProbeAddress(IowKitHandle handle, std::uint8_t addressByte) {
    IowI2cBus bus(handle, kWindowReportBytes);
    const I2cTransferResult result = bus.Transfer(AddressProbe(addressByte));
    return {result.Done(), result.NoAnswer()};
}

}  // namespace quillon
