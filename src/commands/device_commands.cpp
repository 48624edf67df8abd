#include "commands/device_commands.h"

#include <cstdio>
#include <optional>
#include <tuple>
#include <vector>

#include "iic/iic.h"
#include "image/byte_cells.h"

namespace quillon {

namespace {

std::uint8_t OffsetOf(int byteNumber) { return static_cast<std::uint8_t>((byteNumber - 1) % 256); }

// The end of a device command's frame: close the adapter, then the gating sees the handle
// that the command opened, then the handle is dropped.
CommandOutcome EndDeviceCommand(CommandWindow& window, std::vector<ByteFault> faults) {
    window.CloseAdapter();
    window.EnableButtons();
    window.ResetHandle();
    return {true, std::move(faults)};
}

// The window closed during a yield: shut-down has already closed the adapter. Only the
// pointer and the controls are put back; no exchange is made.
CommandOutcome EndAborted(CommandWindow& window) {
    window.EnableButtons();
    return {};
}

// Read and Write EDID show two states per byte, each painted by one yield: the byte's red
// mark, then its outcome. Both yields that come between two bytes (the previous byte's
// outcome, this byte's mark) run while this byte's first request is on the wire, so the
// window repaints in time that the adapter takes anyway. The operator sees the same states in
// the same order; only the request leaves a little earlier. A close during either yield
// abandons the request: its reply is not read and nothing more is sent.
// BetweenBytes is that work: the previous byte's closing yield, then this byte's mark.
WhileWaiting BetweenBytes(CommandWindow& window, int byteNumber) {
    return [&window, byteNumber] {
        if (byteNumber > 1 && !window.YieldToWindow()) return false;
        window.Grids().MarkByteCells(byteNumber);
        return window.YieldToWindow();
    };
}

}  // namespace

CommandOutcome ReadEdid(CommandWindow& window) {
    const IowKitHandle handle = window.OpenAdapter();
    window.DisableButtons();
    AdapterAnswers adapter(handle);
    const int count = window.ByteCount();
    GridViews& grids = window.Grids();
    BlockChecksum checksum;
    std::vector<ByteFault> faults;
    for (int n = 1; n <= count; ++n) {
        const WhileWaiting betweenBytes = BetweenBytes(window, n);
        IicByte byte;
        if (adapter.Answering()) {
            byte = IicReadEepromByte(handle, OffsetOf(n), betweenBytes);
            adapter.Note(byte.noAnswer);
        } else if (!betweenBytes()) {
            return EndAborted(window);
        }
        if (byte.abandoned) return EndAborted(window);
        grids.SetByteCells(n, byte.value);
        window.EdidData()[n - 1] = byte.value;
        grids.ShadeByteCells(n);
        const bool badBlock = checksum.AddByte(n, byte.value);
        if (badBlock || !byte.ok) {
            grids.MarkByteCells(n);
        }
        if (!byte.ok) faults.push_back({OffsetOf(n), std::nullopt, std::nullopt});
    }
    if (count > 0 && !window.YieldToWindow()) return EndAborted(window);
    return EndDeviceCommand(window, std::move(faults));
}

// Two passes, each seen moving through the grids. The first writes every cell that holds two
// hex digits; an empty cell (a grid that was never filled) or any other text is not sent. The
// second reads back each byte the memory acknowledged, once every byte has been written: a
// memory smaller than the image (a 128-byte one ignores the high address bit and takes bytes
// 128..255 over 0..127) or a write-protected one (it acknowledges and keeps nothing) then
// shows as it is. A byte is shaded only when it read back as sent; every other stays red.
CommandOutcome WriteEdid(CommandWindow& window) {
    if (!window.ConfirmOverwrite()) {
        return {};
    }
    const IowKitHandle handle = window.OpenAdapter();
    window.DisableButtons();
    AdapterAnswers adapter(handle);
    const int count = window.ByteCount();
    GridViews& grids = window.Grids();
    std::vector<std::optional<std::uint8_t>> meant(count + 1);  // what each cell holds
    std::vector<bool> taken(count + 1, false);                  // acknowledged by the memory
    for (int n = 1; n <= count; ++n) {
        const WhileWaiting betweenBytes = BetweenBytes(window, n);
        // The operator cannot edit the cells, so reading the text before the yields gives the
        // same value as after them.
        const std::string text = grids.HexCellText(n);
        const std::optional<std::uint8_t> value = text.empty() ? std::nullopt : ParseHexText(text);
        meant[n] = value;
        if (value.has_value() && adapter.Answering()) {
            const IicWriteResult result =
                IicWriteEepromByte(handle, OffsetOf(n), *value, betweenBytes);
            if (result.abandoned) return EndAborted(window);
            adapter.Note(result.noAnswer);
            taken[n] = result.ok;
        } else if (!betweenBytes()) {
            return EndAborted(window);
        }
    }
    if (count > 0 && !window.YieldToWindow()) return EndAborted(window);
    std::vector<ByteFault> faults;
    for (int n = 1; n <= count; ++n) {
        if (!taken[n]) {  // red already
            faults.push_back({OffsetOf(n), meant[n], std::nullopt});
            continue;
        }
        const WhileWaiting mark = [&window, &grids, n] {
            grids.MarkByteCells(n);
            return window.YieldToWindow();
        };
        IicByte stored;
        if (adapter.Answering()) {
            stored = IicReadEepromByte(handle, OffsetOf(n), mark);  // its set-address polls out
            adapter.Note(stored.noAnswer);                          // the last write cycle
        } else if (!mark()) {
            return EndAborted(window);
        }
        if (stored.abandoned) return EndAborted(window);
        if (stored.ok && stored.value == *meant[n]) {
            grids.ShadeByteCells(n);
            if (!window.YieldToWindow()) return EndAborted(window);
        } else {
            faults.push_back(
                {OffsetOf(n), meant[n], stored.ok ? std::optional(stored.value) : std::nullopt});
        }
    }
    return EndDeviceCommand(window, std::move(faults));
}

std::string ScanLine(std::uint8_t addressByte) {
    char line[16];
    std::snprintf(line, sizeof line, "%u (%X)\r\n", addressByte, addressByte);
    return line;
}

ScanOutcome ScanBus(CommandWindow& window) {
    ScanOutcome outcome;
    window.DisableButtons();
    window.SetResultText("");
    if (!window.YieldToWindow()) {
        EndAborted(window);
        return outcome;
    }
    const IowKitHandle handle = window.OpenAdapter();
    AdapterAnswers adapter(handle);
    for (int address = 0; address <= 255 && adapter.Answering(); ++address) {
        const auto addressByte = static_cast<std::uint8_t>(address);
        const IicProbeResult probe = IicProbeAddress(handle, addressByte);
        adapter.Note(probe.noAnswer);
        if (probe.noAnswer) outcome.adapterAnswered = false;
        if (probe) {
            outcome.acknowledged.push_back(addressByte);
            window.SetResultText(window.ResultText() + ScanLine(addressByte));
            if (!window.YieldToWindow()) {
                EndAborted(window);
                return outcome;
            }
        }
    }
    if (!adapter.Answering()) outcome.adapterAnswered = false;
    window.CloseAdapter();
    window.ResetHandle();
    if (window.ResultText().empty()) {
        window.SetResultText(kNoDevicesText);
    }
    window.EnableButtons();
    outcome.finished = true;
    return outcome;
}

}  // namespace quillon
