#pragma once

#include <cstdint>

namespace quillon::iow {

// Whether `replyId`, the report id of a report read on the I2C pipe, answers the last request
// written there. A write request (id 2) and a read request (id 3) are answered by a report
// of the same id; any other report (a late answer to an earlier request that timed out) is
// not this request's reply. With no request written yet (id 0) every report is taken.
constexpr bool IsReplyTo(std::uint8_t requestId, std::uint8_t replyId) {
    if (requestId != 2 && requestId != 3) {
        return true;
    }
    return replyId == requestId;
}

}  // namespace quillon::iow
