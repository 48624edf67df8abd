#pragma once

#include <QStringList>
#include <array>
#include <optional>

#include "image/byte_cells.h"
#include "image/grid_views.h"

namespace quillon::testing {

// Records every grid operation as a line, e.g. "mark 5", "set 5 41", "shade 5"; callers add
// their own lines (a yield) to the same log. A cell's hex text is what was last set in it.
class RecordingGrids : public GridViews {
  public:
    QStringList log;
    void MarkByteCells(int n) override { log << QStringLiteral("mark %1").arg(n); }
    void SetByteCells(int n, std::uint8_t b) override {
        log << QStringLiteral("set %1 %2").arg(n).arg(QString::fromStdString(HexText(b)));
        cells_[n - 1] = b;
    }
    void ShadeByteCells(int n) override { log << QStringLiteral("shade %1").arg(n); }
    std::string HexCellText(int n) const override {
        return cells_[n - 1] ? HexText(*cells_[n - 1]) : std::string();
    }

  private:
    std::array<std::optional<std::uint8_t>, 256> cells_{};
};

}  // namespace quillon::testing
