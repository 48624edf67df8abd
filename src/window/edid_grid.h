#pragma once

#include <QColor>
#include <QString>
#include <QTableWidget>

namespace quillon {

// One of the two 17 x 17 grids: row 0 and column 0 are fixed header cells, rows and columns
// 1..16 are byte cells. Byte cells cannot be edited; the operator can move the current cell
// and select a rectangle of byte cells.
//
// The selection is drawn in the cell grey, and the current cell always shows its painted
// colour, so the red progress mark stays visible on the cell being handled.
class EdidGrid : public QTableWidget {
    Q_OBJECT

  public:
    explicit EdidGrid(QWidget* parent = nullptr);

    // Lays the grid out anew: 17 columns as wide as the grid's width / 17 rounded, the header
    // row and column with their labels, 16 empty unpainted byte rows.
    void InitGrid();

    // Makes (row, column) the current cell and the whole selection.
    void MoveCurrentCell(int row, int column);
    // Paints the background of the cell (row, column).
    void PaintCell(int row, int column, QColor colour);
    void SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;
    // The painted colour of a cell; invalid when it has none.
    QColor CellColour(int row, int column) const;

    // The selection's texts: cells of a row joined by a tab, rows joined by a carriage return.
    QString SelectionText() const;

    // Whether Ctrl+C copies the selection to the clipboard. When off, Ctrl+C does nothing.
    void SetCopiesSelection(bool copies) { copiesSelection_ = copies; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QTableWidgetItem* CellItem(int row, int column);
    void SetHeaderCell(int row, int column, const QString& text);

    bool copiesSelection_ = false;
};

}  // namespace quillon
