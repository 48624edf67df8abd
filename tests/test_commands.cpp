// Read EDID, Write EDID, the bus scan, Clear, the byte count and the gating, driven through
// the real window on the virtual adapter.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window_driver.h"

using namespace quillon;
using namespace quillon::testing;
using quillon::iow::SampleEdid;
using quillon::iow::TheVirtualAdapter;
using quillon::iow::VirtualAdapter;
using Direction = VirtualAdapter::Traffic::Direction;

namespace {

const QColor kRed(255, 0, 0);

VirtualAdapter& Adapter() { return TheVirtualAdapter(); }

// The reports written on the I2C pipe, as they were sent.
QList<std::vector<std::uint8_t>> WrittenI2c() {
    QList<std::vector<std::uint8_t>> out;
    for (const auto& t : Adapter().TrafficLog()) {
        if (t.pipe == 1 && t.direction == Direction::Written) out << t.bytes;
    }
    return out;
}

struct GateState {
    bool read, write, save, open, clear, option0, option1;
    bool waitCursor;
};

GateState Gates(QWidget* w) {
    return {Button(w, "IICReadButton")->isEnabled(),
            Button(w, "IICWriteButton")->isEnabled(),
            Button(w, "SaveFile")->isEnabled(),
            Button(w, "ReadFile")->isEnabled(),
            Button(w, "ClearResult")->isEnabled(),
            Button(w, "ByteOption_0")->isEnabled(),
            Button(w, "ByteOption_1")->isEnabled(),
            QApplication::overrideCursor() != nullptr &&
                QApplication::overrideCursor()->shape() == Qt::WaitCursor};
}

bool OthersEnabled(const GateState& g) {
    return g.save && g.open && g.clear && g.option0 && g.option1 && !g.waitCursor;
}
bool OthersDisabled(const GateState& g) {
    return !g.save && !g.open && !g.clear && !g.option0 && !g.option1 && g.waitCursor;
}

// Red cells of a grid, by byte number.
QList<int> RedBytes(EdidGrid* grid) {
    QList<int> red;
    for (int n = 1; n <= 256; ++n) {
        const Cell c = CellOf(n);
        if (grid->CellColour(c.row, c.column) == kRed) red << n;
    }
    return red;
}

}  // namespace

class TestCommands : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        Adapter().Reset();
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Adapter().ClearTraffic();
    }
    void cleanup() { window.reset(); }

    // --- Read EDID ---

    void readWholeMemory() {
        GateState during{};
        AtByte probe(*window, 40, [&] { during = Gates(window.get()); });
        Button(window.get(), "IICReadButton")->click();
        QVERIFY(probe.done());
        QVERIFY(!during.read && !during.write && OthersDisabled(during));
        const GateState after = Gates(window.get());
        QVERIFY(after.read && after.write && OthersEnabled(after));
        QCOMPARE(window->iowHandle(), 0u);

        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window->edidData().begin()));
        for (int n = 1; n <= 256; ++n) {
            const Cell c = CellOf(n);
            const std::uint8_t b = SampleEdid()[n - 1];
            QCOMPARE(window->hexGrid()->CellText(c.row, c.column),
                     QString::fromStdString(HexText(b)));
            QCOMPARE(window->charGrid()->CellText(c.row, c.column),
                     QString::fromStdString(CharText(b)));
            QCOMPARE(window->hexGrid()->CellColour(c.row, c.column),
                     QColor::fromRgb(RowShade(c.row)));
            QCOMPARE(window->charGrid()->CellColour(c.row, c.column),
                     QColor::fromRgb(RowShade(c.row)));
        }
        // The I2C function switched on, then two exchanges per byte, offsets 0..255 in order.
        const auto written = WrittenI2c();
        QCOMPARE(written.size(), 1 + 512);
        QCOMPARE(written[0], (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(written[3], (std::vector<std::uint8_t>{2, 0x82, 0xA0, 1, 0, 0, 0, 0}));
        QCOMPARE(written[512], (std::vector<std::uint8_t>{3, 1, 0xA1, 0, 0, 0, 0, 0}));
    }

    void readBadBlocks_data() {
        QTest::addColumn<int>("spoiledOffset");
        QTest::addColumn<QList<int>>("redBytes");
        QTest::newRow("bad block 1") << 10 << QList<int>{128};
        QTest::newRow("bad block 2") << 200 << QList<int>{256};
    }
    void readBadBlocks() {
        QFETCH(int, spoiledOffset);
        QFETCH(QList<int>, redBytes);
        Adapter().Eeprom().Memory()[spoiledOffset] ^= 0x01;
        Button(window.get(), "IICReadButton")->click();
        QCOMPARE(RedBytes(window->hexGrid()), redBytes);
        QCOMPARE(RedBytes(window->charGrid()), redBytes);
        QCOMPARE(window->edidData()[spoiledOffset], Adapter().Eeprom().Memory()[spoiledOffset]);
    }

    void read128KeepsTheSecondBlock() {
        Button(window.get(), "IICReadButton")->click();  // fills all 256
        Adapter().Eeprom().Memory().fill(0x41);
        Button(window.get(), "ByteOption_0")->click();
        QCOMPARE(window->byteCount(), 128);
        Button(window.get(), "IICReadButton")->click();
        QCOMPARE(WrittenI2c().size(), 1 + 512 + 1 + 256);
        for (int k = 0; k < 256; ++k) {
            QCOMPARE(window->edidData()[k], k < 128 ? 0x41 : SampleEdid()[k]);
            const Cell c = CellOf(k + 1);
            QCOMPARE(
                window->charGrid()->CellText(c.row, c.column),
                k < 128 ? QStringLiteral("A") : QString::fromStdString(CharText(SampleEdid()[k])));
        }
        // 128 x 0x41 sums to 0x80: block 1 is bad; block 2 is not judged.
        QCOMPARE(RedBytes(window->hexGrid()), QList<int>{128});
        QVERIFY(Button(window.get(), "ByteOption_0")->isChecked());
    }

    void readWithoutAdapterKeepsButtonsAndIgnoresClicks() {
        Adapter().SetPresent(false);  // present at start-up, unplugged since
        GateState during{};
        int opensDuring = 0;
        AtByte probe(*window, 20, [&] {
            during = Gates(window.get());
            Button(window.get(), "IICReadButton")->click();   // ignored: a command runs
            Button(window.get(), "IICWriteButton")->click();  // no confirmation box either
            opensDuring = QApplication::activeModalWidget() != nullptr;
        });
        Button(window.get(), "IICReadButton")->click();
        QVERIFY(probe.done());
        QVERIFY(during.read && during.write && OthersDisabled(during));
        QCOMPARE(opensDuring, 0);
        QCOMPARE(RedBytes(window->hexGrid()).size(), 256);  // no byte passes as read
        const GateState after = Gates(window.get());
        QVERIFY(after.read && after.write && OthersEnabled(after));
    }

    void closingMidReadStopsTheCommand() {
        int exchangesAtClose = -1;
        AtByte closer(*window, 30, [&] {
            exchangesAtClose = WrittenI2c().size();
            window->close();
        });
        Button(window.get(), "IICReadButton")->click();
        QVERIFY(closer.done());
        const auto written = WrittenI2c();
        // Shut-down switched the I2C function off; nothing was exchanged after.
        QCOMPARE(written.size(), exchangesAtClose + 1);
        QCOMPARE(written.last(), (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(window->iowHandle(), 0u);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        const IowKitHandle again = IowKitOpenDevice();  // the command's handle was closed
        QVERIFY(again != 0);
        IowKitCloseDevice(again);
    }

    // --- Write EDID ---

    void writeAfterReadWritesWhatTheGridShows() {
        Button(window.get(), "IICReadButton")->click();
        Adapter().Eeprom().Memory().fill(0x00);
        Adapter().ClearTraffic();
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Yes));
        // A click on another cell during the write changes nothing sent.
        AtByte clicker(*window, 70, [&] {
            EdidGrid* grid = window->hexGrid();
            QTest::mouseClick(
                grid->viewport(), Qt::LeftButton, {},
                QPoint(grid->columnViewportPosition(2) + 4, grid->rowViewportPosition(2) + 4));
        });
        Button(window.get(), "IICWriteButton")->click();
        QVERIFY(clicker.done());
        QCOMPARE(box.title, QStringLiteral("EDID Overwrite"));
        QCOMPARE(box.text,
                 QStringLiteral("Do you wish to overwrite the EDID of the Connected Device?"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(box.defaultButton, QMessageBox::No);
        // The 5 ms write cycle of the memory lost no byte.
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(),
                           Adapter().Eeprom().Memory().begin()));
        QCOMPARE(RedBytes(window->hexGrid()), QList<int>{});
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window->edidData().begin()));
        QCOMPARE(window->iowHandle(), 0u);
        const GateState after = Gates(window.get());
        QVERIFY(after.read && after.write && OthersEnabled(after));
    }

    void writeAfterClearWritesZeros() {
        Button(window.get(), "ClearResult")->click();
        Adapter().Eeprom().SetWriteCycle({});
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Yes));
        Button(window.get(), "IICWriteButton")->click();
        for (std::uint8_t b : Adapter().Eeprom().Memory()) QCOMPARE(b, 0);
        const auto written = WrittenI2c();
        // The enable report, then per byte its write and the two requests that read it back.
        QCOMPARE(written.size(), 1 + 3 * 256);
        QCOMPARE(written[766], (std::vector<std::uint8_t>{2, 0xC3, 0xA0, 0xFF, 0, 0, 0, 0}));
        QCOMPARE(written[767], (std::vector<std::uint8_t>{2, 0x82, 0xA0, 0xFF, 0, 0, 0, 0}));
    }

    void writeNotConfirmedChangesNothing_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("No") << 0;
        QTest::newRow("Cancel") << 1;
        QTest::newRow("Escape") << 2;
        QTest::newRow("Enter answers No") << 3;
        QTest::newRow("box closed") << 4;
    }
    void writeNotConfirmedChangesNothing() {
        QFETCH(int, how);
        Button(window.get(), "ClearResult")->click();  // holds a handle
        const IowKitHandle held = window->iowHandle();
        QVERIFY(held != 0);
        Adapter().ClearTraffic();
        const std::function<void(QMessageBox*)> answers[] = {
            Click(QMessageBox::No), Click(QMessageBox::Cancel), Press(Qt::Key_Escape),
            Press(Qt::Key_Return), CloseBox()};
        BoxAnswer box;
        AnswerNextBox(box, answers[how]);
        Button(window.get(), "IICWriteButton")->click();
        QVERIFY(box.seen);
        QVERIFY(Adapter().TrafficLog().empty());
        QCOMPARE(window->iowHandle(), held);
        QCOMPARE(window->hexGrid()->CellColour(1, 1), QColor());
        QVERIFY(Gates(window.get()).read);
    }

    // An adapter unplugged mid-read or mid-write, and the other faults: test_fault_matrix.

    // --- Bus scan ---

    void scan_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("result");
        QTest::newRow("EDID memory only") << 0 << "160 (A0)\r\n161 (A1)\r\n";
        QTest::newRow("address byte 0 answers")
            << 1 << "0 (0)\r\n1 (1)\r\n160 (A0)\r\n161 (A1)\r\n";
        QTest::newRow("nothing on the bus") << 2 << "No Devices found on I2C Buss";
        QTest::newRow("no replies, buffer holds 0xC1") << 3 << "No Devices found on I2C Buss";
        QTest::newRow("adapter absent") << 4 << "No Devices found on I2C Buss";
    }
    void scan() {
        QFETCH(int, setup);
        QFETCH(QString, result);
        Adapter().SetInstantTimeouts(true);
        if (setup == 1) Adapter().AddDevice(std::make_unique<quillon::iow::PlainI2cDevice>(0x00));
        if (setup == 2) {
            Adapter().RefuseAddress(0xA0);
            Adapter().RefuseAddress(0xA1);
        }
        if (setup == 3) Adapter().DropReplies(-1);
        if (setup == 4) Adapter().SetPresent(false);
        Button(window.get(), "Scan")->click();  // hidden, but the command is whole
        QCOMPARE(window->resultText(), result);
        // Every address probed, after the enable report; an adapter that does not answer is
        // given up after a few probes.
        if (setup != 4) QCOMPARE(WrittenI2c().size(), setup == 3 ? 1 + 5 : 1 + 256);
        // A second scan starts from an empty box.
        Button(window.get(), "Scan")->click();
        QCOMPARE(window->resultText(), result);
        QCOMPARE(window->iowHandle(), 0u);
    }

    // --- Clear and the gating table ---

    void clearFindsAdapter() {
        Adapter().SetPresent(false);
        window = std::make_unique<Form1>();  // no adapter at start-up
        QVERIFY(!Button(window.get(), "IICReadButton")->isEnabled());
        Adapter().SetPresent(true);
        window->setEdidData(SampleEdid());
        window->RefreshGrids();
        Button(window.get(), "ClearResult")->click();
        QVERIFY(window->iowHandle() != 0);
        const GateState after = Gates(window.get());
        QVERIFY(after.read && after.write && OthersEnabled(after));
        for (std::uint8_t b : window->edidData()) QCOMPARE(b, 0);
        QCOMPARE(window->hexGrid()->CellText(1, 1), QString());
        QCOMPARE(window->resultText(), QString());
        QCOMPARE(window->byteCount(), 256);
        // Shut-down switches the I2C function off and closes the held handle.
        Adapter().ClearTraffic();
        window->close();
        QCOMPARE(WrittenI2c(), (QList<std::vector<std::uint8_t>>{{1, 0, 0, 0, 0, 0, 0, 0}}));
        QCOMPARE(window->iowHandle(), 0u);
        const IowKitHandle again = IowKitOpenDevice();
        QVERIFY(again != 0);
        IowKitCloseDevice(again);
    }

    void twoClearsInARow() {
        Button(window.get(), "ClearResult")->click();
        const IowKitHandle first = window->iowHandle();
        Button(window.get(), "ClearResult")->click();
        QVERIFY(window->iowHandle() != 0);
        QVERIFY(window->iowHandle() != first);  // the first handle was closed, not leaked
        QVERIFY(Gates(window.get()).read);
    }

    void clearWithoutAdapterAfterAHeldHandle() {
        Button(window.get(), "ClearResult")->click();
        Adapter().SetPresent(false);
        Button(window.get(), "ClearResult")->click();
        QCOMPARE(window->iowHandle(), 0u);
        const GateState after = Gates(window.get());
        QVERIFY(!after.read && !after.write && OthersEnabled(after));
    }

    void clearWithoutAdapterFromZero() {
        Adapter().SetPresent(false);
        Button(window.get(), "ClearResult")->click();
        QVERIFY(Gates(window.get()).read);  // unchanged: enabled since start-up
    }

    void scanAfterClearLeavesI2cButtonsDisabled() {
        Button(window.get(), "ClearResult")->click();
        Button(window.get(), "Scan")->click();
        QCOMPARE(window->iowHandle(), 0u);
        const GateState after = Gates(window.get());
        QVERIFY(!after.read && !after.write && OthersEnabled(after));
        // Only Clear brings them back.
        Button(window.get(), "ClearResult")->click();
        QVERIFY(Gates(window.get()).read);
    }

    void readAfterClearClosesTheHeldHandle() {
        Button(window.get(), "ClearResult")->click();
        Button(window.get(), "IICReadButton")->click();
        QCOMPARE(window->iowHandle(), 0u);
        QCOMPARE(RedBytes(window->hexGrid()), QList<int>{});  // the read had the adapter
        const IowKitHandle again = IowKitOpenDevice();        // and nothing holds it now
        QVERIFY(again != 0);
        IowKitCloseDevice(again);
    }

    void byteCountChoice() {
        Button(window.get(), "ByteOption_0")->click();
        QCOMPARE(window->byteCount(), 128);
        window->DisableButtons();
        QVERIFY(!Button(window.get(), "ByteOption_0")->isEnabled());
        window->EnableButtons();
        QVERIFY(Button(window.get(), "ByteOption_0")->isChecked());
        Button(window.get(), "ByteOption_1")->click();
        QCOMPARE(window->byteCount(), 256);
        window->DisableButtons();
        window->DisableButtons();  // twice, as Open does: one EnableButtons restores the pointer
        window->EnableButtons();
        QVERIFY(Button(window.get(), "ByteOption_1")->isChecked());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

  private:
    std::unique_ptr<Form1> window;
};

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
