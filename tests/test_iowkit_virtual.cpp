// The adapter contract on the virtual backend, and what the emulated adapter adds of its own.
#include <QtTest>
#include <numeric>

#include "iow/virtual/virtual_backend.h"
#include "iowkit_contract.h"

using namespace quillon::iow;

namespace {
// The virtual adapter behind the IowKit functions of this executable.
class VirtualRig : public AdapterRig {
  public:
    VirtualAdapter& Model() override { return TheVirtualAdapter(); }
    void Fresh() override { TheVirtualAdapter().Reset(); }
};
}  // namespace

class TestVirtualAdapter : public QObject {
    Q_OBJECT

  private slots:
    void sampleEdidHasGoodBlocksAndOneExtension() {
        const auto& sample = SampleEdid();
        QCOMPARE(std::accumulate(sample.begin(), sample.begin() + 128, 0) % 256, 0);
        QCOMPARE(std::accumulate(sample.begin() + 128, sample.end(), 0) % 256, 0);
        QCOMPARE(Bytes(sample.begin(), sample.begin() + 2), (Bytes{0x00, 0xFF}));
        QCOMPARE(sample[126], 1);
    }

    void pageWriteWrapsWithinItsPage() {
        Eeprom24C02 eeprom;
        eeprom.Start(false);
        for (std::uint8_t v : {6, 1, 2, 3}) eeprom.Write(v);  // the pointer, then three bytes
        QCOMPARE(Bytes(eeprom.Memory().begin(), eeprom.Memory().begin() + 9),
                 (Bytes{3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF}));
        const auto now = Clock::now();
        eeprom.Stop(now);
        QVERIFY(!eeprom.Acknowledges(0xA0, now));
        QVERIFY(eeprom.Acknowledges(0xA1, now + Eeprom24C02::kDefaultWriteCycle));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    VirtualRig rig;
    IowKitContract contract(rig);
    TestVirtualAdapter own;
    return QTest::qExec(&contract, argc, argv) + QTest::qExec(&own, argc, argv);
}

#include "test_iowkit_virtual.moc"
