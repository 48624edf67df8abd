#pragma once

// quillon-cli under the faults of the adapter, the memory and the files: one row per case,
// with the exit status and the start of the message expected. Every row also checks what the
// program listed against the emulated memory itself: a byte not listed holds the file's value,
// a byte listed as differing holds the value listed, and the status follows from the lists.
// Runs in-process on the virtual adapter, and in the test VM as the real quillon-cli against
// the kernel's driver.

#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "files/image_files.h"
#include "iowkit_contract.h"

namespace quillon::testing {

enum class CliFault {
    Ok,
    Absent,
    Busy,
    Unplug,
    Protected,
    Flipped,
    OneBlock,
    Late,
    NoMemory,
    AnswerYes,
    AnswerNo,
    Unprivileged
};

struct CliRow {
    const char* name;
    const char* args;  // a word with a dot names a file in the row's folder; --json is added
    CliFault fault;
    int status;
    const char* message;    // the start of what the program says on standard error
    int vm = 0;             // 1: also run against the kernel's driver; 2: only there
    const char* line = "";  // when given: run without --json, and this line is printed
};

namespace cli_rows {
using enum CliFault;
inline const CliRow kRows[] = {
    {"read", "read read.bin", Ok, 0, "Read 256 bytes into", 1},
    {"read 128", "read --bytes 128 read.bin", Ok, 0, "Read 128 bytes into"},
    {"read, no adapter", "read read.bin", Absent, 2, "No IO-Warrior adapter found", 1},
    {"read, adapter held", "read read.bin", Busy, 2,
     "An IO-Warrior adapter is attached, but another", 1},
    {"read, unplugged midway", "read read.bin", Unplug, 3, "The memory did not answer", 1},
    {"read, late replies", "read read.bin", Late, 3, "The memory did not answer"},
    {"read, no memory", "read read.bin", NoMemory, 3, "The memory did not answer"},
    {"read into a FIFO", "read fifo.bin", Ok, 5, "Cannot write"},
    {"write", "write --yes image.bin", Ok, 0, "Wrote and verified 256 bytes", 1},
    {"write XML", "write --yes image.xml", Ok, 0, "Wrote and verified 256 bytes"},
    {"write 128", "write --yes --bytes 128 image.bin", Ok, 0, "Wrote and verified 128 bytes"},
    {"write, write-protected", "write --yes image.bin", Protected, 4, "", 1},
    {"write, write-protected, in words", "write --yes image.bin", Protected, 4, "", 0,
     "offset 0x00: expected 0x00, read 0xEE"},
    {"write, bit flips", "write --yes image.bin", Flipped, 4, "4 bytes did not hold"},
    {"write, 128-byte memory", "write --yes image.bin", OneBlock, 4, ""},
    {"write, unplugged midway", "write --yes image.bin", Unplug, 3, "The memory did not answer", 1},
    {"write, late replies", "write --yes image.bin", Late, 3, "The memory did not answer"},
    {"write, no adapter", "write --yes image.bin", Absent, 2, "No IO-Warrior adapter found"},
    {"write, XML without BLOCK1", "write --yes bad.xml", Ok, 5, "Cannot read"},
    {"write, no such file", "write --yes none.bin", Ok, 5, "Cannot read"},
    {"write from a FIFO", "write --yes fifo.bin", Ok, 5, "Cannot read"},
    {"write without a terminal or --yes", "write image.bin", Ok, 1, "Standard input is not a"},
    {"write, asked and answered y", "write image.bin", AnswerYes, 0, "Overwrite 256 bytes"},
    {"write, asked and answered n", "write image.bin", AnswerNo, 1, "Overwrite 256 bytes"},
    {"verify", "verify image.bin", Ok, 0, "The memory holds", 1},
    {"verify another image", "verify other.bin", Ok, 4, "2 bytes differ", 1},
    {"verify, unplugged midway", "verify image.bin", Unplug, 3, "The memory did not answer"},
    {"scan", "scan", Ok, 0, ""},
    {"scan, no memory", "scan", NoMemory, 3, "No Devices found on I2C Buss"},
    {"info", "info", Ok, 0, ""},
    {"write to the adapter of a serial", "write --yes --serial 0000A5E1 image.bin", Ok, 0, "Wrote"},
    {"info, no permission for the nodes", "info", Unprivileged, 2,
     "An IO-Warrior adapter is attached, but this user may not", 2},
    {"info, another serial", "info --serial 0000FFFF", Ok, 2, "No adapter with serial number"},
    {"no command", "", Ok, 1, "No command given"},
    {"read without a file", "read", Ok, 1, "read takes one FILE"},
    {"128 or 256 bytes only", "read --bytes 100 read.bin", Ok, 1, "--bytes takes 128 or 256"},
};
}  // namespace cli_rows

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};
// Runs the program with `arguments`. AnswerYes and AnswerNo: standard input and error are a
// terminal, and the operator types "y" or "n". Unprivileged: the program runs as nobody.
using CliRunner = std::function<CliRun(const QStringList& arguments, CliFault fault)>;

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

    QString Path(const QString& name) { return dir_.filePath(name); }
    void Put(const QString& name, const QByteArray& bytes) {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    static QByteArray Raw(const EdidImage& image) {
        return QByteArray(reinterpret_cast<const char*>(image.data()), kEdidBytes);
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        EdidImage other = sample_;
        other[5] ^= 0xFF, other[200] ^= 0xFF;
        const QByteArray hex = Raw(sample_).toHex(' ').toUpper();
        Put("image.bin", Raw(sample_));
        Put("other.bin", Raw(other));
        Put("image.xml", "<DATAOBJ><DATA><BLOCK0>" + hex.left(383) + "</BLOCK0><BLOCK1>" +
                             hex.mid(384) + "</BLOCK1></DATA></DATAOBJ>");
        Put("bad.xml", "<DATAOBJ><DATA><BLOCK0>" + hex.left(383) + "</BLOCK0></DATA></DATAOBJ>");
        QCOMPARE(::mkfifo(Path("fifo.bin").toLocal8Bit().constData(), 0600), 0);
    }

    void rows_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(cli_rows::kRows)); ++i)
            if (onVm_ ? cli_rows::kRows[i].vm > 0 : cli_rows::kRows[i].vm < 2)
                QTest::newRow(cli_rows::kRows[i].name) << i;
    }
    void rows() {
        using enum CliFault;
        QFETCH(int, index);
        const CliRow& row = cli_rows::kRows[index];
        rig_.Fresh();
        QFile::remove(Path("read.bin"));
        iow::VirtualAdapter& model = rig_.Model();
        auto& eeprom = model.Eeprom();
        QStringList arguments;
        for (const QString& word : QString(row.args).split(' ', Qt::SkipEmptyParts))
            arguments << (word.contains('.') && !word.startsWith('-') ? Path(word) : word);
        const bool writing = arguments.value(0) == "write";
        if (writing) eeprom.Memory().fill(0xEE);
        if (row.fault != Ok || writing) eeprom.SetWriteCycle({});
        if (!*row.line) arguments << "--json";
        IowKitHandle held = 0;
        switch (row.fault) {
            case Absent:
                model.SetPresent(false);
                break;
            case Busy:
                QVERIFY((held = IowKitOpenDevice()) != 0);
                break;
            case Unplug:
                model.UnplugAfterExchanges(101);
                break;
            case Protected:
                eeprom.SetWriteProtected(true);
                break;
            case Flipped:
                eeprom.SetCorruptedOffsets({0, 127, 128, 255});
                break;
            case OneBlock:
                eeprom.SetHoldsOneBlock(true);
                break;
            case Late:
                model.SetLatency(std::chrono::milliseconds(300));
                break;
            case NoMemory:
                model.RefuseAddress(0xA0), model.RefuseAddress(0xA1);
                break;
            default:
                break;
        }
        const bool asked = row.fault == AnswerYes || row.fault == AnswerNo;
        const CliRun run = run_(arguments, row.fault);
        IowKitCloseDevice(held);
        const EdidImage memory = rig_.Model().Eeprom().Memory();
        model.SetLatency({});
        const QString why = QString("status %1\nout: %2\nerr: %3")
                                .arg(run.status)
                                .arg(QString(run.out), QString(run.err));
        QVERIFY2(run.status == row.status, qPrintable(why));
        QVERIFY2(run.err.startsWith(row.message), qPrintable(why));
        QVERIFY2(asked || !run.err.contains('\r'), "a progress bar without a terminal");
        if (row.fault == AnswerYes)
            QVERIFY2(run.err.contains("\rwriting") && run.err.contains("\rchecking"), "no bar");
        if (writing && (run.status == 1 || run.status == 2 || run.status == 5))
            QVERIFY2(std::ranges::count(memory, 0xEE) == kEdidBytes, "the memory was written");
        if (*row.line) {
            QVERIFY2(run.out.split('\n').contains(row.line), qPrintable(why));
            return;
        }
        if (row.status == 1 && !writing) return;
        const QJsonObject json = QJsonDocument::fromJson(run.out).object();
        QVERIFY2(json["exit_status"].toInt(-1) == row.status, qPrintable(why));
        CheckAgainstMemory(arguments, json, memory);
        if (arguments[0] == "scan" && row.status == 0)
            QCOMPARE(json["acknowledged"].toArray(), QJsonArray({0xA0, 0xA1}));
        if (arguments[0] == "info" && row.status == 0) {
            QCOMPARE(json["product_id"].toInt(), int(rig_.ProductId()));
            QCOMPARE(json["adapters"].toInt(), 1);
            QVERIFY(!json["adapter_serial"].toString().isEmpty());
        }
    }

  private:
    // Nothing is passed as good that is not: every byte that the program did not list holds
    // the file's value in the memory (a read's file holds the memory's), a byte listed as
    // differing holds the value listed and not the one expected, and the status is 3 exactly
    // when some byte got no answer, else 4 exactly when some differs.
    void CheckAgainstMemory(const QStringList& arguments, const QJsonObject& json,
                            const EdidImage& memory) {
        const QString& command = arguments[0];
        if (command != "read" && command != "write" && command != "verify") return;
        const QString path = *std::ranges::find_if(
            arguments, [&](const QString& word) { return word.startsWith(dir_.path()); });
        const int count = arguments.contains("128") ? 128 : 256;
        const QJsonArray failed = json["failed"].toArray();
        const QJsonArray differing = json["differing"].toArray();
        const int status = json["exit_status"].toInt();
        if (status == 1 || status == 2 || status == 5) return;
        QCOMPARE(status, !failed.isEmpty() ? 3 : !differing.isEmpty() ? 4 : 0);
        if (command == "read") {
            QFile file(path);
            QVERIFY2(status == 0 || !file.exists(), "a partial read was saved");
            if (status == 0) QVERIFY(file.open(QIODevice::ReadOnly));
            if (status == 0) QCOMPARE(file.readAll(), Raw(memory).left(count));
            return;
        }
        EdidImage expected{};
        QVERIFY(
            std::holds_alternative<std::monostate>(LoadImageFile(path.toStdString(), expected)));
        std::vector<bool> listed(kEdidBytes, false);
        for (const auto& list : {failed, differing})
            for (const QJsonValue& item : list) {
                const int k = item["offset"].toInt();
                listed[k] = true;
                QCOMPARE(item["expected"].toInt(), int(expected[k]));
                if (item["read"].isDouble()) QCOMPARE(item["read"].toInt(), int(memory[k]));
                QVERIFY(item["read"] != item["expected"]);  // listed, so it does differ
            }
        for (int k = 0; k < count; ++k)
            if (!listed[k]) QVERIFY2(memory[k] == expected[k], qPrintable(QString::number(k)));
    }
};

}  // namespace quillon::testing
