#pragma once

// What an adapter backend implements: list the adapters, open one by serial number, open all as
// the window does, say why none opened; an open adapter writes and reads reports and gives its
// facts. The IowKit functions (iowkit.h) and this program's additions beside them are defined
// once over it (iowkit.cpp). Each backend library defines TheBackend(); an executable links one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iow/adapter_choice.h"
#include "iow/no_adapter.h"

namespace quillon::iow {

struct AdapterFacts {
    std::uint32_t productId = 0;
    std::uint32_t revision = 0;
    std::string serial;
    std::uint32_t reportBytes[2] = {0, 0};  // of pipe 0 (IO ports) and pipe 1 (I2C)
};

// An open adapter; closed when destroyed. May be used from one thread while other adapters are
// used from others.
class OpenAdapter {
  public:
    virtual ~OpenAdapter() = default;
    virtual const AdapterFacts& Facts() const = 0;
    // The longest wait of a read, and of a write that the adapter does not take.
    virtual void SetTimeout(std::uint32_t timeoutMs) = 0;
    // As IowKitWrite and IowKitRead; `pipe` is 0 or 1 and `buffer` is given.
    virtual std::uint32_t Write(std::uint32_t pipe, const std::uint8_t* buffer,
                                std::uint32_t length) = 0;
    virtual std::uint32_t Read(std::uint32_t pipe, std::uint8_t* buffer, std::uint32_t length) = 0;
};

class AdapterBackend {
  public:
    virtual ~AdapterBackend() = default;
    // As ListAttachedAdapters.
    virtual std::vector<AttachedAdapter> List(bool tellAccess) = 0;
    // Every attached adapter that can be opened, in the order of the list.
    virtual std::vector<std::unique_ptr<OpenAdapter>> OpenAll() = 0;
    // The adapter with serial number `serial` alone; none when it is not attached or cannot be
    // opened.
    virtual std::unique_ptr<OpenAdapter> OpenSerial(const std::string& serial) = 0;
    // Why OpenAll found nothing.
    virtual NoAdapterReason WhyNone() = 0;
};

// The backend that the executable links.
AdapterBackend& TheBackend();

}  // namespace quillon::iow
