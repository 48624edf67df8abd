// The image's checksum rule, the byte texts, cell arithmetic and the display pass, without a
// window: the pass runs over a recording fake of the two grids.
#include <QtTest>

#include "image/byte_cells.h"
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

    // Each block's bytes must add up to 0 mod 256: only a bad block's last byte is marked,
    // once it is shaded; the sum restarts with the second block.
    void displayPassMarksBadBlockEnds_data() {
        QTest::addColumn<QList<int>>("bytes");  // offset, value, offset, value, ...
        QTest::addColumn<QList<int>>("marked");
        QTest::newRow("good") << QList<int>{} << QList<int>{};
        QTest::newRow("block 1 sums to 255") << QList<int>{5, 0xFF} << QList<int>{128};
        QTest::newRow("block 1 sums to 1 at its end") << QList<int>{127, 1} << QList<int>{128};
        QTest::newRow("block 2 sums to 1 at its start") << QList<int>{128, 1} << QList<int>{256};
        QTest::newRow("both") << QList<int>{0, 1, 255, 2} << QList<int>{128, 256};
        QTest::newRow("sums of 256 and 512")
            << QList<int>{0, 0x80, 1, 0x80, 130, 0xFF, 131, 0xFF, 132, 2} << QList<int>{};
        QTest::newRow("255 then 1 across the blocks")
            << QList<int>{127, 0xFF, 128, 1} << QList<int>{128, 256};
    }
    void displayPassMarksBadBlockEnds() {
        QFETCH(QList<int>, bytes);
        QFETCH(QList<int>, marked);
        EdidImage image{};
        for (int k = 0; k < bytes.size(); k += 2) image[bytes[k]] = std::uint8_t(bytes[k + 1]);
        testing::RecordingGrids grids;
        int yields = 0;
        QVERIFY(ShowImage(image, grids, [&] { return grids.log << "yield", ++yields; }));
        QCOMPARE(yields, 512);
        QList<int> marksAfterShade;
        for (int i = 1; i < grids.log.size(); ++i)
            if (grids.log[i].startsWith("mark") && grids.log[i - 1].startsWith("shade"))
                marksAfterShade << grids.log[i].section(' ', 1).toInt();
        QCOMPARE(marksAfterShade, marked);
        const QString first =
            QStringLiteral("set 1 %1").arg(QString::fromStdString(HexText(image[0])));
        QCOMPARE(grids.log.mid(0, 5), (QStringList{"mark 1", "yield", first, "shade 1", "yield"}));
    }

    // Closed at either of a byte's two yields, the pass stops there.
    void displayPassStopsWhenTheWindowCloses() {
        for (const auto& [closedAt, last] : {std::pair{1, "mark 1"}, {2, "shade 1"}}) {
            testing::RecordingGrids grids;
            int yields = 0;
            QVERIFY(!ShowImage(EdidImage{}, grids, [&] { return ++yields < closedAt; }));
            QCOMPARE(yields, closedAt);
            QCOMPARE(grids.log.last(), QString(last));
        }
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
