#pragma once

// The virtual adapter behind the IowKit functions of a test executable that links the virtual
// backend, as an adapter rig.

#include "iow/virtual/virtual_backend.h"
#include "iowkit_contract.h"

namespace quillon::iow {

class VirtualRig : public AdapterRig {
  public:
    VirtualAdapter& Model() override { return TheVirtualAdapter(); }
    void Fresh() override { TheVirtualAdapter().Reset(); }
};

}  // namespace quillon::iow
