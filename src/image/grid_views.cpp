#include "image/grid_views.h"

namespace quillon {

bool ShowImage(const EdidImage& image, GridViews& grids, const YieldToWindow& yield) {
    BlockChecksum checksum;
    for (int n = 1; n <= kEdidBytes; ++n) {
        grids.MarkByteCells(n);
        if (!yield()) {
            return false;
        }
        const std::uint8_t value = image[n - 1];
        grids.SetByteCells(n, value);
        grids.ShadeByteCells(n);
        if (checksum.AddByte(n, value)) {
            grids.MarkByteCells(n);
        }
        if (!yield()) {
            return false;
        }
    }
    return true;
}

}  // namespace quillon
