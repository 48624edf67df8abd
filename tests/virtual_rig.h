#pragma once

// The virtual adapter behind the IowKit functions of a test executable that links the virtual
// backend, as an adapter rig.

#include "iow/virtual/virtual_backend.h"
#include "iowkit_contract.h"

namespace quillon::iow {

class VirtualRig : public AdapterRig {
  public:
    explicit VirtualRig(VirtualAdapter* adapter = &TheVirtualAdapter()) : adapter_(adapter) {}
    VirtualAdapter& Model() override { return *adapter_; }
    void Fresh() override { adapter_->Reset(); }

  private:
    VirtualAdapter* adapter_;
};

}  // namespace quillon::iow
