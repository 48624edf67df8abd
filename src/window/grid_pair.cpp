#include "window/grid_pair.h"

#include "image/byte_cells.h"
#include "window/edid_grid.h"

namespace quillon {

void GridPair::InitGrids() {
    hexGrid_.InitGrid();
    charGrid_.InitGrid();
}

void GridPair::MarkByteCells(int byteNumber) {
    const Cell cell = CellOf(byteNumber);
    const QColor red = QColor::fromRgb(kMarkColour);
    charGrid_.MoveCurrentCell(cell.row, cell.column);
    charGrid_.PaintCell(cell.row, cell.column, red);
    hexGrid_.MoveCurrentCell(cell.row, cell.column);
    hexGrid_.PaintCell(cell.row, cell.column, red);
}

void GridPair::SetByteCells(int byteNumber, std::uint8_t value) {
    const Cell cell = CellOf(byteNumber);
    charGrid_.SetCellText(cell.row, cell.column, QString::fromStdString(CharText(value)));
    hexGrid_.SetCellText(cell.row, cell.column, QString::fromStdString(HexText(value)));
}

void GridPair::ShadeByteCells(int byteNumber) {
    const Cell cell = CellOf(byteNumber);
    const QColor shade = QColor::fromRgb(RowShade(cell.row));
    charGrid_.PaintCell(cell.row, cell.column, shade);
    hexGrid_.PaintCell(cell.row, cell.column, shade);
}

std::string GridPair::HexCellText(int byteNumber) const {
    const Cell cell = CellOf(byteNumber);
    return hexGrid_.CellText(cell.row, cell.column).toStdString();
}

}  // namespace quillon
