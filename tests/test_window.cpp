// The window without an adapter command: what the operator meets when it opens (its layout,
// its start-up and shut-down on the virtual adapter) and the two grids.
#include <QtTest>
#include <QtWidgets>
#include <numeric>

#include "image/byte_cells.h"
#include "virtual_rig.h"
#include "window/adapter_info_text.h"
#include "window/edid_grid.h"
#include "window/form1.h"
#include "window_driver.h"

using namespace quillon;
using quillon::iow::TheVirtualAdapter;
using quillon::testing::Button;
using quillon::testing::ByteColour;
using quillon::testing::ByteText;

class TestWindow : public QObject {
    Q_OBJECT

    quillon::iow::VirtualRig rig_;
    std::unique_ptr<Form1> window;
    QWidget* W(const char* name) { return window->findChild<QWidget*>(name); }
    QList<EdidGrid*> Grids() { return {window->hexGrid(), window->charGrid()}; }
    // Counts 255, 254, ... down (block 1 sums to 0xC0: bad); block 2 made good by its last byte.
    void ShowCounting() {
        EdidImage image{};
        for (int k = 0; k < 256; ++k) image[k] = std::uint8_t(255 - k);
        image[255] = std::uint8_t(image[255] - std::accumulate(&image[128], &image[256], 0));
        window->setEdidData(image);
    }

    void Open() {
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

  private slots:
    void init() {  // a fresh window, no adapter plugged in
        rig_.Fresh();
        TheVirtualAdapter().SetPresent(false);
        Open();
    }
    void cleanup() { window.reset(); }

    // Without an adapter the I2C buttons start off and 256 bytes are chosen; the controls
    // below the client area stay hidden, even in an enlarged window, which starts centred.
    void statesAtStart() {
        const QPoint offCentre = window->frameGeometry().center() -
                                 QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY(offCentre.manhattanLength() <= 6);  // give or take the frame, the platform's
        QVERIFY(!window->windowIcon().isNull());
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        window->resize(988, 900);
        for (QWidget* w : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            const QString name = w->objectName();
            QVERIFY2(w->geometry().top() < 453 || !w->isVisible(), qPrintable(name));
            if (qobject_cast<QAbstractButton*>(w) && w->isVisible())
                QVERIFY2(w->isEnabled() != name.startsWith("IIC"), qPrintable(name));
        }
        QVERIFY(!W("Scan")->isVisible() && !W("Result")->isVisible());
        QVERIFY(Button(window.get(), "ByteOption_1")->isChecked() &&
                !Button(window.get(), "ByteOption_0")->isChecked());
        QCOMPARE(window->byteCount(), 256);
        QCOMPARE(window->edidData(), EdidImage{});
    }

    void focusWithoutAdapter() {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(QApplication::focusWidget(), W("ClearResult"));  // the I2C buttons are off
    }

    // Open lists hex, bin and xml files, Save hex and bin files, whatever their case; each
    // dialog starts in the program's folder and adds .hex to a bare name.
    void dialogsListTheirFiles() {
        QTemporaryDir dir;
        for (const char* name :
             {"a.hex", "B.HEX", "c.bin", "d.BIN", "e.xml", "f.XML", "g.Xml", "h.txt"})
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        for (const char* button : {"ReadFile", "SaveFile"}) {
            QStringList names;
            const QString expected = button[0] == 'R' ? "B.HEX a.hex c.bin d.BIN e.xml f.XML g.Xml"
                                                      : "B.HEX a.hex c.bin d.BIN";
            QString settings;
            QTimer::singleShot(0, this, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                settings = dialog->defaultSuffix() + '|' + dialog->directory().absolutePath();
                dialog->setDirectory(dir.path());
                auto* model = dialog->findChild<QFileSystemModel*>();
                const QModelIndex root = model->index(dir.path());
                const auto listed = [&] {  // the model reads the folder in the background
                    names.clear();
                    for (int row = 0; row < model->rowCount(root); ++row)
                        names << model->index(row, 0, root).data().toString();
                    names.sort();
                    return names.join(' ') == expected;
                };
                (void)QTest::qWaitFor(listed);
                dialog->reject();
            });
            Button(window.get(), button)->click();
            QCOMPARE(settings, "hex|" + QCoreApplication::applicationDirPath());
            QCOMPARE(names.join(' '), expected);
        }
    }

    void headersAndSize() {
        for (EdidGrid* grid : Grids()) {
            QCOMPARE(grid->rowCount() * 100 + grid->columnCount(), 1717);
            for (int k = 1; k <= 16; ++k)
                QVERIFY(!(grid->item(0, k)->flags() & Qt::ItemIsSelectable));
            const QRect last(grid->columnViewportPosition(16), grid->rowViewportPosition(16),
                             grid->columnWidth(16), grid->rowHeight(16));
            QVERIFY(grid->viewport()->rect().contains(last));
        }
    }

    // Every byte lands in its own cell, shaded by row, the bad block's end red (and drawn so
    // under the current cell); Clear's InitGrids empties it all again.
    void passEndState() {
        ShowCounting();
        EdidGrid* hex = window->hexGrid();
        QVERIFY(window->RefreshGrids());
        for (EdidGrid* grid : Grids()) {
            for (int n = 1; n <= 256; ++n) {
                const std::uint8_t b = window->edidData()[n - 1];
                QCOMPARE(ByteText(grid, n),
                         QString::fromStdString(grid == hex ? HexText(b) : CharText(b)));
                QCOMPARE(ByteColour(grid, n),
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
                QVERIFY(ByteText(grid, n).isEmpty() && !ByteColour(grid, n).isValid());
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

    void withAdapter() {
        TheVirtualAdapter().SetPresent(true);
        Open();
        QStringList fields;
        for (const char* name : {"ProdID", "Revision", "SerialNumber", "NDev"})
            fields << window->findChild<QLineEdit*>(name)->text();
        QCOMPARE(fields, (QStringList{"0x1501 or 5377", "0x1021 or 4129", "0000A5E1", "1"}));
        QVERIFY(window->findChild<QLineEdit*>("DHandle")->text().toLongLong() != 0);
        QVERIFY(W("IICReadButton")->isEnabled() && W("IICWriteButton")->isEnabled());
        QCOMPARE(window->iowHandle(), 0u);
        QVERIFY(QFile::exists(QUILLON_SOURCE_DIR "/packaging/" +
                              QGuiApplication::desktopFileName() +
                              ".desktop"));  // the entry that docks and software centres match
        // Only the enable report went out, with no reply read; the adapter was closed again.
        QCOMPARE(rig_.Link().TrafficLog().size(), 1u);
        QCOMPARE(rig_.Link().TrafficLog()[0].bytes,
                 (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 0, 0}));
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IowKitCloseDevice(handle);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(QApplication::focusWidget(), W("IICWriteButton"));
    }

    void adapterTexts() {
        QCOMPARE(IdText(0x80000000u), "0x80000000 or -2147483648");  // the decimal is signed
        QCOMPARE(IdText(0xFFFFFFFFu), "0xFFFFFFFF or -1");
        SerialBuffer buffer{};
        for (int k = 0; k < 9; ++k) buffer[2 * k] = static_cast<std::uint8_t>("1A2B3C4D9"[k]);
        buffer[18] = 'X';  // belongs to no character
        buffer[14] = 0;
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4"));  // ends at the zero character
        buffer[14] = 'D';
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4D9"));
        buffer[1] = 0x01;  // the high byte counts: U+0131
        QCOMPARE(SerialText(buffer).at(0), QChar(0x0131));
    }
};

QTEST_MAIN(TestWindow)

#include "test_window.moc"
