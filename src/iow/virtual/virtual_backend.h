#pragma once

#include "iow/virtual/virtual_adapter.h"

namespace quillon::iow {

// The one emulated adapter behind the IowKit functions of the virtual backend. The demo
// executable and the tests set it up before the window opens; the window never touches it.
VirtualAdapter& TheVirtualAdapter();

}  // namespace quillon::iow
