// The adapter contract against the kernel's own iowarrior driver: run inside the test VM
// (scripts/run-vm-tests.sh), the Linux backend's real system calls on an IO-Warrior 24 and an
// IO-Warrior 56 that the guest kernel sees through dummy_hcd and FunctionFS. Then what only the
// Linux backend meets: GETINFO refused, polls interrupted by signals, a node held elsewhere.
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <QtTest>
#include <csignal>

#include "iow/linux/linux_syscalls.h"
#include "iowkit_contract.h"
#include "vm_rig.h"

using namespace quillon::iow;
using namespace quillon;

namespace {

// The real system calls, but GETINFO refused as a 32-bit program on a 64-bit kernel sees it,
// and the polls that a signal interrupted counted.
class RefusedGetInfo : public LinuxSyscalls {
  public:
    LinuxSyscalls& real = RealLinuxSyscalls();
    int interruptedPolls = 0;
    std::vector<std::string> ListDeviceNodes() override { return real.ListDeviceNodes(); }
    int Open(const std::string& path, int flags) override { return real.Open(path, flags); }
    void Close(int fd) override { real.Close(fd); }
    int GetInfo(int, IowarriorInfo&) override { return -ENOTTY; }
    long Write(int fd, const std::uint8_t* b, std::size_t n) override {
        return real.Write(fd, b, n);
    }
    long Read(int fd, std::uint8_t* b, std::size_t n) override { return real.Read(fd, b, n); }
    int Poll(int fd, short events, int timeoutMs) override {
        const int result = real.Poll(fd, events, timeoutMs);
        interruptedPolls += result == -EINTR;
        return result;
    }
    std::string ReadTextFile(const std::string& path) override { return real.ReadTextFile(path); }
    std::string CanonicalPath(const std::string& path) override { return real.CanonicalPath(path); }
};

// The node of interface `number`, as the driver's sysfs tells it.
std::string NodeOfInterface(int number) {
    for (const std::string& node : RealLinuxSyscalls().ListDeviceNodes()) {
        const std::string name = node.substr(node.rfind('/') + 1);
        const std::string text = RealLinuxSyscalls().ReadTextFile("/sys/class/usbmisc/" + name +
                                                                  "/device/bInterfaceNumber");
        if (!text.empty() && std::stoi(text) == number) return node;
    }
    return {};
}

}  // namespace

class LinuxBackendOnTheDriver : public QObject {
    Q_OBJECT

  public:
    explicit LinuxBackendOnTheDriver(VmRig& rig) : rig_(rig) {}

  private:
    VmRig& rig_;

  private slots:
    void init() { rig_.Fresh(); }

    void aNodeHeldElsewhereIsSkippedAndItsPartnerLetGo() {
        const int held = open(NodeOfInterface(1).c_str(), O_RDWR | O_NONBLOCK);
        QVERIFY(held >= 0);
        const IowKitHandle handle = IowKitOpenDevice();
        const int partner = open(NodeOfInterface(0).c_str(), O_RDWR | O_NONBLOCK);
        close(held);
        if (partner >= 0) close(partner);
        QCOMPARE(handle, 0u);
        QVERIFY(partner >= 0);
    }

    void withoutGetInfoAndUnderSignalsTheBytesStillCome() {
        RefusedGetInfo sys;
        UseLinuxSyscalls(&sys);
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigaction(SIGALRM, &action, nullptr);  // no SA_RESTART: a poll fails with EINTR
        const IowKitHandle handle = IowKitOpenDevice();
        QCOMPARE(IowKitGetProductId(handle), rig_.ProductId());
        QCOMPARE(IowKitGetRevision(handle), VirtualAdapter::kRevision);
        IowKitSetTimeout(handle, 200);
        IicEnable(handle, 1);
        rig_.Model().SetLatency(std::chrono::milliseconds(3));
        itimerval every{{0, 700}, {0, 700}}, off{};
        setitimer(ITIMER_REAL, &every, nullptr);
        QList<int> wrong;
        for (int offset = 0; offset < 16; ++offset) {
            const IicByte byte = IicReadEepromByte(handle, std::uint8_t(offset));
            if (!byte.ok || byte.value != SampleEdid()[offset]) wrong << offset;
        }
        setitimer(ITIMER_REAL, &off, nullptr);
        IowKitCloseDevice(handle);
        UseLinuxSyscalls(nullptr);
        QCOMPARE(wrong, QList<int>());
        QVERIFY(sys.interruptedPolls > 0);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return OnEveryVmAdapter([&](VmRig& rig) {
        IowKitContract contract(rig);
        LinuxBackendOnTheDriver own(rig);
        return QTest::qExec(&contract, argc, argv) + QTest::qExec(&own, argc, argv);
    });
}

#include "test_vm_driver.moc"
