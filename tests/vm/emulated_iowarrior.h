#pragma once

// An IO-Warrior presented to the kernel through a configfs gadget with one FunctionFS function
// on one of dummy_hcd's UDCs, so that the kernel's own iowarrior driver binds to it: vendor
// 0x07C0, a serial number, interface 0 (IO pins) and interface 1 (special modes), each with an
// interrupt-in endpoint (docs/iowarrior-i2c.md). An IO-Warrior 24 (0x1501, 8-byte I2C reports)
// takes its reports as HID SET_REPORT requests on ep0; an IO-Warrior 56 (0x1503, 64-byte reports)
// on an interrupt-out endpoint per interface, where the driver keeps up to four writes in flight.
// Behind interface 1 sits the emulated adapter and its 24C02, the same model the virtual backend
// uses, behind the same faulty link. A stopped link hangs as a hung chip does: an IOW24 leaves each
// SET_REPORT without its data stage until the driver's own time-out cancels it, an IOW56 stops
// reading its interrupt-out endpoint, so that the driver's writes stay in flight.
//
// Runs in the test VM only (configfs at /sys/kernel/config, dummy_hcd loaded with num=3, one
// emulator per UDC). Threads: one answers ep0, one reads the IOW56's I2C reports, one sends
// replies once their latency has passed.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "faulty_link.h"

namespace quillon::iow {

class EmulatedIowarrior {
  public:
    // `udc`: which of dummy_hcd's controllers (dummy_udc.N) carries the adapter.
    EmulatedIowarrior(FaultyLink& link, std::uint32_t productId, int udc = 0)
        : link_(link), productId_(productId), udc_(udc) {}
    ~EmulatedIowarrior() { Unplug(); }

    // Presents the adapter and waits until the driver has made both its nodes; false (with
    // the reason in `error`) when that did not happen within a few seconds.
    bool Plug(std::string& error);
    // Takes the adapter away and waits until the driver has dropped its nodes.
    void Unplug();
    bool Plugged() const { return ep0_ >= 0; }
    // Whether the adapter is on the bus: plugged, and not pulled by its model mid-exchange.
    bool OnBus() const { return Plugged() && !lostByModel_; }
    // Waits until every request that the host sent has been handled, so that the model can be
    // read and changed without the emulator touching it at the same time.
    void WaitIdle();
    bool Iow56() const;

  private:
    bool SetUpGadget(std::string& error);
    bool Bind(bool bound);
    int NodeCount() const;
    void ControlLoop();
    void ReportLoop();
    void ReplyLoop();
    void HandleSetup(const void* setup);
    void HandleReport(std::uint8_t* report, std::size_t length);
    void EnableEndpoints();
    void StopWaiting();
    void Close();

    FaultyLink& link_;
    std::uint32_t productId_;
    int udc_;
    std::string gadget_, mount_;  // the gadget's configfs folder, the function's mount point
    int ep0_ = -1;
    int events_ = -1;                                   // FunctionFS's eventfd: an event came
    std::atomic<int> endpoints_[4] = {-1, -1, -1, -1};  // in 0, in 1, out 0, out 1
    std::atomic<bool> running_{false};
    std::atomic<bool> lostByModel_{false};  // the model unplugged itself mid-exchange
    std::atomic<bool> holding_{false};      // a SET_REPORT left unanswered (hung IOW24)
    std::atomic<int> handling_{0};          // requests being answered
    std::atomic<bool> reading_{false};      // the report thread waits in read
    std::atomic<bool> writing_{false};      // the reply thread waits in write
    std::atomic<unsigned> reportsHandled_{0};
    std::thread control_, reports_, replies_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<AdapterLink::Reply> queue_;
};

}  // namespace quillon::iow
