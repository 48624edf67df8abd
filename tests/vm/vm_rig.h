#pragma once

// The emulated IO-Warrior of the test VM as an adapter rig: the tests set faults on its link,
// and the emulator follows the model onto the bus and off again.

#include <cstdio>

#include "emulated_iowarrior.h"
#include "iic/iic.h"
#include "iowkit_contract.h"

namespace quillon::iow {

class VmRig : public AdapterRig {
  public:
    // `udc`: which of dummy_hcd's controllers carries it; its serial number 0000A5E1 on the
    // first, 0000A5E2 on the second...
    explicit VmRig(std::uint32_t productId, int udc = 0)
        : productId_(productId), emulator_(link_, productId, udc) {
        model_.SetSerialNumber("0000A5E" + std::to_string(udc + 1));
        link_.Reset(Kind());
        model_.SetConnectionWatcher([this] { Follow(); });
        Follow();
    }
    ~VmRig() override {
        model_.SetConnectionWatcher(nullptr);
        emulator_.Unplug();
    }
    FaultyLink& Link() override {
        emulator_.WaitIdle();
        return link_;
    }
    void Fresh() override {
        emulator_.Unplug();
        link_.Reset(Kind());  // plugs it in again, through the watcher
    }
    bool SeesReads() const override { return false; }
    bool Ready() const { return emulator_.OnBus(); }

  private:
    VirtualAdapter::Kind Kind() const {
        return productId_ != VirtualAdapter::kProductIow24 ? VirtualAdapter::Kind::Iow56
                                                           : VirtualAdapter::Kind::Iow24;
    }
    void Follow() {
        if (!link_.Connected()) return emulator_.Unplug();
        if (emulator_.OnBus()) return;
        emulator_.Unplug();  // what is left of an adapter its model pulled
        std::string error;
        if (!emulator_.Plug(error)) qWarning("emulated IO-Warrior: %s", error.c_str());
    }

    std::uint32_t productId_;
    VirtualAdapter model_;
    FaultyLink link_{model_};
    EmulatedIowarrior emulator_;
};

// The adapters the VM stage runs every case on: an IO-Warrior 24 and an IO-Warrior 56.
inline constexpr std::uint32_t kVmProducts[] = {0x1501, 0x1503};

// Under TCG the guest runs code slowly the first time it meets it, past a case's short read
// time-out: one exchange through the driver, with a time-out no case depends on, before the
// cases, so that their first exchange is not the program's and the emulator's first.
inline void WarmUp() {
    const IowKitHandle handle = IowKitOpenDevice();
    IowKitSetTimeout(handle, 5000);
    IicEnable(handle, 1);
    (void)IicReadEepromByte(handle, 0);
    IowKitCloseDevice(handle);
}

// Plugs in each of them in turn and runs `cases` on it; the failures summed, or 1 when an
// adapter did not come up.
template <typename Cases>
int OnEveryVmAdapter(Cases cases) {
    int failures = 0;
    for (std::uint32_t product : kVmProducts) {
        VmRig rig(product);
        std::printf("== emulated IO-Warrior %04X\n", product);
        if (!rig.Ready()) return std::printf("the emulated adapter did not come up\n"), 1;
        WarmUp();
        failures += cases(rig);
    }
    return failures;
}

}  // namespace quillon::iow
