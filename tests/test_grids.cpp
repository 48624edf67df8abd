// The two grids in the real window: layout, the display pass, copying and painting.
#include <QtTest>
#include <QtWidgets>

#include "image/byte_cells.h"
#include "window/edid_grid.h"
#include "window/form1.h"

using namespace quillon;

namespace {

EdidImage ImageWithSums(std::uint8_t block1Sum, std::uint8_t block2Sum) {
    EdidImage image{};
    for (int k = 0; k < 256; ++k) image[k] = static_cast<std::uint8_t>(k);
    // 0 + 1 + ... + 127 = 8128 = 0xC0 mod 256; each block's last byte sets its sum.
    image[127] = static_cast<std::uint8_t>(block1Sum - (8128 - 127));
    int block2 = 0;
    for (int k = 128; k < 255; ++k) block2 += image[k];
    image[255] = static_cast<std::uint8_t>(block2Sum - block2);
    return image;
}

}  // namespace

class TestGrids : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void initGridsLabelsAndWidths() {
        for (EdidGrid* grid : {window->hexGrid(), window->charGrid()}) {
            QCOMPARE(grid->rowCount(), 17);
            QCOMPARE(grid->columnCount(), 17);
            QCOMPARE(grid->CellText(0, 0), QString());
            QCOMPARE(grid->CellText(0, 1), QStringLiteral("00"));
            QCOMPARE(grid->CellText(0, 11), QStringLiteral("0A"));
            QCOMPARE(grid->CellText(0, 16), QStringLiteral("0F"));
            QCOMPARE(grid->CellText(1, 0), QStringLiteral("00"));
            QCOMPARE(grid->CellText(2, 0), QStringLiteral("01"));
            QCOMPARE(grid->CellText(16, 0), QStringLiteral("0F"));
            // 477 / 17 = 28.06: every column 28 wide.
            for (int c = 0; c < 17; ++c) QCOMPARE(grid->columnWidth(c), 28);
            // Header cells are not byte cells: they cannot be selected.
            QVERIFY(!(grid->item(0, 3)->flags() & Qt::ItemIsSelectable));
            QVERIFY(!(grid->item(4, 0)->flags() & Qt::ItemIsSelectable));
            QVERIFY(!grid->wordWrap());
        }
    }

    void wholeGridVisibleAtDesignedSize() {
        for (EdidGrid* grid : {window->hexGrid(), window->charGrid()}) {
            const QRect lastCell(grid->columnViewportPosition(16), grid->rowViewportPosition(16),
                                 grid->columnWidth(16), grid->rowHeight(16));
            QVERIFY(grid->viewport()->rect().contains(lastCell));
            QVERIFY(!grid->horizontalScrollBar()->isVisible());
            QVERIFY(!grid->verticalScrollBar()->isVisible());
        }
    }

    void displayPassEndState_data() {
        QTest::addColumn<int>("block1Sum");
        QTest::addColumn<int>("block2Sum");
        QTest::newRow("good") << 0 << 0;
        QTest::newRow("bad block 1") << 0x10 << 0;
        QTest::newRow("bad block 2") << 0 << 0x01;
    }
    void displayPassEndState() {
        QFETCH(int, block1Sum);
        QFETCH(int, block2Sum);
        const EdidImage image = ImageWithSums(block1Sum, block2Sum);
        window->setEdidData(image);
        QVERIFY(window->RefreshGrids());
        const QColor red(255, 0, 0);
        for (EdidGrid* grid : {window->hexGrid(), window->charGrid()}) {
            int redCells = 0;
            for (int n = 1; n <= 256; ++n) {
                const Cell c = CellOf(n);
                const bool bad = (n == 128 && block1Sum != 0) || (n == 256 && block2Sum != 0);
                const QColor expected = bad ? red : QColor::fromRgb(RowShade(c.row));
                QCOMPARE(grid->CellColour(c.row, c.column), expected);
                redCells += grid->CellColour(c.row, c.column) == red;
            }
            QCOMPARE(redCells, (block1Sum != 0) + (block2Sum != 0));
            QCOMPARE(grid->currentRow(), 16);
            QCOMPARE(grid->currentColumn(), 16);
        }
        QCOMPARE(window->hexGrid()->CellText(5, 2), QStringLiteral("41"));  // offset 0x41
        QCOMPARE(window->charGrid()->CellText(5, 2), QStringLiteral("A"));
        QCOMPARE(window->charGrid()->CellText(3, 1), QStringLiteral(" "));  // offset 0x20
        QCOMPARE(window->edidData(), image);
    }

    void allZeroImage() {
        window->setEdidData(EdidImage{});
        QVERIFY(window->RefreshGrids());
        for (int n = 1; n <= 256; ++n) {
            const Cell c = CellOf(n);
            QCOMPARE(window->hexGrid()->CellText(c.row, c.column), QStringLiteral("00"));
            QCOMPARE(window->charGrid()->CellText(c.row, c.column), QStringLiteral("."));
            QCOMPARE(window->charGrid()->CellColour(c.row, c.column),
                     QColor::fromRgb(RowShade(c.row)));
        }
    }

    void initGridsEmptiesAfterAPass() {
        window->setEdidData(ImageWithSums(1, 1));
        window->RefreshGrids();
        window->InitGrids();
        for (EdidGrid* grid : {window->hexGrid(), window->charGrid()}) {
            for (int n = 1; n <= 256; ++n) {
                const Cell c = CellOf(n);
                QCOMPARE(grid->CellText(c.row, c.column), QString());
                QVERIFY(!grid->CellColour(c.row, c.column).isValid());
            }
            QCOMPARE(grid->CellText(16, 0), QStringLiteral("0F"));
        }
    }

    void copyFromHexGrid_data() {
        QTest::addColumn<QRect>("selection");  // columns x, rows y
        QTest::addColumn<QString>("expected");
        QTest::newRow("one cell") << QRect(2, 1, 1, 1) << QStringLiteral("01");
        QTest::newRow("2 rows x 3 columns")
            << QRect(1, 2, 3, 2) << QStringLiteral("10\t11\t12\r20\t21\t22");
    }
    void copyFromHexGrid() {
        QFETCH(QRect, selection);
        QFETCH(QString, expected);
        EdidImage image{};
        for (int k = 0; k < 256; ++k) image[k] = static_cast<std::uint8_t>(k);
        window->setEdidData(image);
        window->RefreshGrids();
        EdidGrid* grid = window->hexGrid();
        grid->setFocus();
        grid->clearSelection();
        grid->setRangeSelected(QTableWidgetSelectionRange(selection.top(), selection.left(),
                                                          selection.bottom(), selection.right()),
                               true);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    void copyFromCharGridDoesNothing() {
        window->setEdidData(ImageWithSums(0, 0));
        window->RefreshGrids();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        window->charGrid()->setFocus();
        QTest::keyClick(window->charGrid(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void clickDuringPassChangesOnlyTheCurrentCell() {
        EdidImage image{};
        for (int k = 0; k < 256; ++k) image[k] = static_cast<std::uint8_t>(255 - k);
        window->setEdidData(image);
        EdidGrid* grid = window->hexGrid();
        // Click cell (3, 3) while the pass is at byte 100.
        int clicks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            if (clicks == 0 && grid->currentRow() == CellOf(100).row &&
                grid->currentColumn() == CellOf(100).column) {
                const QPoint p(grid->columnViewportPosition(3) + 5,
                               grid->rowViewportPosition(3) + 5);
                QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, p);
                ++clicks;
            }
        });
        timer.start(0);
        QVERIFY(window->RefreshGrids());
        QCOMPARE(clicks, 1);
        for (int n = 1; n <= 256; ++n) {
            const Cell c = CellOf(n);
            QCOMPARE(grid->CellText(c.row, c.column),
                     QString::fromStdString(HexText(image[n - 1])));
        }
        QCOMPARE(grid->currentRow(), 16);
        QCOMPARE(grid->currentColumn(), 16);
    }

    void redMarkShowsOnTheCurrentCell() {
        window->setEdidData(ImageWithSums(0, 0x20));  // bad block 2: cell (16, 16) stays red
        window->RefreshGrids();
        for (EdidGrid* grid : {window->hexGrid(), window->charGrid()}) {
            QCOMPARE(grid->currentRow(), 16);
            const QImage shot = grid->grab().toImage();
            const QPoint inside(grid->columnViewportPosition(16) + 2,
                                grid->rowViewportPosition(16) + 2);
            QCOMPARE(QColor(shot.pixel(inside)), QColor(255, 0, 0));
            // A shaded, unselected neighbour shows its row's shade.
            const QPoint neighbour(grid->columnViewportPosition(15) + 2,
                                   grid->rowViewportPosition(16) + 2);
            QCOMPARE(QColor(shot.pixel(neighbour)), QColor::fromRgb(kEvenRowShade));
        }
    }

  private:
    std::unique_ptr<Form1> window;
};

QTEST_MAIN(TestGrids)
#include "test_grids.moc"
