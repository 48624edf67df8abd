// The adapter contract on the Linux backend over a fake iowarrior driver, for an IO-Warrior 24
// (8-byte I2C reports, writes as control requests) and an IO-Warrior 56 (64-byte reports,
// writes on an interrupt-out endpoint); then the backend's own cases and its wire protocol.
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
        for (const std::string& v : std::exchange(driver.violations, {})) lines += v + "\n";
        return lines;
    }
    FakeIowarriorDriver driver;

  private:
    std::uint32_t product_, reportSize_;
};

// Nodes as GETINFO describes them, "minor:product:serial:interface[:USB device]" each, paired.
QString Pairs(const QStringList& nodes) {
    std::vector<DeviceNode> described;
    for (const QString& text : nodes) {
        const QStringList f = text.split(':');
        DeviceNode& node = described.emplace_back(
            DeviceNode{"/dev/usb/iowarrior" + f[0].toStdString(), {}, f.value(4).toStdString()});
        node.info.product = f[1].toUInt(nullptr, 16);
        std::strncpy(reinterpret_cast<char*>(node.info.serial), f[2].toLatin1().constData(), 8);
        node.info.if_num = f[3].toUInt();
    }
    QStringList pairs;
    for (const auto& a : PairNodes(described))
        pairs << QString::fromStdString(a.pipe0.path.substr(18) + "+" + a.pipe1.path.substr(18));
    return pairs.join(' ');
}

}  // namespace

class TestLinuxBackend : public QObject {
    Q_OBJECT

  private slots:
    void wireProtocol() {
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__)
        QCOMPARE(kIowGetInfoRequest, 0x8028C003UL);
#endif
        std::vector<std::string> paths{"/dev/usb/iowarrior10", "/dev/usb/iowarrior2",
                                       "/dev/usb/iowarrior1"};
        SortNodePaths(paths);
        QCOMPARE(paths.front() + paths.back(),
                 std::string("/dev/usb/iowarrior1/dev/usb/iowarrior10"));
        QCOMPARE(Pairs({"0:1501::0:usb/1-2", "1:1501::0:usb/1-1", "2:1501::1:usb/1-1",
                        "3:1501::1:usb/1-2"}),
                 "0+3 1+2");
        QCOMPARE(Pairs({"0:1501:AAAA0001:0", "1:1503:BBBB0002:1", "2:1501:AAAA0001:1",
                        "3:1503:BBBB0002:0", "4:1501:CCCC0003:0"}),
                 "0+2 3+1");                              // no sysfs: by product and serial
        QCOMPARE(Pairs({"0:1501::0", "1:1501::1"}), "");  // nor serial: none
        const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t> sizes[] = {
            {kProductIow56, 0, 64, 7},
            {kProductIow28, 0, 64, 4},
            {kProductIow100, 0, 64, 12},
            {kProductIow24, 0, 4, 4},
            {kProductIow56, 1, 64, 64}};
        for (const auto& [product, ifNum, endpoint, size] : sizes)
            QCOMPARE(DriverReportSize(product, ifNum, endpoint), size);
        const std::uint8_t report[8] = {2, 0xC1, 0xA0};
        const auto padded = PadReport(report, 8, 64);
        QVERIFY(padded.size() == 64 && std::equal(report, report + 8, padded.begin()) &&
                std::count(padded.begin(), padded.end(), 0) == 64 - 3);
        QVERIFY(PadReport(report, 8, 4).empty());
        QVERIFY(ParseSysfsHex("1501\n") == 0x1501u && !ParseSysfsHex("") && !ParseSysfsHex("15x1"));
    }

    // A 32-bit program on a 64-bit kernel gets ENOTTY for GETINFO: sysfs tells the same. Polls
    // interrupted by a signal go on with the time left. Nodes that another program holds are
    // skipped, and their partners let go.
    void ownCases() {
        LinuxRig rig(kProductIow56, 64);
        rig.Fresh();
        rig.driver.getInfoNotSupported = true;
        rig.driver.nodes[1].open = true;  // another program holds the I2C node
        QCOMPARE(IowKitOpenDevice(), 0u);
        QVERIFY(!rig.driver.nodes[0].open);
        rig.driver.nodes[1].open = false;
        const IowKitHandle handle = IowKitOpenDevice();
        QCOMPARE(IowKitGetProductId(handle) + IowKitGetRevision(handle),
                 kProductIow56 + VirtualAdapter::kRevision);
        IowKitSetTimeout(handle, 200);
        IicEnable(handle, 1);
        rig.Model().SetLatency(std::chrono::milliseconds(1));
        for (int offset = 0; offset < 16; ++offset) {
            rig.driver.interruptedPolls = 2;
            const IicByte byte = IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
            QVERIFY(byte.ok && byte.value == SampleEdid()[offset]);
        }
        QCOMPARE(rig.driver.nodes[1].writes.back().size(), 64u);  // the report size from sysfs
        QCOMPARE(rig.driver.nodes[0].info.report_size, 7u);
        IowKitCloseDevice(handle);
        QVERIFY(!rig.driver.nodes[0].open && !rig.driver.nodes[1].open);
        QCOMPARE(rig.Violations(), std::string());
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
    return failures + QTest::qExec(&own, argc, argv);
}

#include "test_iowkit_linux.moc"
