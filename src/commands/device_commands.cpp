#include "commands/device_commands.h"

#include <cstdio>

#include "iic/iow_i2c_bus.h"
#include "image/byte_cells.h"

namespace quillon {

namespace {

template <typename Outcome>
Outcome Abandoned() {
    Outcome outcome;
    outcome.abandoned = true;
    return outcome;
}

// The end of a device command's frame: close the adapter, then the gating sees the handle
// that the command opened, then the handle is dropped. When the window closed during a yield,
// shut-down has already closed the adapter: only the pointer and the controls are put back.
template <typename Outcome>
Outcome EndDeviceCommand(CommandWindow& window, Outcome outcome) {
    if (!outcome.abandoned) window.CloseAdapter();
    window.EnableButtons();
    if (!outcome.abandoned) window.ResetHandle();
    return outcome;
}

// What Read and Write EDID show of the engine's bytes. Each byte shows two states, each painted
// by one yield: its red mark, then its outcome. Both yields that come between two bytes (the
// previous byte's outcome, this byte's mark) run while this byte's first request is on the wire,
// so the window repaints in time that the adapter takes anyway. A close during either yield
// abandons the request: its answer is not read and nothing more is sent.
class GridView : public TransferObserver {
  public:
    explicit GridView(CommandWindow& window)
        : window_(window), grids_(window.Grids()), count_(window.ByteCount()) {}

    bool UnitStarting(Pass pass, int offset, int) override {
        const int n = offset + 1;
        // The read-back marks its byte alone: the byte before it yielded when it was shaded.
        if (pass != Pass::Checking && n > 1 && !window_.YieldToWindow()) return false;
        grids_.MarkByteCells(n);
        return window_.YieldToWindow();
    }

    bool UnitDone(Pass pass, int offset, std::span<const std::optional<std::uint8_t>> values,
                  bool good) override {
        const int n = offset + 1;
        if (pass == Pass::Reading) {
            const std::uint8_t value = values[0].value_or(0);
            grids_.SetByteCells(n, value);
            window_.EdidData()[offset] = value;
            grids_.ShadeByteCells(n);
            if (checksum_.AddByte(n, value) || !good) grids_.MarkByteCells(n);
        }
        // A byte written stays red until it reads back as sent.
        if (pass == Pass::Checking && good) {
            grids_.ShadeByteCells(n);
            return window_.YieldToWindow();
        }
        return true;
    }

    // The last byte's closing yield; the read-back has had its own.
    bool PassDone(Pass pass) override {
        return pass == Pass::Checking || count_ == 0 || window_.YieldToWindow();
    }

  private:
    CommandWindow& window_;
    GridViews& grids_;
    int count_;
    BlockChecksum checksum_;
};

}  // namespace

MemoryOutcome ReadEdid(CommandWindow& window) {
    const IowKitHandle handle = window.OpenAdapter();
    window.DisableButtons();
    IowI2cBus bus(handle, kWindowReportBytes);
    GridView view(window);
    return EndDeviceCommand(window, ReadMemory(bus, window.ByteCount(), kBytePace, view));
}

// Two passes, each seen moving through the grids. The first writes every cell that holds two
// hex digits; an empty cell (a grid that was never filled) or any other text is not sent. The
// second reads back each byte the memory acknowledged, once every byte has been written: a
// memory smaller than the image (a 128-byte one ignores the high address bit and takes bytes
// 128..255 over 0..127) or a write-protected one (it acknowledges and keeps nothing) then
// shows as it is. A byte is shaded only when it read back as sent; every other stays red.
MemoryOutcome WriteEdid(CommandWindow& window) {
    if (!window.ConfirmOverwrite()) return Abandoned<MemoryOutcome>();
    const IowKitHandle handle = window.OpenAdapter();
    window.DisableButtons();
    // The operator cannot edit the cells, and no other command runs inside this one, so the
    // texts read now are those of every byte's turn.
    std::vector<std::optional<std::uint8_t>> meant;
    for (int n = 1; n <= window.ByteCount(); ++n) {
        const std::string text = window.Grids().HexCellText(n);
        meant.push_back(text.empty() ? std::nullopt : ParseHexText(text));
    }
    IowI2cBus bus(handle, kWindowReportBytes);
    GridView view(window);
    return EndDeviceCommand(window, ProgramMemory(bus, meant, kBytePace, view));
}

std::string ScanLine(std::uint8_t addressByte) {
    char line[16];
    std::snprintf(line, sizeof line, "%u (%X)\r\n", addressByte, addressByte);
    return line;
}

BusScan ScanBus(CommandWindow& window) {
    window.DisableButtons();
    window.SetResultText("");
    if (!window.YieldToWindow()) return EndDeviceCommand(window, Abandoned<BusScan>());
    IowI2cBus bus(window.OpenAdapter(), kWindowReportBytes);
    BusScan scan =
        ScanAddresses(bus, ScanProbes::EveryAddressByte, [&window](std::uint8_t addressByte) {
            window.SetResultText(window.ResultText() + ScanLine(addressByte));
            return window.YieldToWindow();
        });
    if (scan.abandoned) return EndDeviceCommand(window, std::move(scan));
    window.CloseAdapter();
    window.ResetHandle();
    if (window.ResultText().empty()) window.SetResultText(kNoDevicesText);
    window.EnableButtons();
    return scan;
}

}  // namespace quillon
