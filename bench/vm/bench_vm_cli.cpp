// Runs in the test VM (scripts/run-vm-tests.sh BUILD bench): times the real quillon-cli process
// (at $QUILLON_CLI) reading and writing (with its read-back) 256 bytes through the kernel's
// iowarrior driver on the emulated IO-Warrior 24 and 56, each kept at its interrupt endpoint's
// pace, against the floor of that pace (transfer_floor.h). Also times a process that starts
// and ends without an adapter (--version), the part of each figure that is not the wire; and
// three paced IO-Warrior 24s written at once by one process against one. A benchmark: it judges
// nothing.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "transfer_floor.h"
#include "vm_rig.h"

namespace {

constexpr int kRuns = 5;

double RunMs(const QStringList& arguments) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(qEnvironmentVariable("QUILLON_CLI"), arguments);
    process.waitForFinished(120000);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (process.exitCode() != 0)
        std::printf("status %d: %s\n", process.exitCode(), process.readAllStandardError().data());
    return ms;
}

double Median(const std::function<double()>& run) {
    std::vector<double> times;
    for (int k = 0; k < kRuns; ++k) times.push_back(run());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace quillon::bench;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString image = dir.filePath("image.bin");
    std::printf("| quillon-cli through the kernel's driver, paced | time | floor | ratio |\n");
    std::printf("|---|---|---|---|\n");
    for (std::uint32_t product : quillon::iow::kVmProducts) {
        quillon::iow::VmRig rig(product);
        if (!rig.Ready()) return std::printf("the emulated adapter did not come up\n"), 1;
        const bool iow56 = product == quillon::iow::VirtualAdapter::kProductIow56;
        const double intervalMs = iow56 ? 1 : 8;
        const int payload = iow56 ? 62 : 6;
        rig.Model().SetPaced(true);
        RunMs({"read", image});  // the image that write writes
        const char* name = iow56 ? "IO-Warrior 56" : "IO-Warrior 24";
        const double read = Median([&] { return RunMs({"read", image}); });
        const double write = Median([&] { return RunMs({"write", "--yes", image}); });
        const double start = Median([&] { return RunMs({"--version"}); });
        std::printf("| %s, read | %.0f ms | %.0f ms | %.3f |\n", name, read,
                    ReadFloorMs(payload, intervalMs), read / ReadFloorMs(payload, intervalMs));
        std::printf("| %s, write with read-back | %.0f ms | %.0f ms | %.3f |\n", name, write,
                    WriteFloorMs(payload, intervalMs), write / WriteFloorMs(payload, intervalMs));
        std::printf("| %s, process start and end alone (--version) | %.0f ms | | |\n", name, start);
        for (const bool segments : {false, true}) {  // 512 bytes of a 24C16 and of an E-DDC memory
            const QString memory = segments ? "e-ddc" : "24c16", big = dir.filePath("512.bin");
            rig.Fresh();
            rig.Model().UseLargerMemory(segments ? 1024 : 2048,
                                        segments ? quillon::iow::VirtualAdapter::Segments::FallBack
                                                 : quillon::iow::VirtualAdapter::Segments::None);
            rig.Model().SetPaced(true);
            const Layout layout{512, 16, segments};
            const double r = Median([&] {
                return RunMs({"read", "--memory", memory, "--bytes", "512", big});
            });
            const double w = Median([&] {
                return RunMs({"write", "--yes", "--as-is", "--memory", memory, big});
            });
            std::printf("| %s, 512 bytes of %s, read | %.0f ms | %.0f ms | %.3f |\n", name,
                        qPrintable(memory), r, ReadFloorMs(payload, intervalMs, layout),
                        r / ReadFloorMs(payload, intervalMs, layout));
            std::printf("| %s, 512 bytes of %s, write with read-back | %.0f ms | %.0f ms | %.3f |\n",
                        name, qPrintable(memory), w, WriteFloorMs(payload, intervalMs, layout),
                        w / WriteFloorMs(payload, intervalMs, layout));
        }
    }
    quillon::iow::VmRig first(0x1501, 0), second(0x1501, 1), third(0x1501, 2);
    for (quillon::iow::VmRig* rig : {&first, &second, &third}) {
        if (!rig->Ready()) return std::printf("the emulated adapters did not come up\n"), 1;
        rig->Model().SetPaced(true);
    }
    const double one = Median([&] {
        return RunMs({"--adapter", "0000A5E1", "write", "--yes", image});
    });
    const double three = Median([&] { return RunMs({"--all", "write", "--yes", image}); });
    std::printf("| three IO-Warrior 24s written at once / one | %.0f ms / %.0f ms | | %.3f |\n",
                three, one, three / one);
    return 0;
}
