// The window as the quillon executable builds it (Form1 on the Linux backend), driven through
// its buttons inside the test VM against the kernel's own iowarrior driver and an emulated
// IO-Warrior 24. Under every fault: no command hangs, no byte is shown as good that was not,
// and the window stays usable, so that the next command, once the fault is gone, works.
#include <QtTest>
#include <QtWidgets>

#include "vm_rig.h"
#include "window_driver.h"

using namespace quillon;
using namespace quillon::testing;
using quillon::iow::SampleEdid;

namespace {

enum class Command { Read256, Read128, Write, Scan };
enum class Fault {
    None,
    Late,
    Stopped,
    UnplugMidway,
    Replugged,
    SlowWriteCycle,
    WriteProtected,
    NoMemory
};

const QColor kRed(255, 0, 0);

}  // namespace

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Fault)

class TestVmWindow : public QObject {
    Q_OBJECT

    quillon::iow::VmRig rig;
    std::unique_ptr<Form1> window;
    QTimer answerer;

    bool Red(int n) {
        const Cell c = CellOf(n);
        return window->hexGrid()->CellColour(c.row, c.column) == kRed;
    }
    QString CellHex(int n) {
        const Cell c = CellOf(n);
        return window->hexGrid()->CellText(c.row, c.column);
    }
    void Run(const char* button) {
        Button(window.get(), button)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->commandRunning(), 60000);
    }

  private slots:
    void initTestCase() {
        QVERIFY2(rig.Ready(), "the emulated adapter did not come up");
        answerer.setInterval(5);  // Yes to the confirmation before writing
        connect(&answerer, &QTimer::timeout, this, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Yes)->click();
        });
        answerer.start();
    }

    void commandUnderFault_data() {
        QTest::addColumn<Command>("command");
        QTest::addColumn<Fault>("fault");
        const std::pair<Command, const char*> commands[] = {{Command::Read256, "Read EDID 256"},
                                                            {Command::Read128, "Read EDID 128"},
                                                            {Command::Write, "Write EDID"},
                                                            {Command::Scan, "scan"}};
        const std::pair<Fault, const char*> faults[] = {
            {Fault::None, "no fault"},
            {Fault::Late, "late replies"},
            {Fault::Stopped, "adapter stopped"},
            {Fault::UnplugMidway, "unplugged midway"},
            {Fault::Replugged, "replugged, then Clear"},
            {Fault::SlowWriteCycle, "slow write cycle"},
            {Fault::WriteProtected, "write-protected memory"},
            {Fault::NoMemory, "no memory"}};
        for (const auto& [command, commandName] : commands)
            for (const auto& [fault, faultName] : faults)
                QTest::addRow("%s, %s", commandName, faultName) << command << fault;
    }
    void commandUnderFault() {
        QFETCH(Command, command);
        QFETCH(Fault, fault);
        rig.Fresh();
        window = std::make_unique<Form1>();  // start-up finds the adapter and switches I2C on
        window->show();
        QVERIFY(Button(window.get(), "IICReadButton")->isEnabled());
        if (command == Command::Write) {
            window->setEdidData(SampleEdid());
            window->RefreshGrids();
            rig.Model().Eeprom().Memory().fill(0xEE);
        }
        if (command == Command::Read128) Button(window.get(), "ByteOption_0")->click();
        switch (fault) {
            case Fault::None:
                break;
            case Fault::Late:
                rig.Model().SetLatency(std::chrono::milliseconds(230));
                break;
            case Fault::Stopped:
                rig.Model().SetTakingReports(false);
                break;
            case Fault::UnplugMidway:
                rig.Model().UnplugAfterExchanges(101);
                break;
            case Fault::Replugged:
                rig.Model().SetPresent(false);
                rig.Model().SetPresent(true);  // in its power-on state: I2C off
                Run("ClearResult");
                if (command == Command::Write) {  // Clear emptied the grids
                    window->setEdidData(SampleEdid());
                    window->RefreshGrids();
                }
                break;
            case Fault::SlowWriteCycle:
                rig.Model().Eeprom().SetWriteCycle(std::chrono::milliseconds(12));
                break;
            case Fault::WriteProtected:
                rig.Model().Eeprom().SetWriteProtected(true);
                break;
            case Fault::NoMemory:
                rig.Model().RefuseAddress(0xA0);
                rig.Model().RefuseAddress(0xA1);
                break;
        }
        const char* button = command == Command::Write  ? "IICWriteButton"
                             : command == Command::Scan ? "Scan"
                                                        : "IICReadButton";
        QElapsedTimer timer;
        timer.start();
        Run(button);
        QVERIFY2(timer.elapsed() < 30000, "the command took longer than its time-outs allow");

        // No byte shown as good that was not.
        const auto& memory = rig.Model().Eeprom().Memory();
        const int count = command == Command::Read128 ? 128 : 256;
        for (int n = 1; n <= count && command != Command::Scan; ++n) {
            if (Red(n)) continue;
            QCOMPARE(CellHex(n), QString::fromStdString(HexText(memory[n - 1])));
            if (command != Command::Write) QCOMPARE(window->edidData()[n - 1], memory[n - 1]);
        }
        const bool clean =
            fault == Fault::None || fault == Fault::Replugged || fault == Fault::SlowWriteCycle;
        if (clean && command != Command::Scan)
            for (int n = 1; n <= count; ++n) QVERIFY2(!Red(n), qPrintable(QString::number(n)));
        if (command == Command::Scan) {
            if (fault == Fault::NoMemory)
                QCOMPARE(window->resultText(), QStringLiteral("No Devices found on I2C Buss"));
            if (clean) QCOMPARE(window->resultText(), QStringLiteral("160 (A0)\r\n161 (A1)\r\n"));
            for (const QString& line : window->resultText().split("\r\n", Qt::SkipEmptyParts))
                QVERIFY2(line == "160 (A0)" || line == "161 (A1)" || line.startsWith("No Devices"),
                         qPrintable(line));
        }

        // The window is usable, and the next read, once the fault is gone, is whole.
        QVERIFY(QApplication::overrideCursor() == nullptr);
        for (const char* name :
             {"SaveFile", "ReadFile", "ClearResult", "ByteOption_0", "ByteOption_1"})
            QVERIFY2(Button(window.get(), name)->isEnabled(), name);
        rig.Model().ClearFaults();
        rig.Model().SetLatency({});
        rig.Model().Eeprom().Memory() = SampleEdid();
        Run("ClearResult");
        Button(window.get(), "ByteOption_1")->click();
        Run("IICReadButton");
        for (int n = 1; n <= 256; ++n) QVERIFY2(!Red(n), qPrintable(QString::number(n)));
        QVERIFY(window->edidData() == SampleEdid());
        window.reset();
    }

    // Write EDID, then Read EDID, gives the image back byte for byte.
    void writeThenReadGivesTheImageBack() {
        rig.Fresh();
        window = std::make_unique<Form1>();
        EdidImage image{};
        for (int k = 0; k < 256; ++k) image[k] = static_cast<std::uint8_t>(k * 37 + 11);
        window->setEdidData(image);
        window->RefreshGrids();
        Run("IICWriteButton");
        window->setEdidData(EdidImage{});
        Run("ClearResult");
        Run("IICReadButton");
        QVERIFY(window->edidData() == image);
        QVERIFY(rig.Model().Eeprom().Memory() == image);
        window.reset();
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TestVmWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_vm_window.moc"
