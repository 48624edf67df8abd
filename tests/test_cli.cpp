// quillon-cli's table in-process, on the virtual adapter; then several virtual adapters at once.
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <deque>

#include "cli/command_line.h"
#include "cli_table.h"
#include "iow/virtual/virtual_backend.h"
#include "several_adapters.h"
#include "virtual_rig.h"

namespace {

using namespace quillon::testing;

CliRun RunInProcess(const QStringList& arguments, CliSetup setup) {
    using enum CliSetup;
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    const bool terminal = setup == AnswerYes || setup == AnswerNo;
    QStringList lines{setup == AnswerYes ? "y" : ""};  // Return alone: the default, No
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

// The fields that both tell, one "name value" line each, from edid-decode's report.
QStringList FromDecoder(const QString& report) {
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
        return "mode " + m.captured(1) + " " + QString::number(m.captured(2).toDouble(), 'f', 3);
    });
    take(R"(^  Extension blocks: (\d+))", [](auto m) { return "extensions " + m.captured(1); });
    for (const auto& m : QRegularExpression(R"(^Block (\d+), (.+?) Extension Block( 0x\w+)?:)",
                                            QRegularExpression::MultilineOption)
                             .globalMatch(report))
        fields << "block " + m.captured(1) + " " + m.captured(2);
    return fields;
}

// edid-decode's report on the image file at `path`.
QString EdidDecode(const QString& path) {
    QProcess decoder;
    decoder.start("edid-decode", {path});
    return decoder.waitForFinished(30000) ? decoder.readAllStandardOutput() : QString();
}

// show against a real decoder: on every image of the corpus, the identity that show prints is
// what edid-decode prints for the same file.
class ShowAgreesWithEdidDecode : public QObject {
    Q_OBJECT

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
        if (j["extensions"].toInt() > 0)
            fields << "extensions " + QString::number(j["extensions"].toInt());
        const QJsonArray tags = j["extension_tags"].toArray();
        for (int k = 0; k < tags.size(); ++k)
            fields << QString("block %1 %2").arg(k + 1).arg(tags[k].toString());
        return fields;
    }

  private slots:
    void everyCorpusImage() {
        QStringList files;
        for (const char* folder : {"", "/long"}) {
            const QDir corpus(QString(QUILLON_SOURCE_DIR "/../shared/edid-corpus") + folder);
            for (const QString& name : corpus.entryList({"*.bin"})) files << corpus.filePath(name);
        }
        QVERIFY2(files.size() > 120, "the corpus is missing");
        files << QUILLON_SOURCE_DIR "/src/iow/virtual/sample-edid.bin";
        QTemporaryDir dir;  // and the sample with its preferred mode interlaced
        QByteArray interlaced = ReadAll(files.last());
        interlaced[54 + 17] = char(interlaced[54 + 17] | 0x80);
        QVERIFY(Put(files.emplace_back(dir.filePath("interlaced.bin")), interlaced));
        QStringList wrong;
        for (const QString& name : files) {
            const CliRun run = RunInProcess({"show", "--json", name}, CliSetup::Plain);
            const QStringList expected = FromDecoder(EdidDecode(name));
            const QStringList shown = FromShow(QJsonDocument::fromJson(run.out).object());
            if (run.status != 0 || expected.size() < 5 || shown != expected)
                wrong << name + ": " + expected.join(", ") + " | " + shown.join(", ");
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
    }
};

// What a source throws away is never written unasked: corpus images made to break a rule, each
// refused with its block and rule named, mended by --fix-checksums where a checksum is all that
// is wrong (edid-decode then finds no checksum to mend), or written --as-is and recorded so.
class SourceRules : public QObject {
    Q_OBJECT

  public:
    explicit SourceRules(quillon::iow::AdapterRig& rig) : rig_(rig) {}

  private:
    quillon::iow::AdapterRig& rig_;
    QTemporaryDir dir_;
    enum Spoil { DisplayIdSum, CountPastImage, CtaOffsetPastBlock };

    // The corpus image spoiled, its blocks' own checksums kept.
    static QByteArray Spoiled(Spoil spoil) {
        const QString corpus = QUILLON_SOURCE_DIR "/../shared/edid-corpus/";
        QByteArray b = ReadAll(
            corpus + (spoil == DisplayIdSum ? "long/dell-up2715k-dp1-tile1.bin" : "acer-x34.bin"));
        const int at = spoil == DisplayIdSum ? 266 : spoil == CountPastImage ? 126 : 130;
        const char by = spoil == CtaOffsetPastBlock ? char(200 - b[at]) : char(1);
        b[at] = char(b[at] + by);
        b[at | 127] = char(b[at | 127] - by);
        return b;
    }

  private slots:
    void refusedMendedOrAsIs_data() {
        QTest::addColumn<int>("spoil");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("rule");  // what show names
        const QString refused = "", fix = "--fix-checksums", asIs = "--as-is";
        QTest::newRow("DisplayID sum")
            << int(DisplayIdSum) << refused << 5 << "Block 2's DisplayID section checksum is bad"
            << "displayid-checksum";
        QTest::newRow("DisplayID sum, mended") << int(DisplayIdSum) << fix << 0 << "Wrote"
                                               << "displayid-checksum";
        QTest::newRow("DisplayID sum, as it is") << int(DisplayIdSum) << asIs << 0 << "Wrote"
                                                 << "displayid-checksum";
        QTest::newRow("byte 126 past the image")
            << int(CountPastImage) << fix << 5 << "Block 0 counts 2 extension blocks"
            << "extension-count";
        QTest::newRow("CTA-861 timings past the block")
            << int(CtaOffsetPastBlock) << fix << 5
            << "Block 1's CTA-861 detailed timings are said to start at byte 200"
            << "cta-timing-offset";
    }
    void refusedMendedOrAsIs() {
        QFETCH(int, spoil);
        QFETCH(QString, options);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, rule);
        rig_.Fresh();
        Apply(rig_.Link(), Fault::Memory24C16, 0, Fault::Ok);
        auto& eeprom = rig_.Model().Eeprom();
        const QByteArray before = Bytes(eeprom.Bytes(eeprom.Size()), eeprom.Size());
        const QString image = dir_.filePath("spoiled.bin");
        QVERIFY(Put(image, Spoiled(Spoil(spoil))));
        const CliRun shown = RunInProcess({"show", "--json", image}, CliSetup::Plain);
        const QJsonArray broken =
            QJsonDocument::fromJson(shown.out)["source_rules_broken"].toArray();
        QCOMPARE(broken.first()["rule"].toString(), rule);
        const CliRun run =
            RunInProcess(options.split(' ', Qt::SkipEmptyParts) +
                             QStringList{"write", "--yes", "--json", "--memory", "24c16", image},
                         CliSetup::Plain);
        QVERIFY2(run.status == status && run.err.startsWith(message.toUtf8()), run.err);
        const QByteArray memory = Bytes(eeprom.Bytes(eeprom.Size()), eeprom.Size());
        const QByteArray written = memory.left(ReadAll(image).size());
        if (status != 0) {
            QCOMPARE(memory, before);
            return;
        }
        const QJsonObject json = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(json["as_is"].toBool(), options == "--as-is");
        if (options == "--as-is") {  // and the record says so
            QCOMPARE(json["source_rules_broken"].toArray(), broken);
            QCOMPARE(written, ReadAll(image));
            return;
        }
        QVERIFY(Put(image, written));  // mended: edid-decode finds no checksum to mend
        const QString report = EdidDecode(image);
        QVERIFY2(report.contains("DisplayID") && !report.contains("should be"), qPrintable(report));
    }

    // edid-decode's own lines, for information; and how to have it where it is missing.
    void conformity() {
        const QString image = QUILLON_SOURCE_DIR "/../shared/edid-corpus/acer-x34.bin";
        const CliRun run = RunInProcess({"show", "--conformity", "--json", image}, CliSetup::Plain);
        const QJsonObject judged = QJsonDocument::fromJson(run.out)["conformity"].toObject();
        QCOMPARE(run.status, 0);
        QCOMPARE(judged["verdict"].toString(), "FAIL");
        QCOMPARE(judged["failures"].toArray().first().toString(),
                 "Block 1, CTA-861 Extension Block: Required 640x480p60 timings are missing in the "
                 "established timings and the SVD list (VIC 1).");
        QCOMPARE(judged["warnings"].toArray().last().toString(),
                 "EDID: Base EDID: Some timings are out of range of the Monitor Ranges:\n"
                 "    Horizontal Freq: 73.680 - 150.972 kHz (Monitor: 73.000 - 150.000 kHz)\n"
                 "    Could be due to a Monitor Range off-by-one rounding issue");
        QCOMPARE(QList({judged["failure_count"].toInt(), judged["warning_count"].toInt()}),
                 QList({2, 3}));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        const CliRun missing = RunInProcess({"show", "--conformity", image}, CliSetup::Plain);
        qputenv("PATH", path);
        QVERIFY2(missing.status == 1 && missing.err.contains("apt install edid-decode"),
                 missing.err);
    }
};

// Each unit its own identity: what a stamped write leaves in the memory is what edid-decode
// reads there, with good checksums, and every other byte is the file's; the counter gives no
// number twice, not to a killed program nor to two programs at once (a failed unit: the table).
class UnitStamps : public QObject {
    Q_OBJECT

  public:
    explicit UnitStamps(quillon::iow::AdapterRig& rig) : rig_(rig) {}

  private:
    QTemporaryDir dir_;
    QString image_ = dir_.filePath("image.bin"), counter_ = dir_.filePath("counter"),
            log_ = dir_.filePath("units.jsonl");
    quillon::iow::AdapterRig& rig_;

    CliRun Write(const QString& options) {
        return RunInProcess(options.split(' ', Qt::SkipEmptyParts) +
                                QStringList{"--json", "write", "--yes", image_},
                            CliSetup::Plain);
    }
    static int StampedSerial(const QByteArray& json) {
        return QJsonDocument::fromJson(json)["stamped"]["serial_number"].toInt();
    }
    // A quillon-cli-virtual process writing one unit from the counter.
    void Start(QProcess& process) {
        process.start(QUILLON_CLI_VIRTUAL, {"--log", log_, "write", "--yes", "--json",
                                            "--stamp-serial-from", counter_, image_});
    }

  private slots:
    void init() {
        rig_.Fresh();
        QVERIFY(Put(image_, Bytes(quillon::iow::SampleEdid())) && Put(counter_, "1000\n"));
        QFile::remove(log_);
    }

    void stampedAsEdidDecodeReadsIt_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QStringList>("fields");  // as FromDecoder gives them
        QTest::addColumn<bool>("inCta");  // the serial number descriptor in the CTA-861 block
        const int year = QDate::currentDate().year();  // the UTC date's year, but for a few hours
        QTest::newRow("serial and date")
            << "--stamp-serial 123456 --stamp-date 2024-07"
            << QStringList{"serial 123456", "made Made in week 7 of 2024", "serial text 123456"}
            << false;
        QTest::newRow("text alone, today")
            << "--stamp-serial-text QX-0042 --stamp-date today"
            << QStringList{"serial 5381", "serial text QX-0042",
                           QString("made Made in week %1 of %2")
                               .arg(QDate::currentDate().weekNumber())
                               .arg(year)}
            << false;
        QTest::newRow("text in the CTA-861 block")
            << "--stamp-serial-text QX-0042" << QStringList{"serial text QX-0042"} << true;
    }
    void stampedAsEdidDecodeReadsIt() {
        QFETCH(QString, options);
        QFETCH(QStringList, fields);
        QFETCH(bool, inCta);
        if (inCta) {  // the sample's descriptor (at 108) moved into block 1's detailed timings
            quillon::EdidImage image = quillon::iow::SampleEdid();
            const int cta = quillon::kBlockBytes + image[quillon::kBlockBytes + 2];
            std::copy_n(&image[108], 18, &image[cta]);
            image[111] = 0x10;  // a dummy descriptor in its place
            std::fill_n(&image[113], 13, 0);
            for (int end : {127, 255})
                image[end] -= std::accumulate(&image[end - 127], &image[end + 1], 0);
            QVERIFY(Put(image_, Bytes(image)));
        }
        QCOMPARE(Write(options).status, 0);
        const QString stamped = dir_.filePath("stamped.bin");
        QVERIFY(Put(stamped, Bytes(rig_.Model().Eeprom().Memory())));
        const QString report = EdidDecode(stamped);
        for (const QString& field : fields)
            QVERIFY2(FromDecoder(report).contains(field), qPrintable(field + " in " + report));
        QVERIFY2(!report.contains("should be"), "a checksum edid-decode rejects");
        // Every other byte is the file's: the golden compare passes, the plain one does not.
        QCOMPARE(RunInProcess({"verify", "--ignore-stamp", image_}, CliSetup::Plain).status, 0);
        QCOMPARE(RunInProcess({"verify", image_}, CliSetup::Plain).status, 4);
    }

    // Killed once its number is on the disk, mid-write: that number is never given again.
    void aKilledUnitsNumberIsNotReused() {
        QProcess killed;
        Start(killed);
        QVERIFY(QTest::qWaitFor([&] { return ReadAll(counter_) == "1001\n"; }, 30000));
        killed.kill();
        QVERIFY(killed.waitForFinished());
        QCOMPARE(ReadAll(log_), QByteArray());  // killed before its unit was done
        QProcess next;
        Start(next);
        QVERIFY(next.waitForFinished(60000));
        QCOMPARE(StampedSerial(next.readAllStandardOutput()), 1001);
    }

    // Two programs at once on one counter: two numbers. While another holds the counter's lock
    // neither takes one.
    void twoProgramsTwoNumbers() {
        QFile held(counter_);
        QVERIFY(held.open(QIODevice::ReadWrite) && ::flock(held.handle(), LOCK_EX) == 0);
        QProcess first, second;
        Start(first);
        Start(second);
        QTest::qWait(300);
        QCOMPARE(ReadAll(counter_), QByteArray("1000\n"));
        held.close();  // and its lock with it
        QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
        QSet<int> numbers;
        for (QProcess* process : {&first, &second})
            numbers << StampedSerial(process->readAllStandardOutput());
        QCOMPARE(numbers, (QSet<int>{1000, 1001}));
        QCOMPARE(ReadAll(counter_), QByteArray("1002\n"));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    quillon::iow::VirtualRig rig;
    CliTable table(rig, RunInProcess, false);
    ShowAgreesWithEdidDecode show;
    UnitStamps stamps(rig);
    SourceRules rules(rig);
    int failures = QTest::qExec(&table, argc, argv) + QTest::qExec(&show, argc, argv) +
                   QTest::qExec(&stamps, argc, argv) + QTest::qExec(&rules, argc, argv);
    {
        std::deque<quillon::iow::VirtualRig> fixtures;  // three fixtures' adapters
        for (quillon::iow::VirtualAdapter* adapter : quillon::iow::UseVirtualAdapters(3))
            fixtures.emplace_back(adapter);
        std::vector<quillon::iow::AdapterRig*> rigs;
        for (auto& fixture : fixtures) rigs.push_back(&fixture);
        SeveralAdapters several(rigs, RunInProcess, false);
        failures += QTest::qExec(&several, argc, argv);
    }
    quillon::iow::UseVirtualAdapters(1);
    return failures;
}

#include "test_cli.moc"
