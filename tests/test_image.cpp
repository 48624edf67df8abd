// The byte texts, the cell arithmetic and the display pass's stop, without a window: the pass
// runs over a recording fake of the two grids. (What the pass paints: the window's cases.)
#include <QtTest>

#include "image/byte_cells.h"
#include "image/edid_layout.h"
#include "image/grid_views.h"
#include "recording_grids.h"

using namespace quillon;

class TestImage : public QObject {
    Q_OBJECT

  private slots:
    void cells() {
        const std::pair<int, Cell> corners[] = {{1, {1, 1}},    {16, {1, 16}}, {17, {2, 1}},
                                                {128, {8, 16}}, {129, {9, 1}}, {256, {16, 16}}};
        for (const auto& [n, cell] : corners) QCOMPARE(CellOf(n), cell);
        QSet<int> seen;
        for (int n = 1; n <= 256; ++n) seen << CellOf(n).row * 100 + CellOf(n).column;
        QCOMPARE(seen.size(), 256);
    }

    void byteTexts() {
        // value, hex text, character text: letters, digits, space and punctuation show; the
        // characters between the two alphabets, control codes and codes above 122 do not.
        const std::tuple<int, const char*, const char*> rows[] = {
            {0x00, "00", "."}, {0x1F, "1F", "."}, {0x20, "20", " "}, {0x41, "41", "A"},
            {0x5A, "5A", "Z"}, {0x5B, "5B", "."}, {0x60, "60", "."}, {0x61, "61", "a"},
            {0x7A, "7A", "z"}, {0x7B, "7B", "."}, {0x7E, "7E", "."}, {0x80, "80", "."},
            {0xAB, "AB", "."}, {0xFF, "FF", "."}};
        for (const auto& [value, hex, character] : rows) {
            QCOMPARE(HexText(std::uint8_t(value)), std::string(hex));
            QCOMPARE(CharText(std::uint8_t(value)), std::string(character));
            QCOMPARE(ParseHexText(hex), std::optional<std::uint8_t>(value));
        }
        QCOMPARE(ParseHexText(""), std::optional<std::uint8_t>(0));  // an empty cell
        QCOMPARE(ParseHexText("a5"), std::optional<std::uint8_t>(0xA5));
        for (const char* junk : {"G0", "0G", "1", "100", " 1"}) QVERIFY2(!ParseHexText(junk), junk);
    }

    // Closed at either of a byte's two yields, the pass stops there.
    void displayPassStopsWhenTheWindowCloses() {
        for (const auto& [closedAt, last] : {std::pair{1, "mark 1"}, {2, "shade 1"}}) {
            testing::RecordingGrids grids;
            int yields = 0;
            QVERIFY(!ShowImage(EdidImage{}, grids, [&] { return ++yields < closedAt; }));
            QCOMPARE(yields, closedAt);
            QCOMPARE(grids.log.value(grids.log.size() - 1), QString(last));
        }
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
