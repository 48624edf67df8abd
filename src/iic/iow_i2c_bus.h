#pragma once

// The I2C messages over an IO-Warrior's I2C function (pipe 1): each message becomes the
// adapter's reports (iic/i2c_report.h), each report is answered by one reply. A read must be a
// transaction's last message: the adapter's read request ends with a stop.

#include <optional>

#include "iic/i2c_bus.h"
#include "iow/iowkit.h"

namespace quillon {

// The read time-out that a program sets on every adapter it opens (the backends' own default is
// five times longer): an adapter answers within milliseconds, and an unanswered exchange costs
// this much and as much again in the quiet wait after it.
inline constexpr std::uint32_t kReadTimeoutMs = 200;

// The window's reports are 8 bytes on every adapter.
inline constexpr int kWindowReportBytes = 8;

class IowI2cBus final : public I2cBus {
  public:
    IowI2cBus(IowKitHandle handle, int reportBytes) : handle_(handle), reportBytes_(reportBytes) {}
    // At the report size of the adapter's I2C pipe (64 on an IO-Warrior 56); 8 when the
    // backend does not say.
    static IowI2cBus AtNodeReportSize(IowKitHandle handle);

    // The adapter's internal pull-ups on SDA and SCL on every Begin: they hold the bus at 5 V,
    // which a memory at 3.3 V with pull-ups of its own must not see. Unset, Begin leaves them
    // as they are.
    void SetPullUps(bool on) { pullUps_ = on; }

    // Switches the I2C function on: an adapter plugged in again since start-up has it off. With
    // the pull-ups set it is switched off first, as they change only while it is off. The
    // enable report gets no reply; false when it could not be written.
    bool Begin() override;
    I2cTransferResult Transfer(std::span<const I2cMessage> messages,
                               const WhileWaiting& whileWaiting = nullptr) override;
    int MaxReadBytes() const override;

  private:
    IowKitHandle handle_;
    int reportBytes_;
    std::optional<bool> pullUps_;
};

}  // namespace quillon
