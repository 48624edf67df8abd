#include "iow/reply_sync.h"

namespace quillon::iow {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

bool DiscardQueued(ReportQueue& queue) {
    std::vector<std::uint8_t> report;
    for (;;) {
        switch (queue.TryTake(report)) {
            case ReportQueue::Take::Got:
                continue;
            case ReportQueue::Take::Empty:
                return true;
            case ReportQueue::Take::Gone:
                return false;
        }
    }
}

namespace {

// An adapter that keeps sending reports without being asked is not one to talk to.
constexpr int kResyncLimitQuietPeriods = 10;

}  // namespace

bool ReplySync::BeforeRequest(ReportQueue& queue) {
    if (!DiscardQueued(queue)) return false;
    if (!outstanding_) return true;
    const auto giveUp =
        Clock::now() + std::chrono::milliseconds(quietMs_) * kResyncLimitQuietPeriods;
    for (;;) {
        if (Clock::now() >= giveUp) return false;
        switch (queue.WaitQueued(quietMs_)) {
            case ReportQueue::Wait::TimedOut:
                outstanding_ = false;  // quiet: whatever was late has come or never will
                return true;
            case ReportQueue::Wait::Gone:
                return false;
            case ReportQueue::Wait::Ready:
                if (!DiscardQueued(queue)) return false;
                break;
        }
    }
}

void ReplySync::RequestSent(std::uint8_t requestId) {
    requestId_ = requestId;
    if (ExpectsReply(requestId)) outstanding_ = true;
}

std::vector<std::uint8_t> ReplySync::AwaitReply(ReportQueue& queue, int timeoutMs) {
    if (!outstanding_ || !ExpectsReply(requestId_)) return {};  // no request waits for one
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> report;
    for (;;) {
        switch (queue.TryTake(report)) {
            case ReportQueue::Take::Gone:
                return {};
            case ReportQueue::Take::Got:
                if (report.empty() || !IsReplyTo(requestId_, report[0])) {
                    return {};  // not this request's: it stays outstanding, the next resyncs
                }
                outstanding_ = false;
                requestId_ = 0;  // one reply per request
                return report;
            case ReportQueue::Take::Empty:
                break;
        }
        // Empty although the wait said ready: look again while time is left.
        if (Clock::now() >= deadline ||
            queue.WaitQueued(MsUntil(deadline)) != ReportQueue::Wait::Ready) {
            return {};
        }
    }
}

}  // namespace quillon::iow
