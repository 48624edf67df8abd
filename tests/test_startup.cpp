// Start-up with the virtual adapter: what is sent, what the adapter fields show, the I2C
// buttons and the focus; and the texts made of the adapter's numbers.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window/adapter_info_text.h"
#include "window/form1.h"

using namespace quillon;
using quillon::iow::TheVirtualAdapter;

class TestStartup : public QObject {
    Q_OBJECT

  private slots:
    void withAdapter() {
        TheVirtualAdapter().Reset();
        Form1 window;
        QStringList fields;
        for (const char* name : {"ProdID", "Revision", "SerialNumber", "NDev"})
            fields << window.findChild<QLineEdit*>(name)->text();
        QCOMPARE(fields, (QStringList{"0x1501 or 5377", "0x1021 or 4129", "0000A5E1", "1"}));
        QVERIFY(window.findChild<QLineEdit*>("DHandle")->text().toLongLong() != 0);
        QVERIFY(window.findChild<QWidget*>("IICReadButton")->isEnabled());
        QVERIFY(window.findChild<QWidget*>("IICWriteButton")->isEnabled());
        QCOMPARE(window.iowHandle(), 0u);
        // Only the enable report went out, with no reply read; the adapter was closed again.
        QCOMPARE(TheVirtualAdapter().TrafficLog().size(), 1u);
        QCOMPARE(TheVirtualAdapter().TrafficLog()[0].bytes,
                 (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 0, 0}));
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IowKitCloseDevice(handle);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE(QApplication::focusWidget(), window.findChild<QWidget*>("IICWriteButton"));
    }

    void adapterTexts() {
        const std::pair<quint32, const char*> ids[] = {{0x15, "0x15 or 21"},
                                                       {0, "0x0 or 0"},
                                                       {0x80000000u, "0x80000000 or -2147483648"},
                                                       {0xFFFFFFFFu, "0xFFFFFFFF or -1"}};
        for (const auto& [value, text] : ids) QCOMPARE(IdText(value), QString::fromLatin1(text));
        SerialBuffer buffer{};
        for (int k = 0; k < 9; ++k) buffer[2 * k] = static_cast<std::uint8_t>("1A2B3C4D9"[k]);
        buffer[16] = 0;
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4D"));  // ends at the zero character
        buffer[16] = '9';
        buffer[18] = 'X';  // belongs to no character
        QCOMPARE(SerialText(buffer), QStringLiteral("1A2B3C4D9"));
        buffer[1] = 0x01;  // the high byte counts: U+0131
        QCOMPARE(SerialText(buffer).at(0), QChar(0x0131));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
