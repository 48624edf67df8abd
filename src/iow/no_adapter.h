#pragma once

// Why IowKitOpenDevice found no adapter, so that a program can tell the operator how to mend
// it. Each backend defines WhyNoAdapter; call it right after an open that returned 0.

namespace quillon::iow {

enum class NoAdapterReason {
    NoneAttached,     // no adapter is plugged in (or none that pairs into one)
    DriverNotLoaded,  // the kernel's iowarrior driver is not loaded
    NoPermission,     // an adapter is there, but this user may not open it
    Busy,             // an adapter is there, but another program holds it open
};

NoAdapterReason WhyNoAdapter();

}  // namespace quillon::iow
