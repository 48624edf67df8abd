// Start-up and shut-down against the virtual adapter: what is sent, what the adapter fields
// show, and the state of the I2C buttons.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window/adapter_info_text.h"
#include "window/edid_grid.h"
#include "window/form1.h"

using namespace quillon;
using quillon::iow::TheVirtualAdapter;
using quillon::iow::VirtualAdapter;

namespace {

QString Field(QWidget* window, const char* name) {
    return window->findChild<QLineEdit*>(name)->text();
}
bool Enabled(QWidget* window, const char* name) {
    return window->findChild<QWidget*>(name)->isEnabled();
}

QList<std::vector<std::uint8_t>> WrittenOnI2c() {
    QList<std::vector<std::uint8_t>> out;
    for (const auto& t : TheVirtualAdapter().TrafficLog()) {
        if (t.pipe == 1) {
            if (t.direction == VirtualAdapter::Traffic::Direction::Read)
                return {};  // no reads expected
            out << t.bytes;
        }
    }
    return out;
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

  private slots:
    void init() { TheVirtualAdapter().Reset(); }

    void withAdapter() {
        Form1 window;
        QVERIFY(Enabled(&window, "IICReadButton"));
        QVERIFY(Enabled(&window, "IICWriteButton"));
        QCOMPARE(Field(&window, "ProdID"), QStringLiteral("0x1501 or 5377"));
        QCOMPARE(Field(&window, "Revision"), QStringLiteral("0x1021 or 4129"));
        QCOMPARE(Field(&window, "SerialNumber"), QStringLiteral("0000A5E1"));
        QCOMPARE(Field(&window, "NDev"), QStringLiteral("1"));
        QVERIFY(Field(&window, "DHandle").toLongLong() != 0);
        QCOMPARE(window.findChild<QLabel*>("VersionLabel")->text(), QStringLiteral("Version 1.5"));
        QCOMPARE(window.iowHandle(), 0u);
        // Only the enable report went out, with no reply read.
        const std::vector<std::uint8_t> enableOn{1, 1, 0, 0, 0, 0, 0, 0};
        QCOMPARE(WrittenOnI2c(), (QList<std::vector<std::uint8_t>>{enableOn}));
        // The adapter was closed again: it can be opened.
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IowKitCloseDevice(handle);

        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE(QApplication::focusWidget(), window.findChild<QWidget*>("IICWriteButton"));
        TheVirtualAdapter().ClearTraffic();
        window.close();
        QVERIFY(TheVirtualAdapter().TrafficLog().empty());  // nothing sent at close
    }

    void withoutAdapter() {
        TheVirtualAdapter().SetPresent(false);
        Form1 window;
        QVERIFY(!Enabled(&window, "IICReadButton"));
        QVERIFY(!Enabled(&window, "IICWriteButton"));
        QCOMPARE(Field(&window, "ProdID"), QStringLiteral("0x0 or 0"));
        QCOMPARE(Field(&window, "Revision"), QStringLiteral("0x0 or 0"));
        QCOMPARE(Field(&window, "SerialNumber"), QString());
        QCOMPARE(Field(&window, "NDev"), QStringLiteral("0"));
        QCOMPARE(Field(&window, "DHandle"), QStringLiteral("0"));
        QCOMPARE(window.findChild<QLabel*>("VersionLabel")->text(), QStringLiteral("Version 1.5"));
        QCOMPARE(window.hexGrid()->rowCount(), 17);
        QVERIFY(TheVirtualAdapter().TrafficLog().empty());
    }

    void idText_data() {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0x15") << 0x15u << "0x15 or 21";
        QTest::newRow("0x10") << 0x10u << "0x10 or 16";
        QTest::newRow("zero") << 0u << "0x0 or 0";
        QTest::newRow("bit 31") << 0x80000000u << "0x80000000 or -2147483648";
        QTest::newRow("all ones") << 0xFFFFFFFFu << "0xFFFFFFFF or -1";
    }
    void idText() {
        QFETCH(quint32, value);
        QFETCH(QString, text);
        QCOMPARE(IdText(value), text);
    }

    void serialText() {
        SerialBuffer buffer{};
        const char digits[] = "1A2B3C4D9";
        for (int k = 0; k < 8; ++k) buffer[2 * k] = static_cast<std::uint8_t>(digits[k]);
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4D"));  // ends at the zero character
        buffer[16] = '9';
        buffer[18] = 'X';  // belongs to no character
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4D9"));
        buffer[1] = 0x01;  // the high byte counts: U+0131
        QCOMPARE(SerialText(buffer).at(0), QChar(0x0131));
        QCOMPARE(SerialText(SerialBuffer{}), QString());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
