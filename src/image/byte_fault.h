#pragma once

#include <cstdint>
#include <optional>

namespace quillon {

// A byte that did not end as it should: the value meant for it (none for a read, or for a cell
// that held no byte) and the value the memory gave back (none when it did not answer).
struct ByteFault {
    int offset = 0;
    std::optional<std::uint8_t> expected;
    std::optional<std::uint8_t> found;
    friend bool operator==(const ByteFault&, const ByteFault&) = default;
};

}  // namespace quillon
