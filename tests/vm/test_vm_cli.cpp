// The real quillon-cli (the kernel-driver build, at $QUILLON_CLI) run as its own process
// against the kernel's iowarrior driver and an emulated IO-Warrior 24 and 56: the table's rows
// marked for the VM; then three fixtures' adapters at once (an IOW56 and two IOW24s).
#include <unistd.h>

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include "cli_table.h"
#include "several_adapters.h"
#include "vm_rig.h"

namespace {

constexpr int kProcessLimitMs = 300000;  // a hung program fails its row, within the row's time-out

constexpr uid_t kNobody = 65534;

quillon::testing::CliRun RunProcess(const QStringList& arguments,
                                    quillon::testing::CliSetup setup) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // The guest has no udev: the driver's nodes stay root's alone, as without the package's
    // rule, so nobody may not open them.
    if (setup == quillon::testing::CliSetup::Unprivileged)
        process.setChildProcessModifier([] {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(127);
        });
    process.start(qEnvironmentVariable("QUILLON_CLI"), arguments);
    quillon::testing::interruptedProcess = static_cast<pid_t>(process.processId());
    quillon::testing::CliRun run;
    const bool finished = process.waitForFinished(kProcessLimitMs);
    quillon::testing::interruptedProcess = 0;
    if (!finished) {
        qWarning("hung: %s", process.readAllStandardError().constData());
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit) run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

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

    static bool Put(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    // The EDID that the connector gives from now on, or no display at all.
    static bool Override(const QByteArray& edid) {
        const QString sysfs = QString("/sys/class/drm/") + kConnector + "/status";
        if (edid.isEmpty()) return Put(sysfs, "off");
        return Put("/sys/kernel/debug/dri/0/Virtual-1/edid_override", edid) && Put(sysfs, "on");
    }
    QByteArray Memory(int count) {
        auto& eeprom = rig_.Model().Eeprom();
        return quillon::testing::Bytes(eeprom.Bytes(count), count);
    }
    static QByteArray Corpus(const QString& name) {
        QFile file("/corpus/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

  private slots:
    void init() {
        rig_.Fresh();
        quillon::testing::Apply(rig_.Link(), quillon::testing::Fault::Memory24C16, 0,
                                quillon::testing::Fault::Ok);
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
        QVERIFY(!bytes.isEmpty() && Override(bytes));
        const auto listed = RunProcess({"displays", "--json"}, quillon::testing::CliSetup::Plain);
        const QJsonArray displays = QJsonDocument::fromJson(listed.out)["displays"].toArray();
        QVERIFY2(displays.size() == 1 && displays[0]["connector"] == kConnector &&
                     displays[0]["blocks"] == bytes.size() / 128,
                 listed.out);
        const auto run =
            RunProcess({"write", "--yes", "--memory", "24c16", "--from-display", "Virtual-1"},
                       quillon::testing::CliSetup::Plain);
        QVERIFY2(run.status == 0, run.err);
        QCOMPARE(Memory(bytes.size()), bytes);
        QTemporaryDir dir;
        const auto saved = RunProcess({"read", "--from-display", kConnector, dir.filePath("d.bin")},
                                      quillon::testing::CliSetup::Plain);
        QFile file(dir.filePath("d.bin"));
        QVERIFY2(saved.status == 0 && file.open(QIODevice::ReadOnly) && file.readAll() == bytes,
                 saved.err);
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
                       quillon::testing::CliSetup::Plain);
        QVERIFY2(run.status == 5 && run.err.startsWith(message.toUtf8()), run.err);
        QCOMPARE(Memory(2048), before);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int failures = quillon::iow::OnEveryVmAdapter([&](quillon::iow::VmRig& rig) {
        quillon::testing::CliTable table(rig, RunProcess, true);
        return QTest::qExec(&table, argc, argv);
    });
    {
        std::printf("== three emulated adapters at once\n");
        quillon::iow::VmRig first(0x1503, 0), second(0x1501, 1), third(0x1501, 2);
        if (!first.Ready() || !second.Ready() || !third.Ready())
            return std::printf("the emulated adapters did not come up\n"), failures + 1;
        quillon::testing::SeveralAdapters several({&first, &second, &third}, RunProcess, true);
        failures += QTest::qExec(&several, argc, argv);
    }
    {
        std::printf("== a display's EDID cloned\n");
        quillon::iow::VmRig rig(0x1503);
        DisplayClone clone(rig);
        failures += rig.Ready() ? QTest::qExec(&clone, argc, argv) : 1;
    }
    // A product whose I2C function is an interface of its own is named, never driven.
    std::printf("== an IO-Warrior 28\n");
    quillon::iow::VmRig iow28(0x1504);
    const auto run = RunProcess({"info"}, quillon::testing::CliSetup::Plain);
    const bool named = run.status == 2 && run.err.startsWith("IO-Warrior 28 (0x1504) 0000A5E1");
    std::printf("%s: info on an IO-Warrior 28: %d %s\n", named ? "PASS" : "FAIL", run.status,
                run.err.constData());
    return failures + (named ? 0 : 1);
}

#include "test_vm_cli.moc"
