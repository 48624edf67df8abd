// The adapter contract on the Linux backend over a fake iowarrior driver, for an adapter with
// 8-byte I2C reports (IO-Warrior 24) and one with 64-byte reports (IO-Warrior 56); then the
// backend's wire protocol on its own.
#include <QtTest>

#include "fake_iowarrior_driver.h"
#include "iow/linux/iow_linux_protocol.h"
#include "iowkit_contract.h"

using namespace quillon::iow;
using namespace quillon;

namespace {

class LinuxRig : public AdapterRig {
  public:
    explicit LinuxRig(std::uint32_t reportSize) : reportSize_(reportSize) {
        UseLinuxSyscalls(&driver);
    }
    ~LinuxRig() override { UseLinuxSyscalls(nullptr); }
    VirtualAdapter& Model() override { return driver.model; }
    void Fresh() override {
        driver.model.Reset();
        driver.nodes.clear();
        driver.AddModelAdapter(VirtualAdapter::kProductId, reportSize_);
    }
    FakeIowarriorDriver driver;

  private:
    std::uint32_t reportSize_;
};

DeviceNode Node(int minor, std::uint32_t product, const char* serial, std::uint32_t ifNum) {
    const auto n = FakeIowarriorDriver::MakeNode(minor, product, serial, ifNum, 8);
    return DeviceNode{n.path, n.info};
}

}  // namespace

class TestLinuxBackend : public QObject {
    Q_OBJECT

  private slots:
    void getInfoRequestNumber() { QCOMPARE(kIowGetInfoRequest, 0x8028C003UL); }

    void nodesSortByTheirNumber() {
        std::vector<std::string> paths{"/dev/usb/iowarrior10", "/dev/usb/iowarrior2",
                                       "/dev/usb/iowarrior1"};
        SortNodePaths(paths);
        QCOMPARE(paths, (std::vector<std::string>{"/dev/usb/iowarrior1", "/dev/usb/iowarrior2",
                                                  "/dev/usb/iowarrior10"}));
    }

    void pairingBySerialAndInterface() {
        const auto adapters =
            PairNodes({Node(0, 0x1501, "AAAA0001", 0), Node(1, 0x1503, "BBBB0002", 1),
                       Node(2, 0x1501, "AAAA0001", 1), Node(3, 0x1503, "BBBB0002", 0),
                       Node(4, 0x1501, "CCCC0003", 0)});  // partner missing
        QCOMPARE(adapters.size(), 2u);
        QCOMPARE(adapters[0].pipe0.path, std::string("/dev/usb/iowarrior0"));
        QCOMPARE(adapters[0].pipe1.path, std::string("/dev/usb/iowarrior2"));
        QCOMPARE(adapters[0].serial, std::string("AAAA0001"));
        QCOMPARE(adapters[1].pipe0.path, std::string("/dev/usb/iowarrior3"));
        QCOMPARE(adapters[1].pipe1.path, std::string("/dev/usb/iowarrior1"));
    }

    void chipsWithoutSerialPairInOrder() {
        const auto adapters = PairNodes({Node(0, 0x1501, "", 0), Node(1, 0x1501, "", 1),
                                         Node(2, 0x1501, "", 0), Node(3, 0x1501, "", 1)});
        QCOMPARE(adapters.size(), 2u);
        QCOMPARE(adapters[1].pipe0.path, std::string("/dev/usb/iowarrior2"));
        QCOMPARE(adapters[1].pipe1.path, std::string("/dev/usb/iowarrior3"));
    }

    void reportsArePaddedToTheNodeSize() {
        const std::uint8_t report[8] = {2, 0xC1, 0xA0, 0, 0, 0, 0, 0};
        const auto padded = PadReport(report, 8, 64);
        QCOMPARE(padded.size(), 64u);
        QCOMPARE(padded[2], 0xA0);
        QCOMPARE(padded[63], 0);
        QVERIFY(PadReport(report, 8, 4).empty());
    }

    void sixtyFourByteAdapterEndToEnd() {
        LinuxRig rig(64);
        rig.Fresh();
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IowKitSetTimeout(handle, 200);
        quillon::IicEnable(handle, 1);
        const quillon::IicByte byte = quillon::IicReadEepromByte(handle, 8);
        QVERIFY(byte.ok);
        QCOMPARE(byte.value, SampleEdid()[8]);
        const auto& writes = rig.driver.nodes[1].writes;  // interface 1
        QCOMPARE(writes.size(), 3u);
        for (const auto& w : writes) QCOMPARE(w.size(), 64u);
        QCOMPARE(Bytes(writes[1].begin(), writes[1].begin() + 8), Report({2, 0x82, 0xA0, 8}));
        // A reply is handed back as its first 8 bytes even when the buffer is larger.
        Bytes request = Report({3, 1, 0xA1});
        IowKitWrite(handle, 1, request.data(), 8);
        std::uint8_t big[64];
        std::memset(big, 0xEE, sizeof big);
        QCOMPARE(IowKitRead(handle, 1, big, 8), 8u);
        QCOMPARE(big[8], 0xEE);
        IowKitCloseDevice(handle);
    }

    void busyNodesAreSkipped() {
        LinuxRig rig(8);
        rig.Fresh();
        rig.driver.nodes[1].open = true;  // another program holds the I2C node
        QCOMPARE(IowKitOpenDevice(), 0u);
        QVERIFY(!rig.driver.nodes[0].open);  // the partner node was released again
        rig.driver.nodes[1].open = false;
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        IowKitCloseDevice(handle);
        QVERIFY(!rig.driver.nodes[0].open && !rig.driver.nodes[1].open);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (std::uint32_t reportSize : {8u, 64u}) {
        LinuxRig rig(reportSize);
        IowKitContract contract(rig);
        failures += QTest::qExec(&contract, argc, argv);
    }
    TestLinuxBackend own;
    failures += QTest::qExec(&own, argc, argv);
    return failures;
}

#include "test_iowkit_linux.moc"
