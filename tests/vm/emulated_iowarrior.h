#pragma once

// An IO-Warrior presented to the kernel through gadgetfs on dummy_udc, so that the kernel's
// own iowarrior driver binds to it: vendor 0x07C0, a serial number, interface 0 (IO pins) and
// interface 1 (special modes), each with an interrupt-in endpoint. An IO-Warrior 24 (0x1501,
// 8-byte I2C reports) takes its reports as HID SET_REPORT requests on ep0; an IO-Warrior 56
// (0x1503, 64-byte reports) on an interrupt-out endpoint per interface, where the driver keeps
// up to four writes in flight. Behind interface 1 sits the emulated adapter and its 24C02, the
// same model the virtual backend uses, with its faults. A stopped model stops reading the
// IOW56's interrupt-out endpoint, so that the driver's writes stay in flight as on a hung chip.
// A stopped IOW24 takes its SET_REPORTs and answers none: gadgetfs receives the data stage of
// a control request with data before the program sees it, so it can neither stall it nor
// leave it for the host's time-out (a later read of ep0 then waits for ever).
//
// Runs in the test VM only (gadgetfs mounted at /dev/gadget). Threads: one answers ep0, one
// reads the IOW56's I2C reports, one sends replies once their latency has passed.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

class EmulatedIowarrior {
  public:
    EmulatedIowarrior(VirtualAdapter& model, std::uint32_t productId)
        : model_(model), productId_(productId) {}
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
    void ControlLoop();
    void ReportLoop();
    void ReplyLoop();
    void HandleSetup(const void* setup);
    void HandleReport(std::uint8_t* report, std::size_t length);
    bool EnableEndpoints();
    void StopReading();
    void CloseController();

    VirtualAdapter& model_;
    std::uint32_t productId_;
    int ep0_ = -1;
    std::atomic<int> endpoints_[4] = {-1, -1, -1, -1};  // in 0, in 1, out 0, out 1
    std::atomic<bool> running_{false};
    std::atomic<bool> lostByModel_{false};  // the model unplugged itself mid-exchange
    std::atomic<int> handling_{0};          // requests being answered
    std::atomic<bool> reading_{false};      // the report thread waits in read
    std::atomic<unsigned> reportsHandled_{0};
    bool controllerClosed_ = false;
    std::mutex closeMutex_;
    std::thread control_, reports_, replies_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<VirtualAdapter::Reply> queue_;
};

// The driver's nodes that exist now.
int IowarriorNodeCount();

}  // namespace quillon::iow
