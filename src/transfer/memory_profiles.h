#pragma once

// The memories an EDID is kept in, by what their data sheets say: size, page, how bytes past
// the first 256 are reached, and the longest write cycle. The command line's --memory names one.

#include <string_view>

#include "iic/i2c_bus.h"

namespace quillon {

struct MemoryProfile {
    const char* name;
    int bytes;
    int pageBytes;  // --page-bytes' default
    Addressing addressing;
    int writeCycleMs;
    const char* about;  // for --help
};

inline constexpr MemoryProfile kMemoryProfiles[] = {
    {"24c02", 256, 8, Addressing::OneAddress, 10,
     "24C01, 24C02, 24LC21A: up to 256 bytes at 0xA0, 8-byte pages (the default)"},
    {"24c04", 512, 16, Addressing::BlockSelect, 5, "24C04: 512 bytes at 0xA0 and 0xA2"},
    {"24c08", 1024, 16, Addressing::BlockSelect, 5, "24C08: 1024 bytes at 0xA0 to 0xA6"},
    {"24c16", 2048, 16, Addressing::BlockSelect, 5, "24C16: 2048 bytes at 0xA0 to 0xAE"},
    {"e-ddc", 1024, 16, Addressing::Segment, 5,
     "E-DDC segment memories (CAT24C208): 4 segments of 256 bytes at 0xA0, the segment "
     "written to 0x60 first"},
};

inline const MemoryProfile& DefaultMemory() { return kMemoryProfiles[0]; }

// The profile named `name` (case as listed); nullptr for none.
inline const MemoryProfile* FindMemoryProfile(std::string_view name) {
    for (const MemoryProfile& profile : kMemoryProfiles)
        if (name == profile.name) return &profile;
    return nullptr;
}

}  // namespace quillon
