#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Both grids have 17 rows and 17 columns: row 0 and column 0 are header cells, rows and
// columns 1..16 hold the 256 bytes.
inline constexpr int kGridLines = 17;

struct Cell {
    int row = 0;
    int column = 0;
    friend bool operator==(const Cell&, const Cell&) = default;
};

// The cell of byte number n (1..256) in both grids.
constexpr Cell CellOf(int byteNumber) {
    return Cell{(byteNumber - 1) / 16 + 1, (byteNumber - 1) % 16 + 1};
}

// "00".."FF": two upper-case hexadecimal digits.
std::string HexText(std::uint8_t value);

// The character grid's text: the character itself for codes 32..90 and 97..122, "." else.
std::string CharText(std::uint8_t value);

// Reads a hex cell's text back as a byte: two hexadecimal digits give their value, an empty
// cell gives 0. Any other text gives nothing (the cell does not hold a byte).
std::optional<std::uint8_t> ParseHexText(std::string_view text);

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t kMarkColour = 0xFF0000;      // progress and bad-block mark
inline constexpr std::uint32_t kOddRowShade = 0xDCDCDC;     // rows 1, 3, ..., 15
inline constexpr std::uint32_t kEvenRowShade = 0xD3D3D3;    // rows 2, 4, ..., 16
inline constexpr std::uint32_t kCellBackground = 0xDCDCDC;  // unpainted byte cells, selection
inline constexpr std::uint32_t kGridLineColour = 0xC0C0C0;

constexpr std::uint32_t RowShade(int row) { return row % 2 == 1 ? kOddRowShade : kEvenRowShade; }

}  // namespace quillon
