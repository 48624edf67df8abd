// Read and Write EDID over a recording window without widgets: every state a command shows
// (a byte's mark, then its outcome) must be followed by a yield before the next state
// replaces it, or the operator would not see the mark move. Also checks that a yield
// refused mid-command ends the command without another exchange.

#include <QtTest>

#include "commands/device_commands.h"
#include "iic/iic.h"
#include "iow/virtual/virtual_backend.h"
#include "recording_window.h"

using namespace quillon;
using quillon::iow::TheVirtualAdapter;
using quillon::testing::RecordingWindow;

namespace {

// What the operator sees: the log cut at each yield, keeping the last state shown before it.
QStringList PaintedStates(const QStringList& log) {
    QStringList painted;
    QString last;
    for (const QString& entry : log) {
        if (entry != "yield") {
            last = entry;
        } else if (!last.isEmpty()) {
            painted << last;
            last.clear();
        }
    }
    return painted;
}

// Each byte's mark, then its shade (a read value is shaded as soon as it is shown).
QStringList MarkThenShadePerByte() {
    QStringList states;
    for (int n = 1; n <= 256; ++n)
        states << QStringLiteral("mark %1").arg(n) << QStringLiteral("shade %1").arg(n);
    return states;
}

}  // namespace

class TestDeviceCommands : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        TheVirtualAdapter().Reset();
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IicEnable(handle, 1);
        IowKitCloseDevice(handle);
        TheVirtualAdapter().Eeprom().SetWriteCycle({});
    }

    void everyStateIsPaintedInOrder() {
        RecordingWindow read;
        ReadEdid(read);
        QCOMPARE(PaintedStates(read.grids.log), MarkThenShadePerByte());

        RecordingWindow write;
        for (int n = 1; n <= 256; ++n) write.grids.SetByteCells(n, std::uint8_t(n * 7));
        write.grids.log.clear();
        WriteEdid(write);
        QCOMPARE(PaintedStates(write.grids.log), MarkThenShadePerByte());
        for (int k = 0; k < 256; ++k)
            QCOMPARE(TheVirtualAdapter().Eeprom().Memory()[k], std::uint8_t((k + 1) * 7));
    }

    // Write EDID reads every byte back: a byte stays red exactly when the memory does not hold
    // what the grid shows, whether it refused it, ignored it (write-protected) or spoiled it.
    void writeLeavesRedExactlyTheBytesThatDiffer_data() {
        QTest::addColumn<int>("memory");
        QTest::newRow("good memory") << 0;
        QTest::newRow("write-protected") << 1;
        QTest::newRow("one bit wrong at 5, 77, 200") << 2;
    }
    void writeLeavesRedExactlyTheBytesThatDiffer() {
        QFETCH(int, memory);
        auto& eeprom = TheVirtualAdapter().Eeprom();
        eeprom.SetWriteProtected(memory == 1);
        if (memory == 2) eeprom.SetCorruptedOffsets({4, 76, 199});
        RecordingWindow window;
        for (int n = 1; n <= 256; ++n) window.grids.SetByteCells(n, std::uint8_t(n * 7));
        WriteEdid(window);
        QList<int> red, differing;
        for (int n = 1; n <= 256; ++n) {
            if (window.grids.Red(n)) red << n;
            if (eeprom.Memory()[n - 1] != std::uint8_t(n * 7)) differing << n;
        }
        QCOMPARE(red, differing);
        const QList<int> expected[] = {{}, differing, {5, 77, 200}};
        QCOMPARE(red, expected[memory]);
        if (memory == 1) QVERIFY(eeprom.Memory() == quillon::iow::SampleEdid());
    }

    void aRefusedYieldEndsTheCommand_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("refuseYield");
        for (int yield : {0, 1, 2, 3, 200, 511}) {
            QTest::addRow("read, yield %d", yield) << false << yield;
            QTest::addRow("write, yield %d", yield) << true << yield;
        }
    }
    void aRefusedYieldEndsTheCommand() {
        QFETCH(bool, write);
        QFETCH(int, refuseYield);
        RecordingWindow window;
        window.refuseYield = refuseYield;
        int exchangesAtRefusal = -1;
        window.onRefusal = [&] {
            exchangesAtRefusal = int(TheVirtualAdapter().TrafficLog().size());
        };
        write ? WriteEdid(window) : ReadEdid(window);
        QCOMPARE(window.yields, refuseYield + 1);
        QCOMPARE(window.grids.log.last(), QStringLiteral("yield"));
        // The request already on the wire may stand; nothing is sent or read after it.
        QCOMPARE(int(TheVirtualAdapter().TrafficLog().size()), exchangesAtRefusal);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "test_device_commands.moc"
