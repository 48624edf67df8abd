#pragma once

// The emulated IO-Warrior 24 of the test VM as an adapter rig: the tests set faults on the
// model, and the emulator follows it onto the bus and off again.

#include "emulated_iow24.h"
#include "iowkit_contract.h"

namespace quillon::iow {

// The model is the test's; the emulator follows it onto the bus and off again.
class VmRig : public AdapterRig {
  public:
    VmRig() : emulator_(model_) {
        model_.SetConnectionWatcher([this] { Follow(); });
        Follow();
    }
    ~VmRig() override {
        model_.SetConnectionWatcher(nullptr);
        emulator_.Unplug();
    }
    VirtualAdapter& Model() override {
        emulator_.WaitIdle();
        return model_;
    }
    void Fresh() override {
        emulator_.Unplug();
        model_.Reset();  // plugs it in again, through the watcher
    }
    bool SeesReads() const override { return false; }
    bool Ready() const { return emulator_.OnBus(); }

  private:
    void Follow() {
        if (!model_.Connected()) {
            emulator_.Unplug();
            return;
        }
        if (emulator_.OnBus()) return;
        emulator_.Unplug();  // what is left of an adapter its model pulled
        std::string error;
        if (!emulator_.Plug(error)) qWarning("emulated IO-Warrior 24: %s", error.c_str());
    }

    VirtualAdapter model_;
    EmulatedIow24 emulator_;
};

}  // namespace quillon::iow
