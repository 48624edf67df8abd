#pragma once

// The state that the device commands work on, kept for one run of the command-line program:
// the adapter it opened, the byte count, the image, and a progress bar in place of the grids.

#include <QString>
#include <QTextStream>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_window.h"
#include "image/grid_views.h"

namespace quillon::cli {

class ConsoleSession : public CommandWindow, public GridViews {
  public:
    // `handle` is an open adapter; the session closes it (once) when a command ends or when
    // the session goes. The progress bar is drawn on `progress` when it is not null: a pass's
    // label from `passLabels` (a pass starts where the byte number goes back), a bar and the
    // byte number. `confirm` answers ConfirmOverwrite.
    ConsoleSession(IowKitHandle handle, std::int16_t byteCount, QTextStream* progress,
                   std::vector<QString> passLabels, std::function<bool()> confirm);
    ~ConsoleSession() override;

    IowKitHandle OpenAdapter() override { return handle_; }
    void CloseAdapter() override;
    void ResetHandle() override { handle_ = 0; }
    IowKitHandle Handle() const override { return handle_; }
    void DisableButtons() override {}
    void EnableButtons() override;  // the end of a command: the progress line is closed
    bool YieldToWindow() override { return true; }
    std::int16_t ByteCount() const override { return byteCount_; }
    EdidImage& EdidData() override { return image_; }
    GridViews& Grids() override { return *this; }
    bool ConfirmOverwrite() override { return confirm_(); }
    std::string ResultText() const override { return resultText_; }
    void SetResultText(const std::string& text) override { resultText_ = text; }

    void MarkByteCells(int byteNumber) override;
    void SetByteCells(int, std::uint8_t) override {}
    void ShadeByteCells(int) override {}
    // The image's byte: what the command writes.
    std::string HexCellText(int byteNumber) const override;

  private:
    IowKitHandle handle_;
    bool open_ = true;
    std::int16_t byteCount_;
    EdidImage image_{};
    std::string resultText_;
    QTextStream* progress_;
    std::vector<QString> passLabels_;
    std::function<bool()> confirm_;
    std::size_t pass_ = 0;
    int lastByte_ = 0;
    bool drawn_ = false;
};

}  // namespace quillon::cli
