#pragma once

#include <functional>

#include "commands/command_window.h"
#include "recording_grids.h"

namespace quillon::testing {

// The window side of a device command without widgets: grids that record, a yield that logs
// "yield" and can report the window closing (it then closes the adapter, as shut-down does),
// and the gating and result box as plain state.
class RecordingWindow : public CommandWindow {
  public:
    RecordingGrids grids;
    int refuseYield = -1;             // the yield (counted from 0) that reports the window closing
    std::function<void()> onRefusal;  // runs at that yield, before the adapter is closed
    int yields = 0;
    bool buttonsEnabled = true;
    std::int16_t byteCount = 256;
    std::string result;

    IowKitHandle OpenAdapter() override { return handle_ = IowKitOpenDevice(); }
    void CloseAdapter() override { IowKitCloseDevice(handle_); }
    void ResetHandle() override { handle_ = 0; }
    IowKitHandle Handle() const override { return handle_; }
    void DisableButtons() override { buttonsEnabled = false; }
    void EnableButtons() override { buttonsEnabled = true; }
    bool YieldToWindow() override {
        grids.log << "yield";
        if (yields++ == refuseYield) {
            if (onRefusal) onRefusal();
            IowKitCloseDevice(handle_);
            return false;
        }
        return true;
    }
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
