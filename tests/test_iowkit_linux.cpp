// The adapter contract on the Linux backend over a fake iowarrior driver, for an IO-Warrior 24
// (8-byte I2C reports, writes as control requests) and an IO-Warrior 56 (64-byte reports,
// writes on an interrupt-out endpoint); then the backend's wire protocol on its own.
#include <QtTest>

#include "fake_iowarrior_driver.h"
#include "iow/linux/iow_linux_protocol.h"
#include "iowkit_contract.h"

using namespace quillon::iow;
using namespace quillon;

namespace {

class LinuxRig : public AdapterRig {
  public:
    LinuxRig(std::uint32_t product, std::uint32_t reportSize)
        : product_(product), reportSize_(reportSize) {
        UseLinuxSyscalls(&driver);
    }
    ~LinuxRig() override { UseLinuxSyscalls(nullptr); }
    VirtualAdapter& Model() override { return driver.model; }
    void Fresh() override {
        driver.model.Reset();
        driver.nodes.clear();
        driver.violations.clear();
        driver.AddModelAdapter(product_, reportSize_);
    }
    std::uint32_t ProductId() const override { return product_; }
    std::string Violations() override {
        std::string lines;
        for (const std::string& v : driver.violations) lines += v + "\n";
        driver.violations.clear();
        return lines;
    }
    FakeIowarriorDriver driver;

  private:
    std::uint32_t product_;
    std::uint32_t reportSize_;
};

// A node as the backend sees it after GETINFO.
DeviceNode Node(int minor, std::uint32_t product, const char* serial, std::uint32_t ifNum,
                const char* usbDevice = "") {
    DeviceNode node{"/dev/usb/iowarrior" + std::to_string(minor), {}, usbDevice};
    node.info.product = product;
    std::strncpy(reinterpret_cast<char*>(node.info.serial), serial, 8);
    node.info.if_num = ifNum;
    node.info.report_size = 8;
    return node;
}

std::vector<std::string> Pairs(const std::vector<AdapterNodes>& adapters) {
    std::vector<std::string> pairs;
    for (const auto& a : adapters)
        pairs.push_back(a.pipe0.path.substr(18) + "+" + a.pipe1.path.substr(18));
    return pairs;
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<quillon::iow::DeviceNode>)
Q_DECLARE_METATYPE(std::vector<std::string>)

class TestLinuxBackend : public QObject {
    Q_OBJECT

  private slots:
    void getInfoRequestNumber() {
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__)
        QCOMPARE(kIowGetInfoRequest, 0x8028C003UL);
#endif
        QCOMPARE(_IOC_SIZE(kIowGetInfoRequest), sizeof(IowarriorInfo));
    }

    void nodesSortByTheirNumber() {
        std::vector<std::string> paths{"/dev/usb/iowarrior10", "/dev/usb/iowarrior2",
                                       "/dev/usb/iowarrior1"};
        SortNodePaths(paths);
        QCOMPARE(paths, (std::vector<std::string>{"/dev/usb/iowarrior1", "/dev/usb/iowarrior2",
                                                  "/dev/usb/iowarrior10"}));
    }

    void pairing_data() {
        QTest::addColumn<std::vector<DeviceNode>>("nodes");
        QTest::addColumn<std::vector<std::string>>("pairs");
        QTest::addRow("by USB device, not by node number")
            << std::vector<DeviceNode>{Node(0, 0x1501, "", 0, "usb/1-2"),
                                       Node(1, 0x1501, "", 0, "usb/1-1"),
                                       Node(2, 0x1501, "", 1, "usb/1-1"),
                                       Node(3, 0x1501, "", 1, "usb/1-2")}
            << std::vector<std::string>{"0+3", "1+2"};
        QTest::addRow("without sysfs, by product and serial")
            << std::vector<DeviceNode>{Node(0, 0x1501, "AAAA0001", 0),
                                       Node(1, 0x1503, "BBBB0002", 1),
                                       Node(2, 0x1501, "AAAA0001", 1),
                                       Node(3, 0x1503, "BBBB0002", 0),
                                       Node(4, 0x1501, "CCCC0003", 0)}
            << std::vector<std::string>{"0+2", "3+1"};
        QTest::addRow("without sysfs or serial, none")
            << std::vector<DeviceNode>{Node(0, 0x1501, "", 0), Node(1, 0x1501, "", 1)}
            << std::vector<std::string>{};
    }
    void pairing() {
        QFETCH(std::vector<DeviceNode>, nodes);
        QFETCH(std::vector<std::string>, pairs);
        QCOMPARE(Pairs(PairNodes(nodes)), pairs);
    }

    void reportSizesFollowTheDriver() {
        QCOMPARE(DriverReportSize(kProductIow56, 0, 64), 7u);
        QCOMPARE(DriverReportSize(kProductIow28, 0, 64), 4u);
        QCOMPARE(DriverReportSize(kProductIow100, 0, 64), 12u);
        QCOMPARE(DriverReportSize(kProductIow24, 0, 4), 4u);
        QCOMPARE(DriverReportSize(kProductIow56, 1, 64), 64u);
        const std::uint8_t report[8] = {2, 0xC1, 0xA0, 0, 0, 0, 0, 0};
        const auto padded = PadReport(report, 8, 64);
        QCOMPARE(padded.size(), 64u);
        QCOMPARE(padded[2], 0xA0);
        QCOMPARE(padded[63], 0);
        QVERIFY(PadReport(report, 8, 4).empty());
    }

    // A 32-bit program on a 64-bit kernel: GETINFO answers ENOTTY, sysfs tells the same.
    void withoutGetInfoTheFactsComeFromSysfs() {
        LinuxRig rig(kProductIow56, 64);
        rig.Fresh();
        rig.driver.getInfoNotSupported = true;
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        QCOMPARE(IowKitGetProductId(handle), kProductIow56);
        QCOMPARE(IowKitGetRevision(handle), VirtualAdapter::kRevision);
        std::uint8_t serial[kIowSerialBufferBytes] = {};
        IowKitGetSerialNumber(handle, serial);
        QCOMPARE(serial[0], '0');
        QCOMPARE(serial[14], '1');
        IowKitSetTimeout(handle, 200);
        IicEnable(handle, 1);
        const IicByte byte = IicReadEepromByte(handle, 8);
        QVERIFY(byte.ok);
        QCOMPARE(byte.value, SampleEdid()[8]);
        QCOMPARE(rig.driver.nodes[1].writes.back().size(), 64u);  // the report size from sysfs
        QCOMPARE(rig.driver.nodes[0].info.report_size, 7u);
        IowKitCloseDevice(handle);
        QVERIFY(ParseSysfsHex("1501\n") == 0x1501u);
        QVERIFY(!ParseSysfsHex("").has_value() && !ParseSysfsHex("15x1").has_value());
    }

    // poll(2) interrupted by a signal goes on with the time left: no byte fails for it.
    void interruptedPollsCostNoByte() {
        LinuxRig rig(kProductIow24, 8);
        rig.Fresh();
        const IowKitHandle handle = IowKitOpenDevice();
        IowKitSetTimeout(handle, 200);
        IicEnable(handle, 1);
        rig.Model().SetLatency(std::chrono::milliseconds(1));
        for (int offset = 0; offset < 32; ++offset) {
            rig.driver.interruptedPolls = 2;
            const IicByte byte = IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
            QVERIFY(byte.ok);
            QCOMPARE(byte.value, SampleEdid()[offset]);
        }
        IowKitCloseDevice(handle);
        QCOMPARE(rig.Violations(), std::string());
    }

    void busyNodesAreSkipped() {
        LinuxRig rig(kProductIow24, 8);
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
    for (auto [product, reportSize] :
         {std::pair{kProductIow24, 8u}, std::pair{kProductIow56, 64u}}) {
        LinuxRig rig(product, reportSize);
        IowKitContract contract(rig);
        failures += QTest::qExec(&contract, argc, argv);
    }
    TestLinuxBackend own;
    failures += QTest::qExec(&own, argc, argv);
    return failures;
}

#include "test_iowkit_linux.moc"
