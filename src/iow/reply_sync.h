#pragma once

// Keeps the replies of the adapter's I2C function tied to their requests. The kernel driver
// queues every report of the function in order, ties none to a request and keeps unread ones
// across close and open; the function's replies carry nothing that tells two requests of one
// kind apart. So a report queued before a request was sent never answers it, and once a reply
// went missing (a time-out, a request abandoned) the queue is let run quiet before the next
// request: the late reply may still come. Shared by every backend that queues replies.

#include <chrono>
#include <cstdint>
#include <vector>

namespace quillon::iow {

// One node's report queue, as a backend reaches it.
class ReportQueue {
  public:
    enum class Take { Got, Empty, Gone };
    enum class Wait { Ready, TimedOut, Gone };
    virtual ~ReportQueue() = default;
    // Takes the oldest queued report into `report` without waiting.
    virtual Take TryTake(std::vector<std::uint8_t>& report) = 0;
    // Waits at most `timeoutMs` until a report is queued.
    virtual Wait WaitQueued(int timeoutMs) = 0;
};

// Milliseconds left until `deadline`, 0 once it has passed: what a bounded wait is given.
inline int MsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Takes and drops every queued report; false when the node is gone.
bool DiscardQueued(ReportQueue& queue);

// Whether `replyId`, the id of a report read on the I2C pipe, can answer a request of id
// `requestId`: a write request (2) and a read request (3) are answered by a report of the same
// id. Any other request (the enable report, 1) gets no reply.
constexpr bool IsReplyTo(std::uint8_t requestId, std::uint8_t replyId) {
    return (requestId == 2 || requestId == 3) && replyId == requestId;
}

constexpr bool ExpectsReply(std::uint8_t requestId) { return requestId == 2 || requestId == 3; }

class ReplySync {
  public:
    // How long the queue must stay empty before it counts as quiet again (backends use the
    // read time-out: a reply later than that is already a fault).
    explicit ReplySync(int quietMs) : quietMs_(quietMs) {}
    void SetQuietMs(int quietMs) { quietMs_ = quietMs; }

    // After an open: whether a reply to a request made through an earlier open may still come.
    void SetOutstanding(bool outstanding) { outstanding_ = outstanding; }
    bool Outstanding() const { return outstanding_; }

    // Call right before a request is sent. Discards what is queued; after a
    // missing reply, discards until the queue stayed quiet for the quiet time. False when the
    // queue could not be brought quiet (or the node is gone): the request must not be sent.
    bool BeforeRequest(ReportQueue& queue);
    // Call once the request went out.
    void RequestSent(std::uint8_t requestId);
    // Waits at most `timeoutMs` for the reply to the request sent last. Returns its bytes, or
    // nothing when no reply came, the node is gone, or a report came that cannot be this
    // request's reply (the request then fails: it is never guessed).
    std::vector<std::uint8_t> AwaitReply(ReportQueue& queue, int timeoutMs);

  private:
    int quietMs_;
    std::uint8_t requestId_ = 0;
    bool outstanding_ = false;  // a reply that was not taken may still arrive
};

}  // namespace quillon::iow
