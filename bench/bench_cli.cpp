// Times quillon-cli's read and write (with its read-back) of 256 bytes in-process on the virtual
// adapter kept at a real adapter's pace (one interrupt-in report per polling interval: 8 ms on an
// IO-Warrior 24, 1 ms on an IO-Warrior 56), against the floor that pace and the memory allow. A
// benchmark, not a test: it prints figures and judges nothing.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "cli/command_line.h"
#include "iow/virtual/virtual_backend.h"
#include "transfer_floor.h"

namespace {

using quillon::iow::VirtualAdapter;
using Clock = std::chrono::steady_clock;
using namespace quillon::bench;
constexpr int kRuns = 7;
double RunMs(const QStringList& arguments) {
    QByteArray out, err;
    QTextStream outStream(&out), errStream(&err);
    quillon::cli::Console console{outStream, errStream, false, false, nullptr};
    const auto start = Clock::now();
    const int status =
        quillon::cli::RunCommandLine(QStringList{"quillon-cli"} + arguments, console);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (status != 0) std::fprintf(stderr, "status %d: %s\n", status, err.constData());
    return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString image = dir.filePath("image.bin");
    std::printf("| quillon-cli, 256 bytes, paced virtual adapter | time | floor | ratio |\n");
    std::printf("|---|---|---|---|\n");
    for (const auto kind : {VirtualAdapter::Kind::Iow24, VirtualAdapter::Kind::Iow56}) {
        const bool iow56 = kind == VirtualAdapter::Kind::Iow56;
        const double intervalMs = iow56 ? 1 : 8;
        const int payload = iow56 ? 62 : 6;
        for (const bool write : {false, true}) {
            std::vector<double> times;
            for (int run = 0; run < kRuns; ++run) {
                quillon::iow::TheVirtualAdapter().Reset(kind);
                quillon::iow::TheVirtualAdapter().SetPaced(true);
                if (run == 0 && !write) RunMs({"read", image});  // the image that write uses
                times.push_back(write ? RunMs({"write", "--yes", image}) : RunMs({"read", image}));
            }
            std::sort(times.begin(), times.end());
            const double median = times[times.size() / 2];
            const double floor =
                write ? WriteFloorMs(payload, intervalMs) : ReadFloorMs(payload, intervalMs);
            std::printf("| %s, %s | %.0f ms | %.0f ms | %.3f |\n",
                        iow56 ? "IO-Warrior 56" : "IO-Warrior 24",
                        write ? "write with read-back" : "read", median, floor, median / floor);
        }
    }
    // Memories over 256 bytes: 512 of a 24C16 (block select) and of an E-DDC memory.
    const QString image512 = dir.filePath("image512.bin");
    for (const auto kind : {VirtualAdapter::Kind::Iow24, VirtualAdapter::Kind::Iow56}) {
        const bool iow56 = kind == VirtualAdapter::Kind::Iow56;
        for (const bool segments : {false, true}) {
            const QString memory = segments ? "e-ddc" : "24c16";
            const QStringList read{"read", "--memory", memory, "--bytes", "512", image512};
            const QStringList write{"write", "--yes", "--as-is", "--memory", memory, image512};
            std::vector<double> reads, writes;
            for (int run = 0; run < kRuns; ++run) {
                VirtualAdapter& adapter = quillon::iow::TheVirtualAdapter();
                adapter.Reset(kind);
                adapter.UseLargerMemory(segments ? 1024 : 2048,
                                        segments ? VirtualAdapter::Segments::FallBack
                                                 : VirtualAdapter::Segments::None);
                adapter.SetPaced(true);
                reads.push_back(RunMs(read));
                writes.push_back(RunMs(write));
            }
            std::sort(reads.begin(), reads.end());
            std::sort(writes.begin(), writes.end());
            const Layout layout{512, 16, segments};
            const double intervalMs = iow56 ? 1 : 8;
            const int payload = iow56 ? 62 : 6;
            for (const bool isWrite : {false, true}) {
                const double median = (isWrite ? writes : reads)[kRuns / 2];
                const double floor = isWrite ? WriteFloorMs(payload, intervalMs, layout)
                                             : ReadFloorMs(payload, intervalMs, layout);
                std::printf("| %s, 512 bytes of %s, %s | %.0f ms | %.0f ms | %.3f |\n",
                            iow56 ? "IO-Warrior 56" : "IO-Warrior 24", qPrintable(memory),
                            isWrite ? "write with read-back" : "read", median, floor,
                            median / floor);
            }
        }
    }
    // Three fixtures at once against one: the fixtures should not wait for each other.
    const auto adapters = quillon::iow::UseVirtualAdapters(3);
    std::vector<double> one, three;
    for (int run = 0; run < kRuns; ++run) {
        for (auto* adapter : adapters) adapter->Reset(), adapter->SetPaced(true);
        one.push_back(RunMs({"--adapter", "0000A5E1", "write", "--yes", image}));
        three.push_back(RunMs({"--all", "write", "--yes", image}));
    }
    std::sort(one.begin(), one.end());
    std::sort(three.begin(), three.end());
    std::printf(
        "| three paced IO-Warrior 24s written at once / one | %.0f ms / %.0f ms | | %.3f |\n",
        three[kRuns / 2], one[kRuns / 2], three[kRuns / 2] / one[kRuns / 2]);
    return 0;
}
