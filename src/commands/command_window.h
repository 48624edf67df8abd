#pragma once

#include <cstdint>
#include <string>

#include "image/edid_image.h"
#include "image/grid_views.h"
#include "iow/iowkit.h"

namespace quillon {

// What the device commands need of the window that owns the state. The window runs one
// command at a time and keeps IowHandle, the image, the byte count and the grids.
class CommandWindow {
  public:
    virtual ~CommandWindow() = default;

    // IowHandle <- IowKitOpenDevice(). A handle that Clear left open is closed first, so no
    // handle is leaked. Returns the new IowHandle.
    virtual IowKitHandle OpenAdapter() = 0;
    // IowKitCloseDevice(IowHandle); IowHandle keeps its value until ResetHandle.
    virtual void CloseAdapter() = 0;
    virtual void ResetHandle() = 0;
    virtual IowKitHandle Handle() const = 0;

    virtual void DisableButtons() = 0;
    virtual void EnableButtons() = 0;
    // Lets the window repaint and take input. False once the window is closing: shut-down
    // has then switched the adapter off and closed it, and the command must stop at once.
    virtual bool YieldToWindow() = 0;

    virtual std::int16_t ByteCount() const = 0;
    virtual EdidImage& EdidData() = 0;
    virtual GridViews& Grids() = 0;

    // Asks the operator before the memory is overwritten; true only for Yes.
    virtual bool ConfirmOverwrite() = 0;

    // The scan's result box.
    virtual std::string ResultText() const = 0;
    virtual void SetResultText(const std::string& text) = 0;
};

}  // namespace quillon
