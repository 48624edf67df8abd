// The adapter contract on the virtual backend, and Read and Write EDID over a recording window.
#include <QtTest>

#include "commands/device_commands.h"
#include "iic/iic.h"
#include "iowkit_contract.h"
#include "recording_window.h"
#include "virtual_rig.h"

using namespace quillon::iow;

using namespace quillon;
using quillon::iow::TheVirtualAdapter;
using quillon::testing::RecordingWindow;

class TestDeviceCommands : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        TheVirtualAdapter().Reset();
        TheVirtualAdapter().Eeprom().SetWriteCycle({});
    }

    void everyStateIsPaintedInOrder_data() {
        QTest::addColumn<bool>("write");
        QTest::newRow("read") << false;
        QTest::newRow("write") << true;
    }
    void everyStateIsPaintedInOrder() {
        QFETCH(bool, write);
        RecordingWindow window;
        for (int n = 1; n <= 256 && write; ++n) window.grids.SetByteCells(n, std::uint8_t(n * 7));
        window.grids.log.clear();
        write ? WriteEdid(window) : ReadEdid(window);
        QStringList painted, expected;  // the last state before each yield
        QString last;
        for (const QString& entry : window.grids.log) {
            if (entry != "yield")
                last = entry;
            else if (!last.isEmpty())
                painted << std::exchange(last, QString());
        }
        for (int n = 1; n <= 256 && write; ++n)  // the write pass, then the read-back
            expected << QStringLiteral("mark %1").arg(n);
        for (int n = 1; n <= 256; ++n)
            expected << QStringLiteral("mark %1").arg(n) << QStringLiteral("shade %1").arg(n);
        QCOMPARE(painted, expected);
        for (int k = 0; k < 256 && write; ++k)
            QCOMPARE(TheVirtualAdapter().Eeprom().Memory()[k], std::uint8_t((k + 1) * 7));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    {
        VirtualRig rig;
        IowKitContract contract(rig);
        failures += QTest::qExec(&contract, argc, argv);
    }
    TestDeviceCommands commands;  // on the adapter alone, with no link faults
    return failures + QTest::qExec(&commands, argc, argv);
}

#include "test_iowkit_virtual.moc"
