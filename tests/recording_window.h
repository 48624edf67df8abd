#pragma once

#include "commands/command_window.h"
#include "recording_grids.h"

namespace quillon::testing {

// The window side of Read and Write EDID without widgets: grids that record, a yield that logs
// "yield", 256 bytes chosen, the write confirmed.
class RecordingWindow : public CommandWindow {
  public:
    RecordingGrids grids;

    IowKitHandle OpenAdapter() override { return handle_ = IowKitOpenDevice(); }
    void CloseAdapter() override { IowKitCloseDevice(handle_); }
    void ResetHandle() override { handle_ = 0; }
    IowKitHandle Handle() const override { return handle_; }
    void DisableButtons() override {}
    void EnableButtons() override {}
    bool YieldToWindow() override { return grids.log << "yield", true; }
    std::int16_t ByteCount() const override { return 256; }
    EdidImage& EdidData() override { return image; }
    GridViews& Grids() override { return grids; }
    bool ConfirmOverwrite() override { return true; }
    std::string ResultText() const override { return {}; }
    void SetResultText(const std::string&) override {}

    EdidImage image{};

  private:
    IowKitHandle handle_ = 0;
};

}  // namespace quillon::testing
