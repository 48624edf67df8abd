// The raw and XML image formats and the file writer, on real files in a temporary folder.
#include <sys/resource.h>
#include <sys/stat.h>

#include <QtTest>
#include <csignal>
#include <variant>

#include "files/file_error.h"
#include "files/image_files.h"

using namespace quillon;

namespace {

QByteArray Bytes(const EdidImage& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), 256);
}

EdidImage Marked(std::uint8_t value) {
    EdidImage image{};
    image.fill(value);
    return image;
}

bool IsLoaded(const LoadOutcome& o) { return std::holds_alternative<std::monostate>(o); }
const FileError* ErrorOf(const LoadOutcome& o) { return std::get_if<FileError>(&o); }

}  // namespace

class TestImageFiles : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString Write(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(content);
        return path;
    }
    QString Xml(const QString& name, const QString& body) { return Write(name, body.toUtf8()); }

  private slots:
    void formatOfPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("xml");
        QTest::newRow("a.xml") << "a.xml" << true;
        QTest::newRow("a.XML") << "a.XML" << true;
        QTest::newRow("a.Xml") << "/tmp/a.Xml" << true;
        QTest::newRow("a.txt") << "a.txt" << false;
        QTest::newRow("a.dat") << "a.dat" << false;
        QTest::newRow("edid.hex") << "edid.hex" << false;
        QTest::newRow("folder with dots") << "/data/v1.xml.d/edid.bin" << false;
        QTest::newRow("xml folder, no extension") << "/data/x.xml/edid" << false;
        QTest::newRow("two dots") << "/data/edid.old.xml" << true;
        QTest::newRow("xmlx") << "a.xmlx" << false;
    }
    void formatOfPath() {
        QFETCH(QString, path);
        QFETCH(bool, xml);
        QCOMPARE(FormatOf(path.toStdString()) == ImageFormat::Xml, xml);
    }

    void rawImageSizes_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("128 bytes") << 128;
        QTest::newRow("256 bytes") << 256;
        QTest::newRow("300 bytes") << 300;
        QTest::newRow("empty") << 0;
    }
    void rawImageSizes() {
        QFETCH(int, size);
        QByteArray content(size, 0);
        for (int k = 0; k < size; ++k) content[k] = static_cast<char>(k * 7 + 1);
        EdidImage image = Marked(0xEE);
        QVERIFY(IsLoaded(LoadRawImage(Write("raw.bin", content).toStdString(), image)));
        for (int k = 0; k < 256; ++k)
            QCOMPARE(image[k], k < size ? static_cast<std::uint8_t>(k * 7 + 1) : 0);
    }

    void hexFileHoldsBytesNotText() {
        EdidImage image{};
        QVERIFY(IsLoaded(LoadImageFile(
            Write("edid.hex", QByteArray("00FF") + QByteArray(252, 'A')).toStdString(), image)));
        QCOMPARE(image[0], '0');
        QCOMPARE(image[2], 'F');
    }

    void rawFileErrors() {
        EdidImage image = Marked(0x11);
        const FileError* error = nullptr;
        LoadOutcome missing = LoadRawImage(dir.filePath("missing.bin").toStdString(), image);
        QVERIFY((error = ErrorOf(missing)));
        QCOMPARE(error->number, ENOENT);
        QCOMPARE(error->description, std::string("No such file or directory"));
        LoadOutcome folder = LoadRawImage(dir.path().toStdString(), image);
        QVERIFY((error = ErrorOf(folder)));
        QCOMPARE(error->number, EISDIR);
        const QString big = Write("big.bin", QByteArray());
        QVERIFY(::truncate(big.toLocal8Bit().constData(), 5 * 1024 * 1024) == 0);
        LoadOutcome tooLarge = LoadRawImage(big.toStdString(), image);
        QVERIFY((error = ErrorOf(tooLarge)));
        QCOMPARE(error->number, EFBIG);
        QCOMPARE(Bytes(image), Bytes(Marked(0x11)));
    }

    void blockTextPairs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("value");
        QTest::newRow("00ff pair 0") << "00ff" << 0 << 0x00;
        QTest::newRow("00ff pair 1") << "00ff" << 1 << 0xFF;
        QTest::newRow("00ff pair 2 beyond") << "00ff" << 2 << 0;
        QTest::newRow("1G") << "1G" << 0 << 1;
        QTest::newRow("G1") << "G1" << 0 << 0;
        QTest::newRow("odd length tail") << "123" << 1 << 3;
        QTest::newRow("blank dropped") << " A" << 0 << 0x0A;
        QTest::newRow("tab dropped") << "B\t" << 0 << 0x0B;
        QTest::newRow("empty") << "" << 0 << 0;
        QTest::newRow("non-ASCII shifts by characters") << QString::fromUtf8(
                                                               "\xC3\xA9"
                                                               "12")
                                                        << 0 << 0;
        QTest::newRow("after a non-ASCII character") << QString::fromUtf8(
                                                            "\xC3\xA9"
                                                            "123")
                                                     << 1 << 0x23;
    }
    void blockTextPairs() {
        QFETCH(QString, text);
        QFETCH(int, k);
        QFETCH(int, value);
        const std::u32string u32 = text.toStdU32String();
        QCOMPARE(BlockTextByte(u32, k), value);
    }

    void xmlLastDataWins() {
        const QString block0 = QString("01").repeated(128);
        const QString path = Xml("two.xml",
                                 "<DATAOBJ><DATA><BLOCK0>FFFF</BLOCK0><BLOCK1>EE</BLOCK1></DATA>"
                                 "<DATA><BLOCK1>7f</BLOCK1><BLOCK0>" +
                                     block0 + "AB</BLOCK0></DATA></DATAOBJ>");
        EdidImage image = Marked(0x55);
        QVERIFY(IsLoaded(LoadXmlImage(path.toStdString(), image)));
        for (int k = 0; k < 128; ++k) QCOMPARE(image[k], 1);  // the 257th character on is ignored
        QCOMPARE(image[128], 0x7F);
        for (int k = 129; k < 256; ++k) QCOMPARE(image[k], 0);
    }

    void xmlWrappedAndIndentedText() {
        const QString hex = QString("0A").repeated(128);
        const QString path = Xml(
            "wrapped.xml",
            "<?xml version=\"1.0\"?>\n<DATAOBJ>\n  <DATA>\n    <BLOCK0>\n      " + hex +
                "\n    </BLOCK0>\n    <BLOCK1>\r\n\t00ff\r\n</BLOCK1>\n  </DATA>\n</DATAOBJ>\n");
        EdidImage image{};
        QVERIFY(IsLoaded(LoadXmlImage(path.toStdString(), image)));
        QCOMPARE(image[0], 0x0A);
        QCOMPARE(image[127], 0x0A);
        QCOMPARE(image[128], 0x00);
        QCOMPARE(image[129], 0xFF);
        QCOMPARE(image[130], 0);
    }

    void xmlWithoutDataGivesZeros_data() {
        QTest::addColumn<QString>("document");
        QTest::newRow("no DATA") << "<DATAOBJ><OTHER/></DATAOBJ>";
        QTest::newRow("root not DATAOBJ")
            << "<ROOT><DATA><BLOCK0>FF</BLOCK0><BLOCK1>FF</BLOCK1></DATA></ROOT>";
        QTest::newRow("DATA not under the root")
            << "<DATAOBJ><X><DATA><BLOCK0>FF</BLOCK0></DATA></X></DATAOBJ>";
        QTest::newRow("lower-case names")
            << "<dataobj><data><block0>FF</block0><block1>FF</block1></data></dataobj>";
    }
    void xmlWithoutDataGivesZeros() {
        QFETCH(QString, document);
        EdidImage image = Marked(0x99);
        QVERIFY(IsLoaded(LoadXmlImage(Xml("none.xml", document).toStdString(), image)));
        QCOMPARE(Bytes(image), Bytes(EdidImage{}));
    }

    void xmlMissingBlockIsAnErrorAndStoresNothing() {
        EdidImage image = Marked(0x42);
        LoadOutcome outcome =
            LoadXmlImage(Xml("half.xml",
                             "<DATAOBJ><DATA><BLOCK0>FF</BLOCK0><BLOCK1>FF</BLOCK1></"
                             "DATA><DATA><BLOCK0>00</BLOCK0></DATA></DATAOBJ>")
                             .toStdString(),
                         image);
        QVERIFY(ErrorOf(outcome));
        QCOMPARE(ErrorOf(outcome)->number, kErrorMissingBlock1);
        QCOMPARE(Bytes(image), Bytes(Marked(0x42)));
        outcome = LoadXmlImage(
            Xml("half0.xml", "<DATAOBJ><DATA><BLOCK1>FF</BLOCK1></DATA></DATAOBJ>").toStdString(),
            image);
        QCOMPARE(ErrorOf(outcome)->number, kErrorMissingBlock0);
    }

    void xmlThatDoesNotLoadGivesTheParsersReason() {
        EdidImage image = Marked(0x42);
        LoadOutcome outcome =
            LoadXmlImage(Xml("bad.xml", "<DATAOBJ><DATA><BLOCK0>FF</BLOCK0>").toStdString(), image);
        const auto* failure = std::get_if<ParserFailure>(&outcome);
        QVERIFY(failure);
        QVERIFY(QString::fromStdString(failure->reason).contains("Start-end tags mismatch") ||
                QString::fromStdString(failure->reason).contains("end"));
        outcome = LoadXmlImage(dir.filePath("missing.xml").toStdString(), image);
        QVERIFY((failure = std::get_if<ParserFailure>(&outcome)));
        QCOMPARE(failure->reason, std::string("File was not found"));
        QCOMPARE(Bytes(image), Bytes(Marked(0x42)));
    }

    void errorMessageLayout() {
        QCOMPARE(FileErrorMessage({53, "File not found"}),
                 std::string("Error Number:  53\r\nError Msg   : File not found"));
        QCOMPARE(FileErrorMessage({-5, "Odd"}),
                 std::string("Error Number: -5\r\nError Msg   : Odd"));
        QCOMPARE(FileErrorMessage({0, ""}), std::string("Error Number:  0\r\nError Msg   : "));
    }

    void writeReplacesTheWholeFile() {
        const QString path = Write("old.bin", QByteArray(1000, 'x'));
        QVERIFY(::chmod(path.toLocal8Bit().constData(), 0640) == 0);
        QVERIFY(!WriteBinaryFile(path.toStdString(), Marked(0x5A)).has_value());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(256, 0x5A));
        struct stat info {};
        QVERIFY(::stat(path.toLocal8Bit().constData(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, 0640u);  // the old file's permissions are kept
        QCOMPARE(
            QDir(dir.path()).entryList(QStringList{".quillon-save-*"}, QDir::Hidden | QDir::Files),
            QStringList{});
    }

    void writeErrors() {
        auto error =
            WriteBinaryFile(dir.filePath("no/such/folder/a.bin").toStdString(), EdidImage{});
        QVERIFY(error);
        QCOMPARE(error->number, ENOENT);
        error = WriteBinaryFile(dir.path().toStdString(), EdidImage{});
        QVERIFY(error);
        QCOMPARE(error->number, EISDIR);
    }

    void failurePartWayLeavesTheOldFileWhole() {
        const QByteArray old(1000, 'o');
        const QString path = Write("keep.bin", old);
        // A file-size limit of 100 bytes makes the write fail after its first 100 bytes,
        // whoever runs the test (root included).
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 100;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const auto error = WriteBinaryFile(path.toStdString(), Marked(1));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(error);
        QCOMPARE(error->number, EFBIG);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), old);
        QCOMPARE(
            QDir(dir.path()).entryList(QStringList{".quillon-save-*"}, QDir::Hidden | QDir::Files),
            QStringList{});
    }

    void readOnlyFolderKeepsTheOldFile() {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; the size-limit test covers the failure");
        const QString path = Write("ro/keep.bin", QByteArray(10, 'k'));
        QFile::setPermissions(QFileInfo(path).absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const auto error = WriteBinaryFile(path.toStdString(), EdidImage{});
        QFile::setPermissions(QFileInfo(path).absolutePath(), QFileDevice::ReadOwner |
                                                                  QFileDevice::WriteOwner |
                                                                  QFileDevice::ExeOwner);
        QVERIFY(error);
        QCOMPARE(error->number, EACCES);
    }
};

QTEST_GUILESS_MAIN(TestImageFiles)
#include "test_image_files.moc"
