#pragma once

#include "image/grid_views.h"

namespace quillon {

class EdidGrid;

// The hex grid and the character grid seen as one pair of views of the image. Character grid
// first in every operation, as the operator sees the mark move in both at once.
class GridPair : public GridViews {
  public:
    GridPair(EdidGrid& hexGrid, EdidGrid& charGrid) : hexGrid_(hexGrid), charGrid_(charGrid) {}

    // Lays out the hex grid, then the character grid.
    void InitGrids();

    void MarkByteCells(int byteNumber) override;
    void SetByteCells(int byteNumber, std::uint8_t value) override;
    void ShadeByteCells(int byteNumber) override;
    std::string HexCellText(int byteNumber) const override;

  private:
    EdidGrid& hexGrid_;
    EdidGrid& charGrid_;
};

}  // namespace quillon
