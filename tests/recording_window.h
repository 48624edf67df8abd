#pragma once

#include "commands/command_window.h"
#include "recording_grids.h"

namespace quillon::testing {

// The window side of a device command without widgets: grids that record, a yield that logs
// "yield", and the gating and result box as plain state.
class RecordingWindow : public CommandWindow {
  public:
    RecordingGrids grids;
    bool buttonsEnabled = true;
    std::int16_t byteCount = 256;
    std::string result;

    IowKitHandle OpenAdapter() override { return handle_ = IowKitOpenDevice(); }
    void CloseAdapter() override { IowKitCloseDevice(handle_); }
    void ResetHandle() override { handle_ = 0; }
    IowKitHandle Handle() const override { return handle_; }
    void DisableButtons() override { buttonsEnabled = false; }
    void EnableButtons() override { buttonsEnabled = true; }
    bool YieldToWindow() override { return grids.log << "yield", true; }
    std::int16_t ByteCount() const override { return byteCount; }
    EdidImage& EdidData() override { return image; }
    GridViews& Grids() override { return grids; }
    bool ConfirmOverwrite() override { return true; }
    std::string ResultText() const override { return result; }
    void SetResultText(const std::string& text) override { result = text; }

    EdidImage image{};

  private:
    IowKitHandle handle_ = 0;
};

}  // namespace quillon::testing
