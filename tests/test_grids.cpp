// The two grids in the real window: headers, what a display pass leaves, copying, clicks
// during a pass and what is drawn.
#include <QtTest>
#include <QtWidgets>
#include <numeric>

#include "image/byte_cells.h"
#include "window/edid_grid.h"
#include "window/form1.h"

using namespace quillon;

class TestGrids : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> window;
    QList<EdidGrid*> Grids() { return {window->hexGrid(), window->charGrid()}; }
    QString Text(EdidGrid* grid, int n) { return grid->CellText(CellOf(n).row, CellOf(n).column); }
    QColor Colour(EdidGrid* grid, int n) {
        return grid->CellColour(CellOf(n).row, CellOf(n).column);
    }
    // Counts 255, 254, ... down (block 1 sums to 0xC0: bad); block 2 made good by its last byte.
    void ShowCounting() {
        EdidImage image{};
        for (int k = 0; k < 256; ++k) image[k] = std::uint8_t(255 - k);
        image[255] = std::uint8_t(image[255] - std::accumulate(&image[128], &image[256], 0));
        window->setEdidData(image);
    }

  private slots:
    void init() {
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void headersAndSize() {
        for (EdidGrid* grid : Grids()) {
            QCOMPARE(grid->rowCount() * 100 + grid->columnCount(), 1717);
            for (int k = 1; k <= 16; ++k) {
                QCOMPARE(grid->CellText(0, k),
                         QString::fromStdString(HexText(std::uint8_t(k - 1))));
                QCOMPARE(grid->CellText(k, 0), grid->CellText(0, k));
                QVERIFY(!(grid->item(0, k)->flags() & Qt::ItemIsSelectable));
                QCOMPARE(grid->columnWidth(k), 28);  // 477 / 17, the last column too
            }
            QCOMPARE(grid->CellText(0, 0), QString());
            const QRect last(grid->columnViewportPosition(16), grid->rowViewportPosition(16),
                             grid->columnWidth(16), grid->rowHeight(16));
            QVERIFY(grid->viewport()->rect().contains(last));
            QVERIFY(!grid->horizontalScrollBar()->isVisible() &&
                    !grid->verticalScrollBar()->isVisible());
        }
    }

    // A click during the pass moves the selection only: every byte lands in its own cell,
    // shaded by row, the bad block's end red (and drawn so under the current cell); Clear's
    // InitGrids empties it all again.
    void passEndStateAndAClickDuringIt() {
        ShowCounting();
        EdidGrid* hex = window->hexGrid();
        bool clicked = false;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            if (clicked || hex->currentRow() != CellOf(100).row ||
                hex->currentColumn() != CellOf(100).column)
                return;
            QTest::mouseClick(
                hex->viewport(), Qt::LeftButton, {},
                QPoint(hex->columnViewportPosition(3) + 5, hex->rowViewportPosition(3) + 5));
            clicked = true;
        });
        timer.start(0);
        QVERIFY(window->RefreshGrids());
        QVERIFY(clicked);
        for (EdidGrid* grid : Grids()) {
            for (int n = 1; n <= 256; ++n) {
                const std::uint8_t b = window->edidData()[n - 1];
                QCOMPARE(Text(grid, n),
                         QString::fromStdString(grid == hex ? HexText(b) : CharText(b)));
                QCOMPARE(Colour(grid, n),
                         n == 128 ? QColor(Qt::red) : QColor::fromRgb(RowShade(CellOf(n).row)));
            }
            QCOMPARE(grid->currentRow() * 100 + grid->currentColumn(), 1616);
        }
        EdidImage bad{};
        bad[255] = 1;  // block 2 bad: its end, the current cell, is drawn red
        window->setEdidData(bad);
        window->RefreshGrids();
        for (EdidGrid* grid : Grids()) {
            const QImage shot = grid->grab().toImage();
            QCOMPARE(QColor(shot.pixel(grid->columnViewportPosition(16) + 2,
                                       grid->rowViewportPosition(16) + 2)),
                     QColor(Qt::red));
            QCOMPARE(QColor(shot.pixel(grid->columnViewportPosition(15) + 2,
                                       grid->rowViewportPosition(16) + 2)),
                     QColor::fromRgb(kEvenRowShade));
        }
        window->InitGrids();
        for (EdidGrid* grid : Grids())
            for (int n = 1; n <= 256; ++n)
                QVERIFY(Text(grid, n).isEmpty() && !Colour(grid, n).isValid());
    }

    void copyFromTheHexGridOnly() {
        ShowCounting();
        window->RefreshGrids();
        for (EdidGrid* grid : Grids()) {
            grid->setFocus();
            grid->clearSelection();
            grid->setRangeSelected(QTableWidgetSelectionRange(2, 1, 3, 3), true);
            QGuiApplication::clipboard()->setText(QStringLiteral("before"));
            QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QGuiApplication::clipboard()->text(),
                     grid == window->hexGrid() ? "EF\tEE\tED\rDF\tDE\tDD" : "before");
        }
    }
};

QTEST_MAIN(TestGrids)
#include "test_grids.moc"
