#pragma once

// The virtual adapter behind the IowKit functions of a test executable that links the virtual
// backend, as an adapter rig.

#include "iow/virtual/virtual_backend.h"
#include "iowkit_contract.h"

namespace quillon::iow {

class VirtualRig : public AdapterRig {
  public:
    explicit VirtualRig(VirtualAdapter* adapter = &TheVirtualAdapter()) : link_(*adapter) {
        SetVirtualLink(*adapter, &link_);
    }
    ~VirtualRig() override { SetVirtualLink(link_.Model(), nullptr); }
    FaultyLink& Link() override { return link_; }
    void Fresh() override { link_.Reset(); }

  private:
    FaultyLink link_;
};

}  // namespace quillon::iow
