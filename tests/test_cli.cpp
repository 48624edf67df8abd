// quillon-cli's table in-process, on the virtual adapter; then several virtual adapters at once.
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <thread>

#include "cli/command_line.h"
#include "cli_table.h"
#include "iow/adapter_choice.h"
#include "iow/virtual/virtual_backend.h"
#include "virtual_rig.h"

namespace {

using namespace quillon::testing;

CliRun RunInProcess(const QStringList& arguments, CliSetup setup) {
    using enum CliSetup;
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    const bool terminal = setup == AnswerYes || setup == AnswerNo;
    QStringList lines{setup == AnswerYes ? "y" : "n"};
    quillon::cli::Console console{out, err, terminal, terminal, [&]() -> std::optional<QString> {
                                      if (lines.isEmpty()) return std::nullopt;
                                      return lines.takeFirst();
                                  }};
    interruptedProcess = ::getpid();
    run.status = quillon::cli::RunCommandLine(QStringList{"quillon-cli"} + arguments, console);
    interruptedProcess = 0;
    return run;
}

}  // namespace

// Three fixtures on one computer: each adapter gets its own record, and a fault on one reaches
// no other's; a program given one adapter leaves the others free.
class SeveralAdapters : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString image_ = dir_.filePath("image.bin");
    std::vector<quillon::iow::VirtualAdapter*> adapters_;

  private slots:
    void init() {
        adapters_ = quillon::iow::UseVirtualAdapters(3);
        for (auto* adapter : adapters_) {
            adapter->Reset();
            adapter->Eeprom().Memory().fill(0xEE);
            adapter->Eeprom().SetWriteCycle({});
            adapter->SetInstantTimeouts(true);
        }
        QFile file(image_);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Bytes(quillon::iow::SampleEdid())));
    }
    void cleanupTestCase() { quillon::iow::UseVirtualAdapters(1); }

    void rows_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("fault");  // on the second adapter
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("status");
        const QString three = "--all";
        QTest::newRow("--all writes three") << three << int(Fault::Ok) << QList{0, 0, 0} << 0;
        QTest::newRow("one write-protected")
            << three << int(Fault::Protected) << QList{0, 4, 0} << 4;
        QTest::newRow("one unplugged midway") << three << int(Fault::Unplug) << QList{0, 3, 0} << 3;
        QTest::newRow("one held by another program")
            << "--adapter 0000A5E1 --adapter 0000A5E2" << -1 << QList{0, 2} << 2;
    }
    void rows() {
        QFETCH(QString, options);
        QFETCH(int, fault);
        QFETCH(QList<int>, statuses);
        QFETCH(int, status);
        const IowKitHandle held = fault < 0 ? quillon::iow::OpenAdapterWithSerial("0000A5E2") : 0;
        if (fault >= 0) Apply(*adapters_[1], Fault(fault), 21, Fault::Ok);
        const CliRun run = RunInProcess(
            options.split(' ') + QStringList{"--json", "write", "--yes", image_}, CliSetup::Plain);
        IowKitCloseDevice(held);
        QCOMPARE(run.status, status);
        const QList<QByteArray> records = run.out.trimmed().split('\n');
        QCOMPARE(records.size(), statuses.size());
        for (int k = 0; k < statuses.size(); ++k) {
            const QJsonObject record = QJsonDocument::fromJson(records[k]).object();
            const QString serial = QStringLiteral("0000A5E%1").arg(k + 1);
            QCOMPARE(record["adapter_serial"].toString(), serial);
            QCOMPARE(record["exit_status"].toInt(), statuses[k]);
            if (statuses[k] == 0)  // the others' memories hold the image whole
                QCOMPARE(adapters_[k]->Eeprom().Memory(), quillon::iow::SampleEdid());
        }
        if (fault < 0)
            QVERIFY(run.err.contains("0000A5E2: Adapter 0000A5E2 is attached, but another"));
    }

    // Declined on the terminal: nothing is written anywhere, and the run says so.
    void declinedWritesNothing() {
        QCOMPARE(RunInProcess({"--all", "write", image_}, CliSetup::AnswerNo).status, 1);
        for (auto* adapter : adapters_) QCOMPARE(adapter->Eeprom().Memory()[0], 0xEE);
    }

    // Two programs at once, each with its own adapter: both are done.
    void twoProgramsAtOnce() {
        CliRun first, second;
        std::thread other([&] {
            second =
                RunInProcess({"--adapter", "0000A5E2", "write", "--yes", image_}, CliSetup::Plain);
        });
        first = RunInProcess({"--adapter", "0000A5E1", "write", "--yes", image_}, CliSetup::Plain);
        other.join();
        QCOMPARE(first.status * 10 + second.status, 0);
        QCOMPARE(adapters_[1]->Eeprom().Memory(), quillon::iow::SampleEdid());
    }
};

// show against a real decoder: on every image of the corpus, the identity that show prints is
// what edid-decode prints for the same file.
class ShowAgreesWithEdidDecode : public QObject {
    Q_OBJECT

    // The fields that both tell, one "name value" line each, from edid-decode's report.
    static QStringList FromDecoder(const QString& report) {
        QStringList fields;
        const auto take = [&](const char* pattern,
                              const std::function<QString(QRegularExpressionMatch)>& field) {
            const QRegularExpressionMatch m =
                QRegularExpression(pattern, QRegularExpression::MultilineOption).match(report);
            if (m.hasMatch()) fields << field(m);
        };
        take(R"(Revision: (\d+\.\d+))", [](auto m) { return "version " + m.captured(1); });
        take(R"(^    Manufacturer: (\S+))", [](auto m) { return "manufacturer " + m.captured(1); });
        take(R"(^    Model: (\d+))", [](auto m) { return "product " + m.captured(1); });
        take(R"(^    Serial Number: (\d+))", [](auto m) { return "serial " + m.captured(1); });
        take(R"(^    (Made in: (week \d+ of )?|Model year: )(\d+))",
             [](auto m) { return "made " + m.captured(1).remove(':') + m.captured(3); });
        take(R"(Display Product Name: '(.*)')", [](auto m) { return "name " + m.captured(1); });
        take(R"(Display Product Serial Number: '(.*)')",
             [](auto m) { return "serial text " + m.captured(1); });
        take(R"(DTD 1: +(\d+x\d+i?) +([\d.]+) Hz)", [](auto m) {
            return "mode " + m.captured(1) + " " +
                   QString::number(m.captured(2).toDouble(), 'f', 3);
        });
        return fields;
    }
    static QStringList FromShow(const QJsonObject& j) {
        QStringList fields{"version " + j["version"].toString(),
                           "manufacturer " + j["manufacturer"].toString(),
                           "product " + QString::number(j["product_code"].toInt())};
        if (j["serial_number"].toInteger() != 0)
            fields << "serial " + QString::number(j["serial_number"].toInteger());
        const QString year = QString::number(j["year"].toInt());
        fields << (j["model_year"].toBool() ? "made Model year " + year
                   : j["week"].toInt()
                       ? QString("made Made in week %1 of %2").arg(j["week"].toInt()).arg(year)
                       : "made Made in " + year);
        if (j.contains("name")) fields << "name " + j["name"].toString();
        if (j.contains("serial_text")) fields << "serial text " + j["serial_text"].toString();
        if (j.contains("preferred")) {
            const QJsonObject mode = j["preferred"].toObject();
            fields << QString("mode %1x%2%3 %4")
                          .arg(mode["width"].toInt())
                          .arg(mode["height"].toInt())
                          .arg(mode["interlaced"].toBool() ? "i" : "")
                          .arg(mode["refresh_hz"].toDouble(), 0, 'f', 3);
        }
        return fields;
    }

  private slots:
    void everyCorpusImage() {
        const QDir corpus(QUILLON_SOURCE_DIR "/../shared/edid-corpus");
        QStringList files;
        for (const QString& name : corpus.entryList({"*.bin"})) files << corpus.filePath(name);
        QVERIFY2(files.size() > 100, "the corpus is missing");
        files << QUILLON_SOURCE_DIR "/src/iow/virtual/sample-edid.bin";
        QStringList wrong;
        for (const QString& name : files) {
            QProcess decoder;
            decoder.start("edid-decode", {name});
            QVERIFY2(decoder.waitForFinished(30000), "edid-decode did not run");
            const CliRun run =
                RunInProcess({"show", "--json", corpus.filePath(name)}, CliSetup::Plain);
            const QStringList expected = FromDecoder(decoder.readAllStandardOutput());
            const QStringList shown = FromShow(QJsonDocument::fromJson(run.out).object());
            if (run.status != 0 || expected.size() < 5 || shown != expected)
                wrong << name + ": " + expected.join(", ") + " | " + shown.join(", ");
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    quillon::iow::VirtualRig rig;
    CliTable table(rig, RunInProcess, false);
    SeveralAdapters several;
    ShowAgreesWithEdidDecode show;
    return QTest::qExec(&table, argc, argv) + QTest::qExec(&several, argc, argv) +
           QTest::qExec(&show, argc, argv);
}

#include "test_cli.moc"
