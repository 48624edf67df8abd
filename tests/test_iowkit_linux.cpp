// The Linux backend's wire protocol: facts of the kernel's ABI and of the driver (the GETINFO
// request number, report sizes per product and interface), the order of the nodes and how
// they pair into adapters. The backend itself is proven against the real driver in the VM.
#include <QtTest>

#include "iow/linux/iow_linux_protocol.h"

using namespace quillon::iow;

namespace {

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
            {kProductIow56, 0, 64, 7}, {kProductIow24, 0, 4, 4}, {kProductIow56, 1, 64, 64}};
        for (const auto& [product, ifNum, endpoint, size] : sizes)
            QCOMPARE(DriverReportSize(product, ifNum, endpoint), size);
        const std::uint8_t report[8] = {2, 0xC1, 0xA0};
        const auto padded = PadReport(report, 8, 64);
        QVERIFY(padded.size() == 64 && std::equal(report, report + 8, padded.begin()) &&
                std::count(padded.begin(), padded.end(), 0) == 64 - 3);
        QVERIFY(PadReport(report, 8, 4).empty());
        QVERIFY(ParseSysfsHex("1501\n") == 0x1501u && !ParseSysfsHex("") && !ParseSysfsHex("15x1"));
    }
};

QTEST_APPLESS_MAIN(TestLinuxBackend)
#include "test_iowkit_linux.moc"
