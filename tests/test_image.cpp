// The image's checksum rule, the byte texts, cell arithmetic and the display pass, without a
// window: the pass runs over a recording fake of the two grids.
#include <QtTest>

#include "image/byte_cells.h"
#include "image/edid_image.h"
#include "image/grid_views.h"
#include "recording_grids.h"

using namespace quillon;
using quillon::testing::RecordingGrids;

namespace {

EdidImage ImageWithBlockSums(std::uint8_t block1Sum, std::uint8_t block2Sum) {
    EdidImage image{};
    image[5] = block1Sum;
    image[200] = block2Sum;
    return image;
}

}  // namespace

class TestImage : public QObject {
    Q_OBJECT

  private slots:
    void cellOfCorners_data() {
        QTest::addColumn<int>("byteNumber");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("first") << 1 << 1 << 1;
        QTest::newRow("end of row 1") << 16 << 1 << 16;
        QTest::newRow("start of row 2") << 17 << 2 << 1;
        QTest::newRow("block 1 checksum") << 128 << 8 << 16;
        QTest::newRow("block 2 first") << 129 << 9 << 1;
        QTest::newRow("last") << 256 << 16 << 16;
    }
    void cellOfCorners() {
        QFETCH(int, byteNumber);
        QFETCH(int, row);
        QFETCH(int, column);
        QCOMPARE(CellOf(byteNumber), (Cell{row, column}));
        QCOMPARE(ByteNumberOf(Cell{row, column}), byteNumber);
    }

    void cellOfCoversEveryCellOnce() {
        QSet<int> seen;
        for (int n = 1; n <= 256; ++n) {
            const Cell c = CellOf(n);
            QVERIFY(c.row >= 1 && c.row <= 16 && c.column >= 1 && c.column <= 16);
            seen.insert(c.row * 100 + c.column);
        }
        QCOMPARE(seen.size(), 256);
        QCOMPARE(ByteNumberOf(Cell{0, 5}), 0);
        QCOMPARE(ByteNumberOf(Cell{5, 0}), 0);
    }

    void byteTexts_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("character");
        QTest::newRow("0x00") << 0x00 << "00"
                              << ".";
        QTest::newRow("0x0A") << 0x0A << "0A"
                              << ".";
        QTest::newRow("0x1F") << 0x1F << "1F"
                              << ".";
        QTest::newRow("0x20 space") << 0x20 << "20"
                                    << " ";
        QTest::newRow("0x41") << 0x41 << "41"
                              << "A";
        QTest::newRow("0x5A") << 0x5A << "5A"
                              << "Z";
        QTest::newRow("0x5B") << 0x5B << "5B"
                              << ".";
        QTest::newRow("0x5F") << 0x5F << "5F"
                              << ".";
        QTest::newRow("0x60") << 0x60 << "60"
                              << ".";
        QTest::newRow("0x61") << 0x61 << "61"
                              << "a";
        QTest::newRow("0x7A") << 0x7A << "7A"
                              << "z";
        QTest::newRow("0x7B") << 0x7B << "7B"
                              << ".";
        QTest::newRow("0x7E") << 0x7E << "7E"
                              << ".";
        QTest::newRow("0x7F") << 0x7F << "7F"
                              << ".";
        QTest::newRow("0x80") << 0x80 << "80"
                              << ".";
        QTest::newRow("0xFF") << 0xFF << "FF"
                              << ".";
    }
    void byteTexts() {
        QFETCH(int, value);
        QFETCH(QString, hex);
        QFETCH(QString, character);
        const auto b = static_cast<std::uint8_t>(value);
        QCOMPARE(QString::fromStdString(HexText(b)), hex);
        QCOMPARE(QString::fromStdString(CharText(b)), character);
        QCOMPARE(ParseHexText(hex.toStdString()), std::optional<std::uint8_t>(b));
    }

    void parseHexTextEdges() {
        QCOMPARE(ParseHexText(""), std::optional<std::uint8_t>(0));
        QCOMPARE(ParseHexText("a5"), std::optional<std::uint8_t>(0xA5));
        QVERIFY(!ParseHexText("G0").has_value());
        QVERIFY(!ParseHexText("1").has_value());
        QVERIFY(!ParseHexText("100").has_value());
    }

    void blockChecksum_data() {
        QTest::addColumn<int>("block1Sum");
        QTest::addColumn<bool>("block1Bad");
        QTest::newRow("sum 0") << 0 << false;
        QTest::newRow("sum 255") << 255 << true;
        QTest::newRow("sum 1") << 1 << true;
    }
    void blockChecksum() {
        QFETCH(int, block1Sum);
        QFETCH(bool, block1Bad);
        BlockChecksum checksum;
        bool verdict = false;
        for (int n = 1; n <= 128; ++n) {
            verdict = checksum.AddByte(n, n == 1 ? static_cast<std::uint8_t>(block1Sum) : 0);
            if (n < 128) QVERIFY(!verdict);
        }
        QCOMPARE(verdict, block1Bad);
        // The second block starts from 0 whatever the first one held.
        for (int n = 129; n <= 256; ++n) verdict = checksum.AddByte(n, 0);
        QVERIFY(!verdict);
    }

    void blockSumsThatAreMultiplesOf256Pass() {
        for (int total : {256, 512, 128 * 255 - 128 * 255 % 256}) {
            BlockChecksum checksum;
            int left = total;
            bool verdict = false;
            for (int n = 1; n <= 128; ++n) {
                const int b = std::min(left, 255);
                left -= b;
                verdict = checksum.AddByte(n, static_cast<std::uint8_t>(b));
            }
            QCOMPARE(left, 0);
            QVERIFY2(!verdict, qPrintable(QString::number(total)));
        }
    }

    void displayPassOrderForOneByte() {
        RecordingGrids grids;
        int yields = 0;
        EdidImage image{};
        image[0] = 0x41;
        QVERIFY(ShowImage(image, grids, [&] {
            grids.log << QStringLiteral("yield");
            ++yields;
            return true;
        }));
        QCOMPARE(yields, 512);
        QCOMPARE(grids.log.mid(0, 5),
                 (QStringList{"mark 1", "yield", "set 1 41", "shade 1", "yield"}));
    }

    void displayPassMarksOnlyBadBlockEnds_data() {
        QTest::addColumn<int>("block1Sum");
        QTest::addColumn<int>("block2Sum");
        QTest::addColumn<QList<int>>("badMarks");
        QTest::newRow("good image") << 0 << 0 << QList<int>{};
        QTest::newRow("bad block 1") << 0x11 << 0 << QList<int>{128};
        QTest::newRow("bad block 2") << 0 << 0xFF << QList<int>{256};
        QTest::newRow("both bad") << 1 << 1 << QList<int>{128, 256};
    }
    void displayPassMarksOnlyBadBlockEnds() {
        QFETCH(int, block1Sum);
        QFETCH(int, block2Sum);
        QFETCH(QList<int>, badMarks);
        RecordingGrids grids;
        ShowImage(ImageWithBlockSums(block1Sum, block2Sum), grids, [&] {
            grids.log << QStringLiteral("yield");
            return true;
        });
        // A bad-block mark is a mark that follows the byte's shade.
        QList<int> marksAfterShade;
        for (int i = 1; i < grids.log.size(); ++i) {
            if (grids.log[i].startsWith("mark") && grids.log[i - 1].startsWith("shade")) {
                marksAfterShade << grids.log[i].section(' ', 1).toInt();
            }
        }
        QCOMPARE(marksAfterShade, badMarks);
    }

    void displayPassStopsWhenWindowCloses() {
        RecordingGrids grids;
        int yields = 0;
        QVERIFY(!ShowImage(EdidImage{}, grids, [&] { return ++yields < 3; }));
        QCOMPARE(yields, 3);
        QCOMPARE(grids.log.last(), QStringLiteral("mark 2"));
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
