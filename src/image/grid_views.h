#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "image/edid_image.h"

namespace quillon {

// The per-byte cell operations on the hex grid and the character grid. Every operation
// addresses byte n's own cell, CellOf(n), whatever cell the operator has clicked.
class GridViews {
  public:
    virtual ~GridViews() = default;

    // Makes CellOf(n) the current cell of the character grid and paints it red, then the
    // same in the hex grid.
    virtual void MarkByteCells(int byteNumber) = 0;
    // Writes the character text, then the hex text of `value` into CellOf(n).
    virtual void SetByteCells(int byteNumber, std::uint8_t value) = 0;
    // Paints CellOf(n) in the character grid, then in the hex grid, with its row's shade.
    virtual void ShadeByteCells(int byteNumber) = 0;
    // The text that the hex grid shows in CellOf(n).
    virtual std::string HexCellText(int byteNumber) const = 0;
};

// Lets the window repaint and handle input. Returns false when the window is closing: the
// caller must then stop at once and touch neither the grids nor the adapter again.
using YieldToWindow = std::function<bool()>;

// The display pass: shows all 256 bytes of `image` in both grids with the progress mark,
// the row shades and the bad-block marks, yielding twice per byte. Reads the image only.
// Returns false when a yield said that the window is closing.
bool ShowImage(const EdidImage& image, GridViews& grids, const YieldToWindow& yield);

}  // namespace quillon
