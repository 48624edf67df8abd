// Linux's I2C buses through i2c-dev, each behind the kernel's own driver: a CP2112 and an
// MCP2221 presented through /dev/uhid (hid-cp2112, hid-mcp2221) with a memory on their bus,
// i2c-stub as an SMBus-only bus with a chip at 0x50, at24 holding that address, and QEMU's PIIX4
// SMBus host controller (i2c-piix4) with its SPD EEPROMs. The real quillon-cli reads, writes,
// verifies, shows and scans with --bus; refusals are rows. The modules are loaded for this
// program alone (scripts/run-vm-tests.sh).
#include <QJsonArray>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "cli_process.h"
#include "emulated_bridges.h"

namespace {

using namespace quillon::testing;
using Kind = EmulatedBridge::Kind;

// The bus whose adapter's name starts with `prefix`; -1 for none.
int BusNamed(const std::string& prefix) {
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/i2c/devices")) {
        std::ifstream in(entry.path() / "name");
        std::string name;
        std::getline(in, name);
        if (entry.path().filename().string().starts_with("i2c-") && name.starts_with(prefix))
            return std::stoi(entry.path().filename().string().substr(4));
    }
    return -1;
}

enum class Fault { None, NoMemory, WriteProtected, OneBlock, UnpluggedMidway };

class LinuxBuses : public QObject {
    Q_OBJECT

  public:
    LinuxBuses(EmulatedBridge& cp2112, EmulatedBridge& mcp2221)
        : bridges_{&cp2112, &mcp2221} {}

  private:
    EmulatedBridge* bridges_[2];
    QTemporaryDir dir_;

    static QByteArray Corpus(const QString& name) { return ReadAll("/corpus/" + name); }
    static QByteArray Memory(EmulatedBridge& bridge, int count) {
        return Bytes(bridge.Bus().Eeprom().Bytes(count), count);
    }
    static CliRun Cli(QStringList arguments) { return RunProcess(arguments, CliSetup::Plain); }

  private slots:
    // A bridge pulled by a row is plugged in again; each holds a sound 24C02 full of zeros.
    void init() {
        for (EmulatedBridge* bridge : bridges_) {
            std::string error;
            if (bridge->BusNumber() < 0) QVERIFY2(bridge->Plug(error), error.c_str());
            bridge->Bus().UseLargerMemory(256);
            bridge->Bus().Eeprom().ClearFaults();
            bridge->Bus().Eeprom().Memory().fill(0);
        }
    }

    void bridges_data() {
        QTest::addColumn<int>("bridge");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("memory");
        QTest::addColumn<int>("status");
        for (int b = 0; b < 2; ++b) {
            const QByteArray name = bridges_[b]->Name();
            const auto row = [&](const char* what, Fault fault, const char* memory,
                                 int status) {
                QTest::newRow(name + ": " + what) << b << int(fault) << memory << status;
            };
            row("two blocks", Fault::None, "24c02", 0);
            row("three blocks, 24C16", Fault::None, "24c16", 0);
            row("no memory", Fault::NoMemory, "24c02", 3);
            row("write-protected", Fault::WriteProtected, "24c02", 4);
            row("a 128-byte memory", Fault::OneBlock, "24c02", 4);
            row("unplugged midway", Fault::UnpluggedMidway, "24c02", 3);
        }
    }
    // write, verify, read, show and scan through the bridge's driver; a fault flagged, with no
    // byte passed as good that the memory does not hold.
    void bridges() {
        QFETCH(int, bridge);
        QFETCH(int, fault);
        QFETCH(QString, memory);
        QFETCH(int, status);
        EmulatedBridge& b = *bridges_[bridge];
        auto& eeprom = b.Bus().Eeprom();
        if (memory == "24c16") b.Bus().UseLargerMemory(2048), eeprom.SetPageBytes(16);
        const QString file = QString("/corpus/") +
                             (memory == "24c16" ? "long/dell-up2715k-dp1-tile1.bin" : "acer-x34.bin");
        const QByteArray image = ReadAll(file);
        if (fault == int(Fault::NoMemory)) eeprom.Refuse(0xA0), eeprom.Refuse(0xA1);
        if (fault == int(Fault::WriteProtected)) eeprom.SetWriteProtected(true);
        if (fault == int(Fault::OneBlock)) eeprom.SetHoldsOneBlock(true);
        if (fault == int(Fault::UnpluggedMidway)) b.UnplugAfterTransfers(10);
        const QString bus = QString::number(b.BusNumber());
        const auto written = Cli({"write", "--yes", "--bus", bus, "--memory", memory, file});
        if (fault == int(Fault::UnpluggedMidway)) b.Unplug();  // once the program let go of it
        QVERIFY2(written.status == status, written.err);
        if (fault == int(Fault::UnpluggedMidway)) return;
        QCOMPARE(Memory(b, image.size()) == image, status == 0);
        const auto verified = Cli({"verify", "--bus", bus, "--memory", memory, file});
        QVERIFY2(verified.status == status, verified.err);
        if (status != 0) return;
        const auto read = Cli({"read", "--bus", bus, "--memory", memory, dir_.filePath("r.bin")});
        QVERIFY2(read.status == 0 && ReadAll(dir_.filePath("r.bin")) == image, read.err);
        const auto shown = Cli({"show", "--json", "--bus", bus, "--memory", memory});
        const auto blocks = QJsonDocument::fromJson(shown.out)["blocks"].toArray().size();
        QVERIFY2(shown.status == 0 && blocks == image.size() / 128, shown.out);
        const auto scan = Cli({"scan", "--bus", bus});
        QVERIFY2(scan.status == 0 && scan.out.startsWith("0xA0 0xA1"), scan.out + scan.err);
    }

    // i2c-stub has SMBus calls alone: reads and writes of 32 bytes at most go through them, and
    // what they wrote is what at24, the kernel's own EEPROM driver, then reads there.
    void smbusOnly() {
        const QString bus = QString::number(BusNamed("SMBus stub driver"));
        const QString file = "/corpus/acer-x34.bin";
        const QByteArray image = ReadAll(file);
        const auto written = Cli({"write", "--yes", "--bus", bus, file});
        QVERIFY2(written.status == 0, written.err);
        const auto verified = Cli({"verify", "--bus", bus, file});
        QVERIFY2(verified.status == 0, verified.err);
        const auto read = Cli({"read", "--bus", bus, dir_.filePath("r.bin")});
        QVERIFY2(read.status == 0 && ReadAll(dir_.filePath("r.bin")) == image, read.err);
        const auto scan = Cli({"scan", "--bus", bus});
        QVERIFY2(scan.status == 0 && scan.out == "0xA0 0xA1\n", scan.out + scan.err);
        const QString devices = QString("/sys/bus/i2c/devices/i2c-%1/").arg(bus);
        QVERIFY(Put(devices + "new_device", "24c02 0x50"));
        const QByteArray at24 = ReadAll(QString("/sys/bus/i2c/devices/%1-0050/eeprom").arg(bus));
        Put(devices + "delete_device", "0x50");
        QCOMPARE(at24.left(256), image);
    }

    // What cannot or must not be done, said: the bus, and the memory untouched; and the one
    // write a host controller takes, named and onto an EDID.
    void refused_data() {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QStringList write{"write", "--yes"};
        QTest::newRow("a segment through a bridge")
            << "CP2112 SMBus Bridge" << QStringList{"read", "--memory", "e-ddc"} << false << 1
            << "a write then a read to one address";
        QTest::newRow("a segment on SMBus") << "SMBus stub driver"
                                            << QStringList{"read", "--memory", "e-ddc"} << false
                                            << 1 << "SMBus calls only";
        QTest::newRow("held by at24") << "SMBus stub driver" << write << false << 2
                                      << "held by the kernel's at24 driver";
        QTest::newRow("no such bus") << "" << write << false << 2 << "No I2C bus 99";
        QTest::newRow("no permission") << "MCP2221" << write << true << 2 << "may not open";
        QTest::newRow("an SMBus host controller") << "SMBus PIIX4" << write << false << 2
                                                  << "is a computer's SMBus host controller";
        QTest::newRow("named, no EDID there") << "SMBus PIIX4" << QStringList{write}
                                              << false << 2 << "does not read as an EDID";
        // An EDID header put there through at24; then written a byte a call, as i2c-piix4 has
        // no I2C block calls.
        QTest::newRow("named, an EDID there") << "SMBus PIIX4" << QStringList{write} << false
                                              << 0 << "Wrote and verified 256 bytes.";
    }
    void refused() {
        QFETCH(QString, bus);
        QFETCH(QStringList, arguments);
        QFETCH(bool, unprivileged);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString number = bus.isEmpty() ? "99" : QString::number(BusNamed(bus.toStdString()));
        const QByteArray tag(QTest::currentDataTag());
        const bool at24 = tag.contains("at24"), seeded = tag.contains("an EDID");
        const QString devices = QString("/sys/bus/i2c/devices/i2c-%1/").arg(number);
        if (at24 || seeded) QVERIFY(Put(devices + "new_device", "24c02 0x50"));
        if (seeded) {
            const QString eeprom = QString("/sys/bus/i2c/devices/%1-0050/eeprom").arg(number);
            QVERIFY(Put(eeprom, Corpus("acer-x34.bin").left(8)));
            Put(devices + "delete_device", "0x50");
        }
        if (tag.startsWith("named"))
            arguments << "--write-smbus-host" << number;
        // A file that nobody may read too; a refused read writes nothing into it.
        arguments << "--bus" << number << "/corpus/acer-x34.bin";
        const QByteArray before = Memory(*bridges_[1], 256);
        const auto run =
            RunProcess(arguments, unprivileged ? CliSetup::Unprivileged : CliSetup::Plain);
        if (at24) Put(devices + "delete_device", "0x50");
        QVERIFY2(run.status == status && run.err.contains(message.toUtf8()), run.err);
        QCOMPARE(Memory(*bridges_[1], 256), before);
        if (at24) QVERIFY(run.err.contains("/sys/bus/i2c/drivers/at24/unbind"));
        if (!seeded) return;  // what at24 reads there now: the whole image
        QVERIFY(Put(devices + "new_device", "24c02 0x50"));
        const QByteArray held = ReadAll(QString("/sys/bus/i2c/devices/%1-0050/eeprom").arg(number));
        Put(devices + "delete_device", "0x50");
        QCOMPARE(held.left(256), Corpus("acer-x34.bin"));
    }

    void listed() {
        const auto run = Cli({"list"});
        for (const char* driver : {"' cp2112", "' mcp2221", "' piix4_smbus"})
            QVERIFY2(run.status == 0 && run.out.contains(driver), run.out);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    EmulatedBridge cp2112(Kind::Cp2112), mcp2221(Kind::Mcp2221);
    for (EmulatedBridge* bridge : {&cp2112, &mcp2221}) {
        std::string error;
        if (!bridge->Plug(error)) return std::printf("%s\n", error.c_str()), 1;
    }
    LinuxBuses buses(cp2112, mcp2221);
    return QTest::qExec(&buses, argc, argv);
}

#include "test_vm_i2c_buses.moc"
