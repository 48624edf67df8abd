#pragma once

// quillon-cli under the faults of the adapter, the memory and the files: the device rows that the
// window runs too, then the command line's own (files, usage, the terminal, the adapter's
// choice), each with the exit status and the start of the message expected. Every row also
// holds what the program listed against the emulated memory itself. Runs in-process on the
// virtual adapter, and in the test VM as the real quillon-cli against the kernel's driver.

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <numeric>

#include "device_faults.h"
#include "files/image_files.h"
#include "iowkit_contract.h"

namespace quillon::testing {

// What the command line's own rows set up besides a device fault: an adapter held by another
// program, a terminal on which the operator answers y or Return alone, a user who may not open
// the nodes.
enum class CliSetup { Plain, Busy, AnswerYes, AnswerNo, Unprivileged };

struct CliRow {
    const char* name;
    QString args;  // a word with a dot names a file in the row's folder; --json is added
    CliSetup setup = CliSetup::Plain;
    int status = 0;
    QString message = "";   // the start of what the program says on standard error
    int vm = 0;             // 1: also run against the kernel's driver; 2: only there
    const char* line = "";  // when given: run without --json, and this line is printed
    Fault fault = Fault::Ok;
    int param = 0;
    Flagged flagged = Flagged::Differ;  // the bytes listed, against the memory
    Fault also = Fault::Ok;
    const char* found = nullptr;  // a scan: the address bytes acknowledged
};

namespace cli_rows {
using enum CliSetup;
using enum Fault;
// clang-format off
inline const CliRow kOwnRows[] = {
    {.name = "read into a FIFO", .args = "read fifo.bin", .status = 5, .message = "Cannot write"},
    {.name = "read, block 1 spoiled, in words", .args = "read read.bin", .status = 0,
     .message = "Read 256", .line = "block 0: checksum bad", .fault = Spoil, .param = 10},
    {.name = "read, adapter held", .args = "read read.bin", .setup = Busy, .status = 2,
     .message = "An IO-Warrior adapter is attached, but another", .vm = 1},
    {.name = "write XML", .args = "write --yes image.xml", .status = 0,
     .message = "Wrote and verified 256 bytes"},
    {.name = "write, write-protected, in words", .args = "write --yes image.bin", .status = 4,
     .line = "offset 0x00: expected 0x00, read 0xEE", .fault = Protected},
    {.name = "write, XML without BLOCK1", .args = "write --yes bad.xml", .status = 5,
     .message = "Cannot read"},
    // What goes in must be an EDID with good sums, unless asked otherwise.
    {.name = "write, XML that holds no image", .args = "write --yes none.xml", .status = 5,
     .message = "Cannot read"},
    {.name = "write, no EDID header", .args = "write --yes zeros.bin", .status = 5,
     .message = "Not an EDID image"},
    {.name = "write, a bad checksum", .args = "write --yes other.bin", .status = 5,
     .message = "Block 0's checksum is bad"},
    {.name = "write, checksums fixed", .args = "write --yes --fix-checksums other.bin", .status = 0,
     .message = "Wrote"},
    {.name = "write, as it is", .args = "write --yes --as-is zeros.bin", .status = 0,
     .message = "Wrote"},
    {.name = "write, stamped from a counter, logged",
     .args = "write --yes --stamp-serial-from counter.txt --stamp-date 2026-49 --log units.jsonl image.bin",
     .status = 0, .message = "Wrote", .vm = 1, .flagged = Flagged::Nothing},
    // A unit that fails keeps its number, in its record: the counter is past it all the same.
    {.name = "write, stamped from a counter, write-protected, logged",
     .args = "write --yes --stamp-serial-from counter.txt --stamp-date 2026-49 --log units.jsonl image.bin",
     .status = 4, .message = "%1 bytes did not hold", .fault = Protected},
    // Stamps and records refused before anything is written.
    {.name = "write, a counter that holds text",
     .args = "write --yes --stamp-serial-from words.txt image.bin", .status = 5,
     .message = "Cannot read the counter"},
    {.name = "write, a counter that is a FIFO",
     .args = "write --yes --stamp-serial-from fifo.bin image.bin", .status = 5,
     .message = "Cannot read the counter"},
    {.name = "write, a log that is a FIFO",
     .args = "write --yes --stamp-serial 7 --log fifo.bin image.bin", .status = 5,
     .message = "Cannot open the log"},
    {.name = "write, a serial past 32 bits",
     .args = "write --yes --stamp-serial 4294967296 image.bin", .status = 1,
     .message = "--stamp-serial takes"},
    {.name = "write, week 54", .args = "write --yes --stamp-date 2026-54 image.bin", .status = 1,
     .message = "--stamp-date takes"},
    {.name = "write, a text of 14",
     .args = "write --yes --stamp-serial-text ABCDEFGHIJKLMN image.bin", .status = 1,
     .message = "--stamp-serial-text takes"},
    {.name = "write from a FIFO", .args = "write --yes fifo.bin", .status = 5,
     .message = "Cannot read"},
    {.name = "write without a terminal or --yes", .args = "write image.bin", .status = 1,
     .message = "Standard input is not a"},
    {.name = "write, asked and answered y", .args = "write image.bin", .setup = AnswerYes,
     .status = 0, .message = "Overwrite 256 bytes"},
    {.name = "write, asked, Return alone", .args = "write image.bin", .setup = AnswerNo,
     .status = 1, .message = "Overwrite 256 bytes"},
    {.name = "verify", .args = "verify image.bin", .status = 0, .message = "The memory holds",
     .vm = 1},
    {.name = "verify another image", .args = "verify other.bin", .status = 4,
     .message = "2 bytes differ", .vm = 1},
    {.name = "verify, unplugged midway", .args = "verify image.bin", .status = 3,
     .message = "The memory did not answer", .fault = Unplug, .param = 3, .flagged = Flagged::Some},
    // The block transfers: a lost chunk marks its bytes, pages that the memory does not take
    // in time or wraps, a stop mid-page, SIGINT; at the adapter's pace; on an IO-Warrior 56.
    {.name = "read, a chunk lost midway", .args = "read read.bin", .status = 3,
     .message = "The memory did not answer", .vm = 1, .fault = LoseChunk, .param = 2,
     .flagged = Flagged::Some},
    {.name = "read, a chunk cut short", .args = "read read.bin", .status = 3,
     .message = "The memory did not answer", .vm = 1, .fault = ShortChunk, .param = 2,
     .flagged = Flagged::Some},
    {.name = "write, pages refused past the poll limit", .args = "write --yes image.bin",
     .status = 3, .message = "The memory did not answer", .vm = 1, .fault = Cycle, .param = 120,
     .flagged = Flagged::Some},
    // A 24LC21A's write cycle at an IO-Warrior 24's pace: polling has three attempts at least.
    {.name = "write, paced, a 10 ms write cycle", .args = "write --yes image.bin", .status = 0,
     .message = "Wrote", .vm = 1, .fault = Cycle, .param = 10, .flagged = Flagged::Nothing,
     .also = Paced},
    {.name = "write, a memory of 4-byte pages", .args = "write --yes image.bin", .status = 4,
     .message = "%1 bytes did not hold", .vm = 1, .fault = SmallPages},
    {.name = "write 4-byte pages into it", .args = "write --yes --page-bytes 4 image.bin",
     .status = 0, .message = "Wrote", .fault = SmallPages, .flagged = Flagged::Nothing},
    {.name = "write, adapter stopped mid-page", .args = "write --yes image.bin", .status = 3,
     .message = "The memory did not answer", .vm = 1, .fault = StopMidway, .param = 11,
     .flagged = Flagged::All},
    // Its read-back goes to the end: only the pages not written are listed.
    {.name = "write, interrupted", .args = "write --yes image.bin", .status = 6,
     .message = "Interrupted", .vm = 1, .fault = Interrupt, .param = 21,
     .flagged = Flagged::Scattered},
    {.name = "read, paced", .args = "read read.bin", .status = 0, .message = "Read 256", .vm = 1,
     .fault = Paced, .flagged = Flagged::Nothing},
    {.name = "write, paced", .args = "write --yes image.bin", .status = 0, .message = "Wrote",
     .vm = 1, .fault = Paced, .flagged = Flagged::Nothing},
    {.name = "write, IO-Warrior 56, paced", .args = "write --yes image.bin", .status = 0,
     .message = "Wrote", .fault = Iow56, .flagged = Flagged::Nothing, .also = Paced},
    // A unit's bytes after a chunk that did not come are read from where they are.
    {.name = "verify, a chunk lost midway", .args = "verify image.bin", .status = 3,
     .message = "The memory did not answer", .vm = 1, .fault = LoseChunk, .param = 2,
     .flagged = Flagged::Some},
    // Early: an IO-Warrior 56 reads the whole memory in six exchanges.
    {.name = "read, interrupted", .args = "read read.bin", .status = 6, .message = "Interrupted",
     .vm = 1, .fault = Interrupt, .param = 3, .flagged = Flagged::Some},
    {.name = "verify, interrupted", .args = "verify image.bin", .status = 6,
     .message = "Interrupted", .vm = 1, .fault = Interrupt, .param = 3, .flagged = Flagged::Some},
    {.name = "write, week 0", .args = "write --yes --stamp-date 2026-00 image.bin", .status = 1,
     .message = "--stamp-date takes"},
    // A write declined is recorded like any other unit.
    {.name = "write, asked, Return alone, logged", .args = "write --log units.jsonl image.bin",
     .setup = AnswerNo, .status = 1, .message = "Overwrite 256 bytes"},
    // A scan that lost some answers says that its list may lack addresses.
    {.name = "scan, every fourth reply lost", .args = "scan", .status = 3,
     .message = "The adapter did not answer", .fault = DropEvery, .param = 4},
    {.name = "info", .args = "info", .status = 0},
    {.name = "info, the beginning of a serial", .args = "info --adapter 0000A5E", .status = 2,
     .message = "No adapter with serial number", .vm = 1},
    {.name = "show FILE opens no adapter", .args = "show image.bin --all", .status = 1,
     .message = "show FILE does not take --all"},
    {.name = "list with --all", .args = "list --all", .status = 0, .line = "0000A5E1 0x1501 free"},
    {.name = "an option the command does not take", .args = "scan --page-bytes 4", .status = 1,
     .message = "scan does not take --page-bytes"},
    // One adapter of several, opened by its serial number alone (list: several_adapters.h).
    {.name = "write to the adapter of a serial", .args = "write --yes --adapter 0000A5E1 image.bin",
     .status = 0, .message = "Wrote", .vm = 1},
    {.name = "write, the adapter of a serial held",
     .args = "write --yes --serial 0000A5E1 image.bin", .setup = Busy, .status = 2,
     .message = "Adapter 0000A5E1 is attached, but another", .vm = 1},
    {.name = "info, no permission for the nodes", .args = "info", .setup = Unprivileged,
     .status = 2, .message = "An IO-Warrior adapter is attached, but this user may not", .vm = 2},
    {.name = "info, another serial", .args = "info --adapter 0000FFFF", .status = 2,
     .message = "No adapter with serial number", .vm = 1},
    {.name = "no command", .args = "", .status = 1, .message = "No command given"},
    {.name = "read without a file", .args = "read", .status = 1, .message = "read takes one FILE"},
    {.name = "whole blocks only", .args = "read --bytes 100 read.bin", .status = 1,
     .message = "--bytes takes whole blocks"},
    // A file is written and verified as the blocks it holds, never padded nor cut.
    {.name = "write a 128-byte image", .args = "write --yes one.bin", .status = 0,
     .message = "Wrote and verified 128 bytes", .flagged = Flagged::Nothing},
    {.name = "verify a 128-byte image", .args = "verify block0.bin", .status = 0,
     .message = "The memory holds"},
    {.name = "write 256 bytes of a 128-byte image", .args = "write --yes --bytes 256 block0.bin",
     .status = 5, .message = "Too short for --bytes 256"},
    {.name = "write an EDID of three blocks", .args = "write --yes three.bin", .status = 5,
     .message = "Larger than the memory"},
    {.name = "write a file of 200 bytes", .args = "write --yes short.bin", .status = 5,
     .message = "Not whole blocks"},
    // Each address is probed once, for writing: a memory probed for reading would hold the bus.
    {.name = "scan, a device just past the memory", .args = "scan", .vm = 1, .fault = Device51,
     .found = "A0 A1 A2 A3"},
    {.name = "scan, A0 refused", .args = "scan", .status = 3, .message = "No Devices found",
     .fault = RefuseA0, .found = ""},
    {.name = "read, pull-ups off", .args = "read --no-pull-ups read.bin", .message = "Read 256",
     .vm = 1, .flagged = Flagged::Nothing},
    // Memories of several blocks: block select and E-DDC segments, each EDID as long as it says.
    {.name = "write four blocks into a 24C16", .args = "write --yes --memory 24c16 four.bin",
     .message = "Wrote and verified 512 bytes", .vm = 1, .fault = Memory24C16,
     .flagged = Flagged::Nothing},
    {.name = "read four blocks from a 24C16", .args = "read --memory 24c16 read.bin",
     .message = "Read 512 bytes", .vm = 1, .fault = Memory24C16, .param = 1,
     .flagged = Flagged::Nothing},
    {.name = "read four blocks, counted by HF-EEODB", .args = "read --memory 24c16 read.bin",
     .message = "Read 512 bytes", .vm = 1, .fault = Memory24C16, .param = 2,
     .flagged = Flagged::Nothing},
    {.name = "write four blocks into an E-DDC memory", .args = "write --yes --memory e-ddc four.bin",
     .message = "Wrote and verified 512 bytes", .vm = 1, .fault = SegmentMemory,
     .flagged = Flagged::Nothing},
    {.name = "read four blocks from an E-DDC memory", .args = "read --memory e-ddc read.bin",
     .message = "Read 512 bytes", .vm = 1, .fault = SegmentMemory, .param = 1,
     .flagged = Flagged::Nothing},
    {.name = "verify four blocks in an E-DDC memory that keeps its segment",
     .args = "verify --memory e-ddc four.bin", .message = "The memory holds", .fault = SegmentKept,
     .param = 1},
    {.name = "write four blocks from XML into a 24C16",
     .args = "write --yes --memory 24c16 four.xml", .message = "Wrote and verified 512 bytes",
     .fault = Memory24C16, .flagged = Flagged::Nothing},
    // Write-enable off in its configuration: it acknowledges every byte and keeps none.
    {.name = "write four blocks into an E-DDC memory, write-enable off",
     .args = "write --yes --memory e-ddc four.bin", .status = 4,
     .message = "%1 bytes did not hold", .fault = SegmentMemory, .also = Protected},
    {.name = "four blocks are more than a 24C02", .args = "write --yes four.bin", .status = 5,
     .message = "Larger than the memory"},
    {.name = "read, arbitration lost once", .args = "read read.bin", .status = 3,
     .message = "The memory did not answer", .vm = 2, .fault = ArbitrationLost, .param = 1,
     .flagged = Flagged::Some},
};
// clang-format on

// The device rows as the command line runs them, with the status and the message that follow
// from what the row expects; then the command line's own rows.
inline QList<CliRow> Rows() {
    QList<CliRow> rows;
    for (const DeviceRow& d : device_rows::kRows) {
        if (!(d.runs & (kCli | kCliVm))) continue;
        const bool scan = d.op == Op::Scan, read = d.op == Op::Read || d.op == Op::Read128;
        const int count = d.op == Op::Read128 || d.op == Op::Write128 ? 128 : 256;
        CliRow row{.name = d.name,
                   .args = scan   ? "scan"
                           : read ? "read read.bin"
                                  : "write --yes image.bin"};
        if (count == 128) row.args.insert(row.args.indexOf(' '), " --bytes 128");
        row.vm = d.runs & kCliVm ? (d.runs & kCli ? 1 : 2) : 0;
        row.fault = d.fault, row.param = d.param, row.flagged = d.flagged, row.also = d.also;
        const bool missing = d.flagged != Flagged::Nothing && d.flagged != Flagged::Differ;
        row.status = d.fault == Absent                               ? 2
                     : missing || (scan && !QString(d.found).size()) ? 3
                     : d.flagged == Flagged::Differ                  ? 4
                                                                     : 0;
        row.message = row.status == 2   ? "No IO-Warrior adapter found"
                      : scan            ? (row.status == 0 ? ""
                                           : missing       ? "The adapter did not answer"
                                                           : "No Devices found on I2C Buss")
                      : row.status == 3 ? "The memory did not answer"
                      : row.status == 4 ? "%1 bytes did not hold"  // the count listed
                      : read            ? QStringLiteral("Read %1 bytes into").arg(count)
                                        : QStringLiteral("Wrote and verified %1 bytes").arg(count);
        row.found = d.found;
        rows << row;
    }
    for (const CliRow& row : kOwnRows) rows << row;
    return rows;
}
}  // namespace cli_rows

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};
// Runs the program with `arguments`. AnswerYes and AnswerNo: standard input and error are a
// terminal, and the operator types "y", or presses Return alone (the default, No). Unprivileged:
// the program runs as nobody.
using CliRunner = std::function<CliRun(const QStringList& arguments, CliSetup setup)>;

class CliTable : public QObject {
    Q_OBJECT

  public:
    CliTable(iow::AdapterRig& rig, CliRunner run, bool onVm)
        : rig_(rig), run_(std::move(run)), onVm_(onVm) {}

  private:
    iow::AdapterRig& rig_;
    CliRunner run_;
    bool onVm_;
    QTemporaryDir dir_;
    EdidImage sample_ = iow::SampleEdid();
    const QList<CliRow> rows_ = cli_rows::Rows();

    // The files of the row's folder: made by initTestCase, or by the program.
    inline static const QStringList kFolderFiles{
        "image.bin",   "other.bin",   "image.xml", "bad.xml",   "none.xml",
        "zeros.bin",   "counter.txt", "words.txt", "fifo.bin",  "read.bin",
        "units.jsonl", "block0.bin",  "three.bin", "short.bin", "four.bin", "four.xml", "one.bin"};
    QString Path(const QString& name) { return dir_.filePath(name); }
    void Put(const QString& name, const QByteArray& bytes) {
        QVERIFY(testing::Put(Path(name), bytes));
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        EdidImage other = sample_;
        other[15] ^= 0xFF, other[200] ^= 0xFF;
        const QByteArray hex = Bytes(sample_).toHex().toUpper();
        Put("image.bin", Bytes(sample_));
        Put("other.bin", Bytes(other));
        Put("image.xml", "<DATAOBJ><DATA><BLOCK0>" + hex.left(256) + "</BLOCK0><BLOCK1>" +
                             hex.mid(256) + "</BLOCK1></DATA></DATAOBJ>");
        Put("bad.xml", "<DATAOBJ><DATA><BLOCK0>" + hex.left(256) + "</BLOCK0></DATA></DATAOBJ>");
        Put("none.xml", "<EDID><DATA><BLOCK0>" + hex.left(256) + "</BLOCK0></DATA></EDID>");
        Put("zeros.bin", QByteArray(256, 0));
        Put("block0.bin", Bytes(sample_).left(128));
        QByteArray one = Bytes(sample_).left(128);  // an EDID of one block: no extension counted
        one[127] = char(one[127] + one[126]), one[126] = 0;
        Put("one.bin", one);
        Put("three.bin", Bytes(sample_) + Bytes(sample_).mid(128));
        Put("short.bin", Bytes(sample_).left(200));
        Put("four.bin", Bytes(FourBlocks(), 512));
        QByteArray four = "<DATAOBJ><DATA>";
        for (int k = 0; k < 4; ++k)
            four += QString("<BLOCK%1>%2</BLOCK%1>")
                        .arg(k)
                        .arg(Bytes(FourBlocks(), 512).mid(k * 128, 128).toHex())
                        .toUtf8();
        Put("four.xml", four + "</DATA></DATAOBJ>");
        Put("counter.txt", "1000\n");
        Put("words.txt", "next\n");
        QCOMPARE(::mkfifo(Path("fifo.bin").toLocal8Bit().constData(), 0600), 0);
    }

    void rows_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < rows_.size(); ++i)
            if (onVm_ ? rows_[i].vm > 0 : rows_[i].vm < 2) QTest::newRow(rows_[i].name) << i;
    }
    void rows() {
        using enum CliSetup;
        QFETCH(int, index);
        const CliRow& row = rows_[index];
        rig_.Fresh();
        QFile::remove(Path("read.bin"));
        iow::VirtualAdapter& model = rig_.Model();
        QStringList arguments;
        for (const QString& word : row.args.split(' ', Qt::SkipEmptyParts))
            arguments << (kFolderFiles.contains(word) ? Path(word) : word);
        const bool writing = arguments.value(0) == "write";
        if (writing) model.Eeprom().Memory().fill(0xEE);
        if (row.fault != Fault::Ok || writing) model.Eeprom().SetWriteCycle({});
        if (!*row.line) arguments << "--json";
        IowKitHandle held = 0;
        if (row.setup == Busy) QVERIFY((held = IowKitOpenDevice()) != 0);
        Apply(rig_.Link(), row.fault, row.param, row.also);
        const EdidBytes before = model.Eeprom().Bytes(model.Eeprom().Size());
        const bool asked = row.setup == AnswerYes || row.setup == AnswerNo;
        const auto records = [&] {
            const QByteArray log = ReadAll(Path("units.jsonl"));
            return log == "<none>" ? QList<QByteArray>{} : log.trimmed().split('\n');
        };
        const qsizetype recorded = records().size();
        const CliRun run = run_(arguments, row.setup);
        IowKitCloseDevice(held);
        iow::Eeprom24C02& eeprom = rig_.Model().Eeprom();
        const EdidBytes memory = eeprom.Bytes(eeprom.Size());
        model.SetLatency({});
        const QString why = QString("status %1\nout: %2\nerr: %3")
                                .arg(run.status)
                                .arg(QString(run.out), QString(run.err));
        const QJsonObject json = QJsonDocument::fromJson(run.out).object();
        const QString message = row.message.contains("%1")
                                    ? row.message.arg(json["differing"].toArray().size())
                                    : row.message;
        QVERIFY2(run.status == row.status, qPrintable(why));
        QVERIFY2(run.err.startsWith(message.toUtf8()), qPrintable(message + " in " + run.err));
        QVERIFY2(asked || !run.err.contains('\r'), "a progress bar without a terminal");
        if (row.setup == AnswerYes)
            QVERIFY2(run.err.contains("\rwriting") && run.err.contains("\rchecking"), "no bar");
        if (writing && (run.status == 1 || run.status == 2 || run.status == 5))
            QVERIFY2(memory == before, "the memory was written");
        if (arguments.contains("--log") && run.status != 5) {  // one record more, the unit's
            const QJsonObject record = QJsonDocument::fromJson(records().last()).object();
            QVERIFY2(records().size() == recorded + 1 && record["exit_status"] == run.status,
                     "no record of the unit after the earlier ones");
        }
        if (*row.line) {
            QVERIFY2(run.out.split('\n').contains(row.line), qPrintable(why));
            return;
        }
        if (row.status == 1 && (!writing || row.message.startsWith("--"))) return;  // usage
        QVERIFY2(json["exit_status"].toInt(-1) == row.status, qPrintable(why));
        const QStringList wrong = ListedAgainstMemory(row, arguments, json, memory, before);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ") + '\n' + why));
        if (row.found) {
            QJsonArray found;
            for (const QString& address : QString(row.found).split(' ', Qt::SkipEmptyParts))
                found << address.toInt(nullptr, 16);
            QCOMPARE(json["acknowledged"].toArray(), found);
        }
        if (arguments.contains("--no-pull-ups")) QVERIFY(!rig_.Model().PullUpsOn());
        if (arguments[0] == "info" && row.status == 0) {
            QCOMPARE(json["product_id"].toInt(), int(rig_.ProductId()));
            QCOMPARE(json["adapters"].toInt(), 1);
            QVERIFY(!json["adapter_serial"].toString().isEmpty());
        }
    }

  private:
    // The bytes listed (failed: no answer; differing: the value read) against the memory, the
    // status as they give it (3 when some byte got no answer, else 4 when some differs), a
    // read's file, and the block verdicts against the sums of what the memory holds (a write:
    // of the file).
    QStringList ListedAgainstMemory(const CliRow& row, const QStringList& arguments,
                                    const QJsonObject& json, const EdidBytes& memory,
                                    const EdidBytes& before) {
        const QString& command = arguments[0];
        const int status = json["exit_status"].toInt();
        if (!QStringList{"read", "write", "verify"}.contains(command) || status == 1 ||
            status == 2 || status == 5)
            return {};
        const QString path = *std::ranges::find_if(  // the image: the last file named
            arguments.rbegin(), arguments.rend(),
            [&](const QString& word) { return word.startsWith(dir_.path()); });
        EdidBytes meant = memory;  // a read delivers the memory: its file, checked below
        if (command != "read" && !std::holds_alternative<ImageLoaded>(LoadImageBytes(
                                     path.toStdString(), meant, WithoutData::Refused)))
            return {"the file does not load"};
        // As many bytes as --bytes says, or the file holds, or a read found.
        const qsizetype bytes = arguments.indexOf("--bytes");
        const int count = bytes >= 0          ? arguments.value(bytes + 1).toInt()
                          : command != "read" ? int(meant.size())
                          : status == 0       ? int(ReadAll(path).size())
                                              : kEdidBytes;
        const QJsonArray failed = json["failed"].toArray(), differing = json["differing"].toArray();
        QStringList wrong;
        if (status != 6 && status != (!failed.isEmpty() ? 3 : !differing.isEmpty() ? 4 : 0))
            wrong << "status not as the lists give it";
        // A stamped unit: where a stamp goes (bytes 12..17, the serial number descriptor's text,
        // the checksums) the bytes meant are those listed as expected, else those the memory
        // holds; what the stamp says is edid-decode's to tell (UnitStamps in test_cli.cpp).
        if (arguments.contains("--stamp-serial-from")) {
            QMap<int, int> listed;
            for (const auto& list : {failed, differing})
                for (const QJsonValue& item : list)
                    listed[item["offset"].toInt()] = item["expected"].toInt();
            for (int k = 0; k < count; ++k) {
                const int d = k >= 54 && k < 126 ? 54 + (k - 54) / 18 * 18 : 0;  // descriptor
                const bool text = d > 0 && k >= d + 5 && meant[d] == 0 && meant[d + 3] == 0xFF;
                if ((k >= 12 && k <= 17) || k % 128 == 127 || text)
                    meant[k] = static_cast<std::uint8_t>(listed.value(k, memory[k]));
            }
            const auto serial = json["stamped"]["serial_number"].toInteger();
            if (ReadAll(Path("counter.txt")) != QByteArray::number(serial + 1) + '\n')
                wrong << "the counter not advanced past the number";
        }
        for (int end = 127; end < count && arguments.contains("--fix-checksums"); end += 128)
            meant[end] -= std::accumulate(meant.data() + end - 127, meant.data() + end + 1, 0);
        if (arguments.contains("--log")) {  // the unit's record, the last line of the log
            const QJsonObject record =
                QJsonDocument::fromJson(ReadAll(Path("units.jsonl")).trimmed().split('\n').last())
                    .object();
            const QByteArray sha256 =
                QCryptographicHash::hash(Bytes(meant, count), QCryptographicHash::Sha256).toHex();
            if (record["exit_status"] != json["exit_status"] ||
                record["time"].toString().isEmpty() || record["sha256_meant"] != QString(sha256))
                wrong << "the unit's record";
        }
        if (command == "read" && ReadAll(path) != (status == 0 ? Bytes(memory, count) : "<none>"))
            wrong << "the file read is not the memory";
        Reported reported;
        for (const auto& list : {failed, differing})
            for (const QJsonValue& item : list) {
                const int k = item["offset"].toInt();
                reported.flagged << k;
                if (command != "read" && item["expected"].toInt() != meant[k])
                    wrong << QStringLiteral("expected wrong at %1").arg(k);
                if (item["read"].isDouble()) reported.valuesRead[k] = item["read"].toInt();
            }
        std::ranges::sort(reported.flagged);
        wrong << AgainstMemory(reported, row.flagged, command == "write", count, meant, memory,
                               before);
        if (json.contains("blocks")) {
            QJsonArray blocks;
            const QList<int> bad = BadBlockEnds(command == "write" ? meant : memory, count);
            for (int block = 0; block < count / 128; ++block)
                blocks << QJsonObject{
                    {"block", block},
                    {"checksum", bad.contains(block * 128 + 127) ? "bad" : "good"}};
            if (json["blocks"].toArray() != blocks) wrong << "block verdicts";
        }
        return wrong;
    }
};

}  // namespace quillon::testing
