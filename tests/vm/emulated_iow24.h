#pragma once

// An IO-Warrior 24 presented to the kernel through gadgetfs on dummy_udc, so that the kernel's
// own iowarrior driver binds to it: vendor 0x07C0, product 0x1501, a serial number, interface
// 0 (IO pins, interrupt-in, 4-byte reports) and interface 1 (special modes, interrupt-in,
// 8-byte reports). The driver sends reports as HID SET_REPORT requests on ep0; replies go out
// as interrupt-in reports. Behind interface 1 sits the emulated adapter and its 24C02, the same
// model the virtual backend uses, with its faults.
//
// Runs in the test VM only (gadgetfs mounted at /dev/gadget). Two threads: one answers ep0,
// one sends replies when their latency has passed (a write there waits until the host polls,
// which the driver does only while its node is open).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

class EmulatedIow24 {
  public:
    explicit EmulatedIow24(VirtualAdapter& model) : model_(model) {}
    ~EmulatedIow24() { Unplug(); }

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

  private:
    void ControlLoop();
    void ReplyLoop();
    void HandleSetup(const void* setup);
    bool EnableEndpoints();
    void CloseController();

    VirtualAdapter& model_;
    int ep0_ = -1;
    int epIoPorts_ = -1;
    int epSpecial_ = -1;
    std::atomic<bool> running_{false};
    std::atomic<bool> lostByModel_{false};  // the model unplugged itself mid-exchange
    std::atomic<bool> handling_{false};     // a request is being answered
    bool controllerClosed_ = false;
    std::mutex closeMutex_;
    std::thread control_;
    std::thread replies_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<VirtualAdapter::Reply> queue_;
};

// The driver's nodes that exist now.
int IowarriorNodeCount();

}  // namespace quillon::iow
