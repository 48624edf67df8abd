// The IowKit functions and this program's additions beside them, once, over the backend that
// the executable links.
#include "iow/iowkit.h"

#include <atomic>

#include "iow/adapter_backend.h"
#include "iow/handle_table.h"
#include "iow/report_size.h"
#include "iow/serial_number.h"

namespace quillon::iow {
namespace {

// The backends' time-out until a program sets its own.
constexpr std::uint32_t kDefaultTimeoutMs = 1000;

struct Kit {
    HandleTable<OpenAdapter> handles;
    std::atomic<std::uint32_t> timeoutMs = kDefaultTimeoutMs;  // kept for later opens too
};

Kit& TheKit() {
    static Kit kit;
    return kit;
}

IowKitHandle AddGroup(std::vector<std::unique_ptr<OpenAdapter>> adapters) {
    for (const auto& adapter : adapters) adapter->SetTimeout(TheKit().timeoutMs);
    return TheKit().handles.AddGroup(std::move(adapters));
}

// The open adapter of `handle` when `pipe` is one of its two; nullptr otherwise.
OpenAdapter* Find(IowKitHandle handle, std::uint32_t pipe = kIowPipeI2c) {
    return pipe == kIowPipeIoPorts || pipe == kIowPipeI2c ? TheKit().handles.Find(handle) : nullptr;
}

}  // namespace

std::vector<AttachedAdapter> ListAttachedAdapters(bool tellAccess) {
    return TheBackend().List(tellAccess);
}

IowKitHandle OpenAdapterWithSerial(const std::string& serial) {
    std::vector<std::unique_ptr<OpenAdapter>> adapters;
    if (auto adapter = TheBackend().OpenSerial(serial)) adapters.push_back(std::move(adapter));
    return AddGroup(std::move(adapters));
}

NoAdapterReason WhyNoAdapter() { return TheBackend().WhyNone(); }

std::uint32_t ReportBytes(IowKitHandle handle, std::uint32_t pipe) {
    const OpenAdapter* adapter = Find(handle, pipe);
    return adapter != nullptr ? adapter->Facts().reportBytes[pipe] : 0;
}

}  // namespace quillon::iow

using quillon::iow::Find;
using quillon::iow::TheKit;

IowKitHandle IowKitOpenDevice() {
    return quillon::iow::AddGroup(quillon::iow::TheBackend().OpenAll());
}

void IowKitCloseDevice(IowKitHandle handle) { TheKit().handles.RemoveGroupOf(handle); }

bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs) {
    quillon::iow::OpenAdapter* adapter = Find(handle);
    if (adapter == nullptr) return false;
    TheKit().timeoutMs = timeoutMs;
    adapter->SetTimeout(timeoutMs);
    return true;
}

std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length) {
    quillon::iow::OpenAdapter* adapter = Find(handle, pipe);
    return adapter != nullptr && buffer != nullptr ? adapter->Write(pipe, buffer, length) : 0;
}

std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length) {
    quillon::iow::OpenAdapter* adapter = Find(handle, pipe);
    return adapter != nullptr && buffer != nullptr && length > 0
               ? adapter->Read(pipe, buffer, length)
               : 0;
}

std::uint32_t IowKitGetProductId(IowKitHandle handle) {
    const quillon::iow::OpenAdapter* adapter = Find(handle);
    return adapter != nullptr ? adapter->Facts().productId : 0;
}

std::uint32_t IowKitGetRevision(IowKitHandle handle) {
    const quillon::iow::OpenAdapter* adapter = Find(handle);
    return adapter != nullptr ? adapter->Facts().revision : 0;
}

bool IowKitGetSerialNumber(IowKitHandle handle, std::uint8_t* buffer) {
    const quillon::iow::OpenAdapter* adapter = Find(handle);
    if (adapter == nullptr || buffer == nullptr) return false;
    quillon::iow::WriteSerialAsUtf16(adapter->Facts().serial, buffer);
    return true;
}

std::uint32_t IowKitGetNumDevs() { return TheKit().handles.NewestGroupSize(); }

IowKitHandle IowKitGetDeviceHandle(std::uint32_t deviceNumber) {
    return TheKit().handles.NewestGroupHandle(deviceNumber);
}
