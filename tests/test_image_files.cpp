// The raw and XML image formats and the file writer, on real files in a temporary folder.
#include <sys/stat.h>

#include <QtTest>
#include <future>
#include <numeric>
#include <thread>
#include <variant>

#include "files/file_error.h"
#include "files/image_files.h"
#include "image_bytes.h"

using namespace quillon;

using testing::Bytes;
using testing::ReadAll;

namespace {
// What a load gave: the image's bytes, or "error <number>", or "parser: <reason>".
QByteArray Loaded(const std::string& path, EdidImage& image) {
    const LoadOutcome outcome = LoadImageFile(path, image);
    if (const auto* e = std::get_if<FileError>(&outcome))
        return "error " + QByteArray::number(e->number);
    if (const auto* p = std::get_if<ParserFailure>(&outcome))
        return "parser: " + QByteArray::fromStdString(p->reason);
    return Bytes(image);
}
}  // namespace

class TestImageFiles : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString Put(const QString& name, const QByteArray& content) {
        if (!testing::Put(dir.filePath(name), content)) qFatal("cannot write");
        return dir.filePath(name);
    }

  private slots:
    void formatOfPath() {
        for (const char* xml : {"a.xml", "a.XML", "/tmp/a.Xml", "/data/edid.old.xml"})
            QVERIFY2(FormatOf(xml) == ImageFormat::Xml, xml);
        for (const char* raw :
             {"a.txt", "edid.hex", "/data/v1.xml.d/edid.bin", "/data/x.xml/edid", "a.xmlx"})
            QVERIFY2(FormatOf(raw) == ImageFormat::Raw, raw);
    }

    // A raw file holds the bytes themselves: a short one leaves the rest 0, a longer one gives
    // its first 256. A failed load leaves the image as it was.
    void loads_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("image");  // 256 bytes, or what the failure says
        const QByteArray counting = [] {
            QByteArray b(300, 0);
            std::iota(b.begin(), b.end(), 1);
            return b;
        }();
        QTest::newRow("raw, 300 bytes") << counting << counting.left(256);
        QTest::newRow("raw, 128 bytes")
            << counting.left(128) << counting.left(128) + QByteArray(128, 0);
        QTest::newRow("raw, empty") << QByteArray() << QByteArray(256, 0);
        QTest::newRow("raw, 5 MiB") << QByteArray(5 << 20, 1) << QByteArray("error 27");
        const QByteArray ones = QByteArray("01").repeated(128);
        QTest::newRow("xml, the last DATA, 128 bytes a block")
            << "<DATAOBJ><DATA><BLOCK0>FF</BLOCK0><BLOCK1>EE</BLOCK1></DATA><DATA><BLOCK1>7f</"
               "BLOCK1><BLOCK0>" +
                   ones + "AB</BLOCK0></DATA></DATAOBJ>"
            << QByteArray(128, 1) + '\x7f' + QByteArray(127, 0);
        QTest::newRow("xml, wrapped and indented")
            << QByteArray(
                   "<?xml version=\"1.0\"?>\n<DATAOBJ>\n <DATA>\n  <BLOCK0>\n   0A0b\n  "
                   "</BLOCK0>\n  <BLOCK1>\r\n\t00 f\r\n</BLOCK1>\n </DATA>\n</DATAOBJ>\n")
            << QByteArray("\x0a\x0b") + QByteArray(126, 0) + QByteArray("\x00\x0f", 2) +
                   QByteArray(126, 0);
        QTest::newRow("xml, pairs cut at a non-hex digit, an odd tail")
            << QByteArray(
                   "<DATAOBJ><DATA><BLOCK0>1GG13</BLOCK0><BLOCK1>\xC3\xA9"
                   "123</BLOCK1></DATA></DATAOBJ>")
            << QByteArray("\x01\x00\x03", 3) + QByteArray(125, 0) + QByteArray("\x00\x23", 2) +
                   QByteArray(126, 0);
        for (const char* none :
             {"<DATAOBJ><X/></DATAOBJ>",
              "<ROOT><DATA><BLOCK0>FF</BLOCK0><BLOCK1>FF</BLOCK1></DATA></ROOT>",
              "<DATAOBJ><X><DATA><BLOCK0>FF</BLOCK0></DATA></X></DATAOBJ>",
              "<dataobj><data><block0>FF</block0><block1>FF</block1></data></dataobj>"})
            QTest::newRow(none) << QByteArray(none) << QByteArray(256, 0);
        QTest::newRow("xml, a block's text around a comment and in CDATA")
            << QByteArray(
                   "<DATAOBJ><DATA><BLOCK0>00<!-- c -->F1<![CDATA[F2F3]]></BLOCK0>"
                   "<BLOCK1>01</BLOCK1></DATA></DATAOBJ>")
            << QByteArray("\x00\xF1\xF2\xF3", 4) + QByteArray(124, 0) + '\x01' + QByteArray(127, 0);
        QTest::newRow("xml, no BLOCK1 in the last DATA")
            << QByteArray(
                   "<DATAOBJ><DATA><BLOCK0>FF</BLOCK0><BLOCK1>FF</BLOCK1></DATA><DATA><BLOCK0>0</"
                   "BLOCK0></DATA></DATAOBJ>")
            << QByteArray("error 1001");
        QTest::newRow("xml, no BLOCK0")
            << QByteArray("<DATAOBJ><DATA><BLOCK1>FF</BLOCK1></DATA></DATAOBJ>")
            << QByteArray("error 1000");
        QTest::newRow("xml, not well-formed")
            << QByteArray("<DATAOBJ><DATA><BLOCK0>FF</BLOCK0>")
            << QByteArray("parser: Start-end tags mismatch at offset 33");
        QTest::newRow("xml, 5 MiB")
            << "<DATAOBJ>" + QByteArray(5 << 20, ' ') + "</DATAOBJ>" << QByteArray("error 27");
    }
    void loads() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, image);
        const bool xml = content.startsWith('<');
        EdidImage loaded;
        loaded.fill(0xEE);
        QCOMPARE(Loaded(Put(xml ? "a.xml" : "a.hex", content).toStdString(), loaded), image);
        if (image.size() != 256) QCOMPARE(Bytes(loaded), QByteArray(256, '\xEE'));
        if (xml)
            QCOMPARE(LoadXmlImageFromMemory(content.toStdString(), loaded).index(),
                     LoadImageFile(dir.filePath("a.xml").toStdString(), loaded).index());
    }

    void loadErrors() {
        EdidImage image{};
        QCOMPARE(Loaded(dir.filePath("missing.bin").toStdString(), image), QByteArray("error 2"));
        QCOMPARE(Loaded(dir.path().toStdString(), image), QByteArray("error 21"));
        QCOMPARE(Loaded(dir.filePath("missing.xml").toStdString(), image), QByteArray("error 2"));
        // A named pipe (nobody writes it) and a device are refused at once, not waited on.
        QVERIFY(::mkfifo(dir.filePath("pipe.hex").toLocal8Bit(), 0600) == 0 &&
                ::mkfifo(dir.filePath("pipe.xml").toLocal8Bit(), 0600) == 0 &&
                QFile::link("/dev/zero", dir.filePath("edid.bin")));
        for (const char* name : {"pipe.hex", "pipe.xml", "edid.bin"}) {
            auto done = std::make_shared<std::promise<QByteArray>>();
            std::thread([done, path = dir.filePath(name).toStdString()] {
                EdidImage image{};
                done->set_value(Loaded(path, image));
            }).detach();
            auto result = done->get_future();
            QVERIFY2(result.wait_for(std::chrono::seconds(10)) == std::future_status::ready, name);
            QCOMPARE(result.get(), QByteArray("error 1002"));
        }
        // A number's sign takes the place of the space before it (the window shows the rest).
        QCOMPARE(FileErrorMessage({-5, "Odd"}),
                 std::string("Error Number: -5\r\nError Msg   : Odd"));
    }

    // Through a symbolic link the file it names is replaced whole and the link stays; the old
    // file's permissions, owner and group are kept, its set-id bits are not; a named pipe and a
    // folder are refused; a folder that takes no new file leaves the file written in place. (A
    // write that fails part-way: the window's table, "save, flush fails".)
    void writingKeepsWhatTheFileWas() {
        const QString target = Put("target.bin", "old"), link = dir.filePath("link.bin");
        QVERIFY(QFile::link("target.bin", link));
        const bool root = ::geteuid() == 0;
        if (root) QVERIFY(::chown(target.toLocal8Bit(), 1234, 5678) == 0);
        QVERIFY(::chmod(target.toLocal8Bit(), 04751) == 0);  // after chown, which clears it
        EdidImage image;
        image.fill(0x5A);
        QVERIFY(!WriteBinaryFile(link.toStdString(), image));
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        QCOMPARE(ReadAll(target), QByteArray(256, 0x5A));
        struct stat info {};
        QVERIFY(::stat(target.toLocal8Bit(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, 0751u);
        if (root) QVERIFY(info.st_uid == 1234 && info.st_gid == 5678);
        QVERIFY(::mkfifo(dir.filePath("fifo.bin").toLocal8Bit(), 0600) == 0);
        QCOMPARE(WriteBinaryFile(dir.filePath("fifo.bin").toStdString(), image)->number,
                 kErrorNotRegularFile);
        QCOMPARE(WriteBinaryFile(dir.path().toStdString(), image)->number, EISDIR);
        FileWriteCalls refused = RealFileWriteCalls();
        refused.makeTemporary = [](char*) { return errno = EACCES, -1; };
        UseFileWriteCalls(&refused);
        image.fill(0x33);
        const auto inPlace = WriteBinaryFile(target.toStdString(), image);
        const auto newFile = WriteBinaryFile(dir.filePath("new.bin").toStdString(), image);
        UseFileWriteCalls(nullptr);
        QVERIFY(!inPlace);
        QCOMPARE(ReadAll(target), QByteArray(256, 0x33));
        QCOMPARE(newFile ? newFile->number : 0, EACCES);
    }
};

QTEST_GUILESS_MAIN(TestImageFiles)
#include "test_image_files.moc"
