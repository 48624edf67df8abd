// Every command against every fault that the virtual adapter and the file layer can produce.
// For each: no crash, no hang, no byte shown as good that was not, no file lost or
// half-written, and the window left usable.
#include <QtTest>
#include <QtWidgets>
#include <cerrno>

#include "files/image_files.h"
#include "iow/virtual/virtual_backend.h"
#include "window_driver.h"

using namespace quillon;
using namespace quillon::testing;
using quillon::iow::SampleEdid;
using quillon::iow::TheVirtualAdapter;

namespace {

enum class Command { Read, Write, Scan, Clear, Open, Save };
enum class Fault {
    None,
    Absent,
    Unplug,
    DropSome,
    DropAll,
    RefuseA0,
    RefuseA1,
    SlowWriteCycle,
    WriteProtected,
    BitsFlipped,
    FileVanishes,
    ReadOnlyFolder,
    DiskFull,
    FsyncFails
};

}  // namespace

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Fault)

namespace {

const QColor kRed(255, 0, 0);
const QByteArray kOldFile(1000, 'o');

// The fake file layer: each fault replaces one call of the writer.
int g_writtenBytes = 0;
const FileWriteCalls kReadOnlyFolder = {[](char*) {
                                            errno = EROFS;
                                            return -1;
                                        },
                                        RealFileWriteCalls().write, RealFileWriteCalls().fsync,
                                        RealFileWriteCalls().rename};
const FileWriteCalls kDiskFull = {
    RealFileWriteCalls().makeTemporary,
    [](int fd, const void* data, std::size_t size) -> long {
        // Room for 100 bytes, then the disk is full.
        if (g_writtenBytes >= 100) {
            errno = ENOSPC;
            return -1;
        }
        const long n =
            RealFileWriteCalls().write(fd, data, std::min<std::size_t>(size, 100 - g_writtenBytes));
        g_writtenBytes += static_cast<int>(n);
        return n;
    },
    RealFileWriteCalls().fsync, RealFileWriteCalls().rename};
const FileWriteCalls kFsyncFails = {RealFileWriteCalls().makeTemporary, RealFileWriteCalls().write,
                                    [](int) {
                                        errno = EIO;
                                        return -1;
                                    },
                                    RealFileWriteCalls().rename};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool Acknowledged(std::uint8_t address, Fault fault) {
    if ((address & 0xFE) != 0xA0) return false;
    if (fault == Fault::Absent) return false;
    if (fault == Fault::RefuseA0 && address == 0xA0) return false;
    if (fault == Fault::RefuseA1 && address == 0xA1) return false;
    return true;
}

}  // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Form1> window;
    QTimer answerer;
    QString chosenPath;
    QStringList messages;

    bool Red(int n) {
        const Cell c = CellOf(n);
        return window->hexGrid()->CellColour(c.row, c.column) == kRed &&
               window->charGrid()->CellColour(c.row, c.column) == kRed;
    }

  private slots:
    void initTestCase() {
        // Answers every box and dialog the commands open: Yes to the confirmation, OK to a
        // message (noting its text), the row's path to the file dialog.
        answerer.setInterval(2);
        connect(&answerer, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                if (!box->text().contains(QStringLiteral("already exists")))
                    messages << box->text();
                (box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)
                                               : box->button(QMessageBox::Ok))
                    ->click();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                TypeName(dialog, chosenPath);
                // Queued: the overwrite question that accept may ask must find this timer free.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        answerer.start();
    }

    void cleanup() {
        window.reset();
        UseFileWriteCalls(nullptr);
        TheVirtualAdapter().Reset();
    }

    void commandUnderFault_data() {
        QTest::addColumn<Command>("command");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("param");
        const std::pair<Command, const char*> commands[] = {
            {Command::Read, "read"},   {Command::Write, "write"}, {Command::Scan, "scan"},
            {Command::Clear, "clear"}, {Command::Open, "open"},   {Command::Save, "save"}};
        struct F {
            Fault fault;
            int param;
            const char* name;
        };
        const F faults[] = {
            {Fault::None, 0, "no fault"},
            {Fault::Absent, 0, "adapter absent"},
            {Fault::Unplug, 0, "unplugged at once"},
            {Fault::Unplug, 1, "unplugged after 1"},
            {Fault::Unplug, 2, "unplugged after 2"},
            {Fault::Unplug, 3, "unplugged after 3"},
            {Fault::Unplug, 101, "unplugged after 101"},
            {Fault::Unplug, 256, "unplugged after 256"},
            {Fault::Unplug, 511, "unplugged after 511"},
            {Fault::DropSome, 1, "one reply dropped"},
            {Fault::DropSome, 3, "three replies dropped"},
            {Fault::DropAll, 0, "all replies dropped"},
            {Fault::RefuseA0, 0, "A0 refused"},
            {Fault::RefuseA1, 0, "A1 refused"},
            {Fault::SlowWriteCycle, 10, "10 ms write cycle"},
            {Fault::WriteProtected, 0, "memory write-protected"},
            {Fault::BitsFlipped, 0, "memory flips a bit"},
            {Fault::FileVanishes, 0, "file vanishes"},
            {Fault::ReadOnlyFolder, 0, "read-only folder"},
            {Fault::DiskFull, 0, "disk full"},
            {Fault::FsyncFails, 0, "flush fails"},
        };
        for (const auto& [command, commandName] : commands) {
            for (const F& f : faults) {
                QTest::addRow("%s, %s", commandName, f.name) << command << f.fault << f.param;
            }
        }
    }

    void commandUnderFault() {
        QFETCH(Command, command);
        QFETCH(Fault, fault);
        QFETCH(int, param);
        auto& adapter = TheVirtualAdapter();
        adapter.SetInstantTimeouts(true);
        window = std::make_unique<Form1>();
        window->show();
        messages.clear();

        // Grids that show the sample EDID (for Write), a memory that differs from it, and an
        // old file where Save will write.
        if (command == Command::Write) {
            Button(window.get(), "IICReadButton")->click();
            adapter.Eeprom().Memory().fill(0xEE);
        }
        const QString folder =
            dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));
        QDir().mkpath(folder);
        chosenPath = folder + (command == Command::Open ? "/image.bin" : "/saved.bin");
        QFile old(chosenPath);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(command == Command::Open
                      ? QByteArray(reinterpret_cast<const char*>(SampleEdid().data()), 256)
                      : kOldFile);
        old.close();
        const EdidImage imageBefore = window->edidData();

        switch (fault) {
            case Fault::None:
                break;
            case Fault::Absent:
                adapter.SetPresent(false);
                break;
            case Fault::Unplug:
                adapter.UnplugAfterExchanges(param);
                break;
            case Fault::DropSome:
                adapter.DropReplies(param);
                break;
            case Fault::DropAll:
                adapter.DropReplies(-1);
                break;
            case Fault::RefuseA0:
                adapter.RefuseAddress(0xA0);
                break;
            case Fault::RefuseA1:
                adapter.RefuseAddress(0xA1);
                break;
            case Fault::SlowWriteCycle:
                adapter.Eeprom().SetWriteCycle(std::chrono::milliseconds(param));
                break;
            case Fault::WriteProtected:
                adapter.Eeprom().SetWriteProtected(true);
                break;
            case Fault::BitsFlipped:
                adapter.Eeprom().SetCorruptedOffsets({0, 127, 128, 255});
                break;
            case Fault::FileVanishes:
                QVERIFY(QDir(folder).removeRecursively());
                break;
            case Fault::ReadOnlyFolder:
                UseFileWriteCalls(&kReadOnlyFolder);
                break;
            case Fault::DiskFull:
                g_writtenBytes = 0;
                UseFileWriteCalls(&kDiskFull);
                break;
            case Fault::FsyncFails:
                UseFileWriteCalls(&kFsyncFails);
                break;
        }

        const char* button = nullptr;
        switch (command) {
            case Command::Read:
                button = "IICReadButton";
                break;
            case Command::Write:
                button = "IICWriteButton";
                break;
            case Command::Scan:
                button = "Scan";
                break;
            case Command::Clear:
                button = "ClearResult";
                break;
            case Command::Open:
                button = "ReadFile";
                break;
            case Command::Save:
                button = "SaveFile";
                break;
        }
        Button(window.get(), button)->click();
        const auto& memory = adapter.Eeprom().Memory();

        // No byte shown as good that was not.
        if (command == Command::Read) {
            for (int n = 1; n <= 256; ++n) {
                if (Red(n)) continue;  // shown as not good
                const Cell c = CellOf(n);
                QCOMPARE(window->hexGrid()->CellText(c.row, c.column),
                         QString::fromStdString(HexText(memory[n - 1])));
                QCOMPARE(window->edidData()[n - 1], memory[n - 1]);
            }
        }
        if (command == Command::Write) {
            for (int n = 1; n <= 256; ++n) {
                if (Red(n)) continue;
                const Cell c = CellOf(n);
                QCOMPARE(QString::fromStdString(HexText(memory[n - 1])),
                         window->hexGrid()->CellText(c.row, c.column));
            }
            if (fault == Fault::None || fault == Fault::SlowWriteCycle ||
                fault >= Fault::FileVanishes) {
                QVERIFY(std::equal(memory.begin(), memory.end(), SampleEdid().begin()));
            }
        }
        if (command == Command::Scan) {
            const QString result = window->resultText();
            if (result != QStringLiteral("No Devices found on I2C Buss")) {
                for (const QString& line :
                     result.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
                    QVERIFY2(Acknowledged(
                                 static_cast<std::uint8_t>(line.section(' ', 0, 0).toInt()), fault),
                             qPrintable(line));
                }
            }
        }
        if (command == Command::Clear) {
            for (std::uint8_t b : window->edidData()) QCOMPARE(b, 0);
            QCOMPARE(window->hexGrid()->CellText(1, 1), QString());
        }

        // No file lost or half-written.
        const bool writeFault = fault == Fault::ReadOnlyFolder || fault == Fault::DiskFull ||
                                fault == Fault::FsyncFails;
        if (command == Command::Save) {
            if (fault == Fault::FileVanishes) {
                QVERIFY(!QFile::exists(chosenPath));
                QCOMPARE(messages.size(), 1);
            } else if (writeFault) {
                QCOMPARE(ReadAll(chosenPath), kOldFile);
                QCOMPARE(messages.size(), 1);
                QVERIFY(messages.first().startsWith(QStringLiteral("Error Number: ")));
            } else {
                QCOMPARE(ReadAll(chosenPath),
                         QByteArray(reinterpret_cast<const char*>(window->edidData().data()), 256));
            }
            QCOMPARE(
                QDir(folder).entryList(QStringList{".quillon-save-*"}, QDir::Hidden | QDir::Files),
                QStringList{});
        }
        if (command == Command::Open) {
            if (fault == Fault::FileVanishes) {
                QCOMPARE(messages,
                         QStringList{QStringLiteral(
                             "Error Number:  2\r\nError Msg   : No such file or directory")});
                QVERIFY(window->edidData() == imageBefore);
            } else {
                QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(),
                                   window->edidData().begin()));
            }
        }

        // The window is left usable: nothing running, the pointer back, every control enabled
        // (the window started with an adapter and no held handle, so the I2C buttons too).
        QVERIFY(!window->commandRunning());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        for (const char* name : {"IICReadButton", "IICWriteButton", "SaveFile", "ReadFile",
                                 "ClearResult", "ByteOption_0", "ByteOption_1"}) {
            QVERIFY2(Button(window.get(), name)->isEnabled(), name);
        }
        // And the next read, once the fault is gone, works.
        adapter.ClearFaults();
        adapter.Eeprom().Memory() = SampleEdid();
        UseFileWriteCalls(nullptr);
        Button(window.get(), "IICReadButton")->click();
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window->edidData().begin()));
        for (int n = 1; n <= 256; ++n) QVERIFY(!Red(n));
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "test_fault_matrix.moc"
