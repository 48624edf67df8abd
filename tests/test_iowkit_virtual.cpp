// The adapter contract on the virtual backend, and the emulated memory's own behaviour.
#include <QtTest>

#include "iow/virtual/virtual_backend.h"
#include "iowkit_contract.h"

using namespace quillon::iow;
using namespace quillon;

namespace {
class VirtualRig : public AdapterRig {
  public:
    VirtualAdapter& Model() override { return TheVirtualAdapter(); }
    void Fresh() override { TheVirtualAdapter().Reset(); }
};
}  // namespace

class TestVirtualAdapter : public QObject {
    Q_OBJECT

  private slots:
    void sampleEdidIsValid() {
        const auto& sample = SampleEdid();
        int block1 = 0, block2 = 0;
        for (int k = 0; k < 128; ++k) block1 += sample[k];
        for (int k = 128; k < 256; ++k) block2 += sample[k];
        QCOMPARE(block1 % 256, 0);
        QCOMPARE(block2 % 256, 0);
        QCOMPARE(sample[0], 0x00);
        QCOMPARE(sample[1], 0xFF);
        QCOMPARE(sample[126], 1);  // one extension block
    }

    void pageWriteWrapsWithinItsPage() {
        Eeprom24C02 eeprom;
        eeprom.Start(false);
        eeprom.Write(0x06);  // pointer
        for (std::uint8_t v : {1, 2, 3}) eeprom.Write(v);
        QCOMPARE(eeprom.Memory()[6], 1);
        QCOMPARE(eeprom.Memory()[7], 2);
        QCOMPARE(eeprom.Memory()[0], 3);  // wrapped to the page's start, not to offset 8
        QCOMPARE(eeprom.Memory()[8], 0xFF);
        const auto now = Clock::now();
        eeprom.Stop(now);
        QVERIFY(!eeprom.Acknowledges(0xA0, now));
        QVERIFY(eeprom.Acknowledges(0xA1, now + Eeprom24C02::kDefaultWriteCycle));
    }

    void moreDevicesOnTheBus() {
        VirtualAdapter adapter;
        adapter.AddDevice(std::make_unique<PlainI2cDevice>(0x00));
        std::optional<VirtualAdapter::Reply> reply;
        const auto enable = Report({1, 1});
        QVERIFY(adapter.Receive(1, enable.data(), 8, Clock::now(), reply));
        QVERIFY(!reply);
        for (int address : {0x00, 0x01, 0xA0}) {
            const auto probe = Report({2, 0xC1, address});
            QVERIFY(adapter.Receive(1, probe.data(), 8, Clock::now(), reply));
            QVERIFY(reply);
            QCOMPARE(reply->bytes[1], 0x01);
        }
        const auto probe = Report({2, 0xC1, 0x50});
        adapter.Receive(1, probe.data(), 8, Clock::now(), reply);
        QCOMPARE(reply->bytes[1], 0x80);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    VirtualRig rig;
    IowKitContract contract(rig);
    TestVirtualAdapter own;
    int failures = QTest::qExec(&contract, argc, argv);
    failures += QTest::qExec(&own, argc, argv);
    return failures;
}

#include "test_iowkit_virtual.moc"
