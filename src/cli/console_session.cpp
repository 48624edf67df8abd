#include "cli/console_session.h"

#include "image/byte_cells.h"

namespace quillon::cli {

namespace {
constexpr int kBarCells = 32;
}

ConsoleSession::ConsoleSession(IowKitHandle handle, std::int16_t byteCount, QTextStream* progress,
                               std::vector<QString> passLabels, std::function<bool()> confirm)
    : handle_(handle),
      byteCount_(byteCount),
      progress_(progress),
      passLabels_(std::move(passLabels)),
      confirm_(std::move(confirm)) {}

ConsoleSession::~ConsoleSession() { CloseAdapter(); }

void ConsoleSession::CloseAdapter() {
    if (open_) IowKitCloseDevice(handle_);
    open_ = false;
}

void ConsoleSession::EnableButtons() {
    if (progress_ != nullptr && drawn_) *progress_ << '\n' << Qt::flush;
    drawn_ = false;
}

void ConsoleSession::MarkByteCells(int byteNumber) {
    if (byteNumber <= lastByte_ && pass_ + 1 < passLabels_.size()) ++pass_;
    lastByte_ = byteNumber;
    if (progress_ == nullptr || byteCount_ <= 0) return;
    const int filled = byteNumber * kBarCells / byteCount_;
    const QString label = pass_ < passLabels_.size() ? passLabels_[pass_] : QString();
    *progress_ << '\r' << label.leftJustified(9) << " [" << QString(filled, u'#')
               << QString(kBarCells - filled, u'.') << "] " << byteNumber << '/' << byteCount_
               << Qt::flush;
    drawn_ = true;
}

std::string ConsoleSession::HexCellText(int byteNumber) const {
    return HexText(image_[byteNumber - 1]);
}

}  // namespace quillon::cli
