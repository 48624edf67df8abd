// A display's EDID as the kernel gives it: QEMU's bochs-display bound by Debian's own bochs DRM
// driver, whose connector carries corpus EDIDs, cloned by the real quillon-cli into the memory of
// an emulated IO-Warrior 56 through the kernel's iowarrior driver. DRM is loaded for this program
// alone (scripts/run-vm-tests.sh).
#include <QJsonArray>
#include <QTemporaryDir>

#include "cli_process.h"
#include "vm_rig.h"

namespace {

using namespace quillon::testing;

// A display's EDID as the kernel gives it (/sys/class/drm), cloned into a memory: a corpus EDID
// put on the connector of the guest's virtual GPU (bochs, QEMU's bochs-display) through DRM's
// own override, listed by displays and written byte for byte; refused where it breaks a rule of
// a source or where the connector has no display.
class DisplayClone : public QObject {
    Q_OBJECT

  public:
    explicit DisplayClone(quillon::iow::AdapterRig& rig) : rig_(rig) {}

  private:
    quillon::iow::AdapterRig& rig_;
    static constexpr char kConnector[] = "card0-Virtual-1";

    // The EDID that the connector gives from now on, or no display at all.
    static bool Override(const QByteArray& edid) {
        const QString sysfs = QString("/sys/class/drm/") + kConnector + "/status";
        if (edid.isEmpty()) return Put(sysfs, "off");
        return Put("/sys/kernel/debug/dri/0/Virtual-1/edid_override", edid) && Put(sysfs, "on");
    }
    QByteArray Memory(int count) {
        auto& eeprom = rig_.Model().Eeprom();
        return Bytes(eeprom.Bytes(count), count);
    }
    static QByteArray Corpus(const QString& name) { return ReadAll("/corpus/" + name); }

  private slots:
    void init() {
        rig_.Fresh();
        Apply(rig_.Link(), Fault::Memory24C16, 0, Fault::Ok);
    }
    void cleanupTestCase() { Override(Corpus("acer-x34.bin")); }

    void cloned_data() {
        QTest::addColumn<QString>("edid");
        for (const char* name :
             {"acer-k272hl.bin", "acer-x34.bin", "long/dell-up2715k-dp1-tile1.bin"})
            QTest::newRow(name) << name;
    }
    void cloned() {
        QFETCH(QString, edid);
        const QByteArray bytes = Corpus(edid);
        QVERIFY(bytes.size() >= 128 && Override(bytes));
        const auto listed = RunProcess({"displays", "--json"}, CliSetup::Plain);
        const QJsonArray displays = QJsonDocument::fromJson(listed.out)["displays"].toArray();
        QVERIFY2(displays.size() == 1 && displays[0]["connector"] == kConnector &&
                     displays[0]["blocks"] == bytes.size() / 128,
                 listed.out);
        const auto run =
            RunProcess({"write", "--yes", "--memory", "24c16", "--from-display", "Virtual-1"},
                       CliSetup::Plain);
        QVERIFY2(run.status == 0, run.err);
        QCOMPARE(Memory(bytes.size()), bytes);
        QTemporaryDir dir;
        const auto saved = RunProcess({"read", "--from-display", kConnector, dir.filePath("d.bin")},
                                      CliSetup::Plain);
        QVERIFY2(saved.status == 0 && ReadAll(dir.filePath("d.bin")) == bytes, saved.err);
    }

    void refused_data() {
        QTest::addColumn<bool>("display");
        QTest::addColumn<QString>("message");
        QTest::newRow("a DisplayID section checksum spoiled")
            << true << "Block 2's DisplayID section checksum is bad";
        QTest::newRow("no display") << false << "No display is on card0-Virtual-1";
    }
    void refused() {
        QFETCH(bool, display);
        QFETCH(QString, message);
        QByteArray spoiled = Corpus("long/dell-up2715k-dp1-tile1.bin");
        spoiled[266] = char(spoiled[266] + 1), spoiled[383] = char(spoiled[383] - 1);
        QVERIFY(Override(display ? spoiled : QByteArray()));
        const QByteArray before = Memory(2048);
        const auto run =
            RunProcess({"write", "--yes", "--memory", "24c16", "--from-display", "Virtual-1"},
                       CliSetup::Plain);
        QVERIFY2(run.status == 5 && run.err.startsWith(message.toUtf8()), run.err);
        QCOMPARE(Memory(2048), before);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    quillon::iow::VmRig rig(0x1503);
    if (!rig.Ready()) return std::printf("the emulated adapter did not come up\n"), 1;
    DisplayClone clone(rig);
    return QTest::qExec(&clone, argc, argv);
}

#include "test_vm_displays.moc"
