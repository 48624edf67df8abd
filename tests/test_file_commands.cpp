// Open and Save through the real window, its file dialog and its message boxes.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window_driver.h"

using namespace quillon;
using namespace quillon::testing;
using quillon::iow::SampleEdid;
using quillon::iow::TheVirtualAdapter;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Bytes(const EdidImage& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), 256);
}

QList<int> RedBytes(EdidGrid* grid) {
    QList<int> red;
    for (int n = 1; n <= 256; ++n) {
        const Cell c = CellOf(n);
        if (grid->CellColour(c.row, c.column) == QColor(255, 0, 0)) red << n;
    }
    return red;
}

// The names that the dialog lists in `folder`, after its file model has read the folder.
QStringList Listed(QFileDialog* dialog, const QString& folder) {
    dialog->setDirectory(folder);
    auto* model = dialog->findChild<QFileSystemModel*>();
    const QModelIndex root = model->index(folder);
    // The file model reads the folder in the background.
    if (!QTest::qWaitFor([&] { return model->rowCount(root) > 0; }, 5000)) return {};
    QTest::qWait(200);
    QStringList names;
    for (int row = 0; row < model->rowCount(root); ++row)
        names << model->index(row, 0, root).data().toString();
    names.sort();
    return names;
}

}  // namespace

class TestFileCommands : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Form1> window;

    QString folder;  // a fresh one for each test

    QString Put(const QString& name, const QByteArray& content) {
        QFile file(folder + '/' + name);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write");
        file.write(content);
        return file.fileName();
    }
    QString PathFor(const QString& name) const { return folder + '/' + name; }

    void Open(std::function<void(QFileDialog*)> act) {
        OnNextFileDialog(std::move(act));
        Button(window.get(), "ReadFile")->click();
    }
    void Save(std::function<void(QFileDialog*)> act) {
        OnNextFileDialog(std::move(act));
        Button(window.get(), "SaveFile")->click();
    }

  private slots:
    void init() {
        folder = dir.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        QDir().mkpath(folder);
        TheVirtualAdapter().Reset();
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void openDialogSettings() {
        QString title, filter, name, initialFolder;
        bool native = true, confirm = true;
        QFileDialog::AcceptMode mode{};
        QStringList listed;
        Put("a.hex", "1");
        Put("B.HEX", "1");
        Put("c.bin", "1");
        Put("d.BIN", "1");
        Put("e.xml", "1");
        Put("f.XML", "1");
        Put("g.Xml", "1");
        Put("h.txt", "1");
        Open([&](QFileDialog* d) {
            title = d->windowTitle();
            filter = d->selectedNameFilter();
            native = d->testOption(QFileDialog::DontUseNativeDialog) == false;
            confirm = !d->testOption(QFileDialog::DontConfirmOverwrite);
            mode = d->acceptMode();
            initialFolder = d->directory().absolutePath();
            name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            listed = Listed(d, folder);
            d->reject();
        });
        QCOMPARE(title, QStringLiteral("Select the name of the file to READ"));
        QCOMPARE(mode, QFileDialog::AcceptOpen);
        QVERIFY(!native);
        QVERIFY(!confirm);
        QCOMPARE(initialFolder, QCoreApplication::applicationDirPath());
        QCOMPARE(name, QStringLiteral("*.hex;*.bin;*.xml"));
        // Shown as the description alone; its patterns really list the files.
        auto* combo = window->findChild<QFileDialog*>("FS")->findChild<QComboBox*>(
            QStringLiteral("fileTypeCombo"));
        QCOMPARE(combo->itemText(0),
                 QStringLiteral("Tavrin Files (*.hex;*.HEX;*.bin;*.BIN;*.xml,*.XML)"));
        QCOMPARE(listed,
                 (QStringList{"B.HEX", "a.hex", "c.bin", "d.BIN", "e.xml", "f.XML", "g.Xml"}));
        QCOMPARE(window->findChild<QFileDialog*>("FS")->defaultSuffix(), QStringLiteral("hex"));
    }

    void saveDialogSettingsListFilesRegardlessOfCase() {
        QString title, name;
        bool confirm = false;
        QStringList listed;
        Put("edid.hex", "1");
        Put("x.bin", "1");
        Put("y.xml", "1");
        Save([&](QFileDialog* d) {
            title = d->windowTitle();
            confirm = !d->testOption(QFileDialog::DontConfirmOverwrite);
            name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            listed = Listed(d, folder);
            d->reject();
        });
        QCOMPARE(title, QStringLiteral("Select the name of the file to SAVE"));
        QVERIFY(confirm);
        QCOMPARE(name, QStringLiteral("*.hex;*.bin"));
        auto* combo = window->findChild<QFileDialog*>("FS")->findChild<QComboBox*>(
            QStringLiteral("fileTypeCombo"));
        QCOMPARE(combo->itemText(0), QStringLiteral("Tavrin Files (*.hex;*.HEX;*.bin;*.BIN)"));
        QCOMPARE(listed, (QStringList{"edid.hex", "x.bin"}));
    }

    // --- Open: the outcome table ---

    void openChosenAndLoaded() {
        window->findChild<QAbstractButton*>("ByteOption_0")->click();  // 128: Open still does 256
        QByteArray image(256, 0);
        for (int k = 0; k < 256; ++k) image[k] = static_cast<char>(k);
        const QString path = Put("counting.bin", image);
        Open(Choose(path));
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QCOMPARE(window->filePattern(), std::string("*.hex"));
        QCOMPARE(Bytes(window->edidData()), image);
        QCOMPARE(window->hexGrid()->CellText(16, 16), QStringLiteral("FF"));
        // 0+1+...+127 = 0xC0 and 128+...+255 = 0x40 mod 256: both blocks bad.
        QCOMPARE(RedBytes(window->hexGrid()), (QList<int>{128, 256}));
        QVERIFY(Button(window.get(), "ReadFile")->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void openChosenButUnreadable() {
        window->setEdidData(SampleEdid());
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Ok));
        const QString path = PathFor("gone.bin");
        Open(Choose(path));
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Orvane Quillon"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.text,
                 QStringLiteral("Error Number:  2\r\nError Msg   : No such file or directory"));
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QCOMPARE(window->filePattern(), std::string("*.hex"));
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window->edidData().begin()));
        QCOMPARE(window->hexGrid()->CellText(1, 2), QStringLiteral("FF"));  // redrawn all the same
    }

    void openXmlThatDoesNotLoad() {
        window->setEdidData(SampleEdid());
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Ok));
        Open(Choose(Put("broken.xml", "<DATAOBJ><DATA>")));
        QVERIFY(box.seen);
        QVERIFY(!box.text.startsWith("Error Number"));
        QVERIFY(!box.text.isEmpty());
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window->edidData().begin()));
        QCOMPARE(window->hexGrid()->CellText(1, 2), QStringLiteral("FF"));
    }

    void openXmlMissingBlockShowsTheFileError() {
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Ok));
        Open(Choose(Put("half.xml", "<DATAOBJ><DATA><BLOCK0>00</BLOCK0></DATA></DATAOBJ>")));
        QVERIFY(box.text.startsWith(QStringLiteral("Error Number:  1001\r\nError Msg   : ")));
    }

    void openXmlWithoutDataObjZeroesQuietly() {
        window->setEdidData(SampleEdid());
        Open(Choose(Put("other.xml", "<ROOT/>")));
        QCOMPARE(Bytes(window->edidData()), Bytes(EdidImage{}));
        QCOMPARE(window->hexGrid()->CellText(1, 1), QStringLiteral("00"));
        QCOMPARE(RedBytes(window->hexGrid()), QList<int>{});
    }

    void firstOpenCancelledRedrawsNothing() {
        window->setEdidData(SampleEdid());
        Open(Cancel());
        QCOMPARE(window->edidFile(), std::string());
        QCOMPARE(window->filePattern(), std::string());
        QCOMPARE(window->hexGrid()->CellText(1, 1), QString());
    }

    void openCancelledAfterSaveRedrawsTheImage() {
        window->setEdidData(SampleEdid());
        const QString path = PathFor("saved.hex");
        Save(Choose(path));
        Open(Cancel());
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QCOMPARE(window->filePattern(), std::string());
        QCOMPARE(window->hexGrid()->CellText(1, 2), QStringLiteral("FF"));
        QCOMPARE(RedBytes(window->hexGrid()), QList<int>{});
    }

    // --- Save ---

    void saveChosenWritesAll256Bytes() {
        window->findChild<QAbstractButton*>("ByteOption_0")->click();
        window->setEdidData(SampleEdid());
        const QString path = Put("over.bin", QByteArray(1000, 'z'));
        BoxAnswer confirm;
        AnswerNextBox(confirm, Click(QMessageBox::Yes));  // the dialog asks before overwriting
        Save([&](QFileDialog* d) {
            TypeName(d, path);
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        });
        QVERIFY(confirm.seen);
        QCOMPARE(ReadAll(path), Bytes(SampleEdid()));
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QCOMPARE(window->filePattern(), std::string("*.hex"));
    }

    void saveWithoutExtensionGetsHex() {
        Save(Choose(PathFor("plain")));
        QVERIFY(QFile::exists(PathFor("plain.hex")));
    }

    void saveCancelledWritesNothing() {
        const QString path = PathFor("first.bin");
        Save(Choose(path));
        QFile::remove(path);
        Save(Cancel());
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QCOMPARE(window->filePattern(), std::string("*.hex"));
        QVERIFY(!QFile::exists(path));
    }

    void saveFailureShowsTheFileError() {
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Ok));
        const QString path = PathFor("no-such-folder/x.bin");
        Save(Choose(path));
        QCOMPARE(box.text,
                 QStringLiteral("Error Number:  2\r\nError Msg   : No such file or directory"));
        QCOMPARE(QString::fromStdString(window->edidFile()), path);
        QVERIFY(Button(window.get(), "SaveFile")->isEnabled());
    }

    void fileCommandsWithAClearHandleHeld() {
        Button(window.get(), "ClearResult")->click();
        const IowKitHandle held = window->iowHandle();
        bool readEnabledInDialog = true;
        Save([&](QFileDialog* d) {
            readEnabledInDialog = Button(window.get(), "IICReadButton")->isEnabled();
            d->reject();
        });
        QVERIFY(!readEnabledInDialog);
        QVERIFY(Button(window.get(), "IICReadButton")->isEnabled());
        QCOMPARE(window->iowHandle(), held);
        Open(Cancel());
        QVERIFY(Button(window.get(), "IICWriteButton")->isEnabled());
        QCOMPARE(window->iowHandle(), held);
    }

    // --- Whole round trips ---

    // The corpus lies beside the checkout, not in it; a clone elsewhere runs without it.
    static bool CorpusPresent() { return QDir(QStringLiteral(QUILLON_CORPUS_DIR)).exists(); }

    void corpusOpensWithItsChecksumMarksAndSavesBack() {
        if (!CorpusPresent()) QSKIP("no EDID corpus beside this checkout (../shared/edid-corpus)");
        const QDir corpus(QStringLiteral(QUILLON_CORPUS_DIR));
        const QStringList names = corpus.entryList(QStringList{"*.bin"}, QDir::Files);
        QVERIFY(names.size() >= 100);
        int badSeen = 0;
        for (const QString& name : names) {
            const QByteArray original = ReadAll(corpus.filePath(name));
            QByteArray padded = original.left(256);
            padded.append(QByteArray(256 - padded.size(), 0));
            Open(Choose(corpus.filePath(name)));
            QCOMPARE(Bytes(window->edidData()), padded);
            QList<int> expectedRed;
            for (int block = 0; block < 2; ++block) {
                int sum = 0;
                for (int k = 0; k < 128; ++k)
                    sum += static_cast<std::uint8_t>(padded[block * 128 + k]);
                if (sum % 256 != 0) expectedRed << (block + 1) * 128;
            }
            badSeen += !expectedRed.isEmpty();
            QCOMPARE(RedBytes(window->hexGrid()), expectedRed);
            QCOMPARE(RedBytes(window->charGrid()), expectedRed);
            const QString saved = PathFor("copy.bin");
            QFile::remove(saved);
            Save(Choose(saved));
            QCOMPARE(ReadAll(saved), padded);
        }
        QVERIFY(badSeen >= 13);
    }

    void openWriteReadSaveGivesTheSameFile() {
        if (!CorpusPresent()) QSKIP("no EDID corpus beside this checkout (../shared/edid-corpus)");
        const QString source = QStringLiteral(QUILLON_CORPUS_DIR) + "/acer-x34.bin";
        const QByteArray original = ReadAll(source);
        QCOMPARE(original.size(), 256);
        Open(Choose(source));
        BoxAnswer box;
        AnswerNextBox(box, Click(QMessageBox::Yes));
        Button(window.get(), "IICWriteButton")->click();
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(TheVirtualAdapter().Eeprom().Memory().data()),
                       256),
            original);
        Button(window.get(), "ClearResult")->click();
        Button(window.get(), "IICReadButton")->click();
        const QString saved = PathFor("read-back.bin");
        Save(Choose(saved));
        QCOMPARE(ReadAll(saved), original);
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
