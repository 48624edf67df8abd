#pragma once

#include <vector>

#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

// The first emulated adapter behind the IowKit functions of the virtual backend. The demo
// executable and the tests set it up before the window opens; the window never touches it.
VirtualAdapter& TheVirtualAdapter();

// Makes `count` emulated adapters attached (the first is TheVirtualAdapter), with serial numbers
// 0000A5E1, 0000A5E2, ...; adapters past `count` go (none may be open). For tests of several
// fixtures; set up before the threads that use them start.
std::vector<VirtualAdapter*> UseVirtualAdapters(int count);

// Puts `link` between the host and `adapter` (nullptr: nothing), for tests that break the link.
// Set up while the adapter is closed.
void SetVirtualLink(VirtualAdapter& adapter, AdapterLink* link);

}  // namespace quillon::iow
