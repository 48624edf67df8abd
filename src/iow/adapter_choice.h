#pragma once

// This program's own additions to the adapter library's functions, defined by each backend, for
// a computer with several adapters (one per fixture): list the attached adapters without holding
// any, and open only the one with a given serial number, so that the others stay free for other
// programs. Each open gives a handle of its own; handles may be used from one thread each at the
// same time.

#include <cstdint>
#include <string>
#include <vector>

#include "iow/iowkit.h"

namespace quillon::iow {

struct AttachedAdapter {
    // Held: another program has it open. Unsupported: a product whose I2C function this
    // program does not drive; it is never opened.
    enum class Access { Free, Held, Denied, Unsupported };
    std::string serial;
    std::uint32_t productId = 0;
    Access access = Access::Free;
    std::string productName;  // of an unsupported one
};

// The adapters attached now, in the order of their nodes. To tell whether one is held
// (`tellAccess`), its I2C node is opened for a moment and closed again, which another program
// opening it at that moment would find busy; without, access says Free and nothing is opened.
std::vector<AttachedAdapter> ListAttachedAdapters(bool tellAccess = true);

// Opens the adapter with serial number `serial` and nothing else; 0 when it is not attached or
// cannot be opened (ListAttachedAdapters then says why). Close it with IowKitCloseDevice.
IowKitHandle OpenAdapterWithSerial(const std::string& serial);

}  // namespace quillon::iow
