// Times the program on the virtual adapter with the real window: what the program itself
// costs per byte, how close a command comes to the bare link time, Open with its redraw,
// start-up and idle memory. A benchmark, not a test: it prints figures and judges nothing.
#include <QtWidgets>
#include <algorithm>
#include <chrono>
#include <thread>

#include "files/image_files.h"
#include "iic/iic.h"
#include "iow/virtual/virtual_backend.h"
#include "window/form1.h"

using namespace quillon;
using quillon::iow::TheVirtualAdapter;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 9;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Click(QWidget& window, const char* name) { window.findChild<QAbstractButton*>(name)->click(); }

// The wall time of one Read EDID of 256 bytes, from the click to the end of the command.
double TimeRead(Form1& window) {
    const auto start = Clock::now();
    Click(window, "IICReadButton");
    return Ms(Clock::now() - start);
}

// The wall time of one Write EDID of 256 bytes, from the confirmation to the end.
double TimeWrite(Form1& window) {
    Clock::time_point start{};
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answer.stop();
            start = Clock::now();
            box->button(QMessageBox::Yes)->click();
        }
    });
    answer.start();
    Click(window, "IICWriteButton");
    return Ms(Clock::now() - start);
}

// The same exchanges as the commands, in a plain loop without the window.
double TimeBareRead() {
    const auto start = Clock::now();
    const IowKitHandle handle = IowKitOpenDevice();
    for (int offset = 0; offset < 256; ++offset)
        IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
    IowKitCloseDevice(handle);
    return Ms(Clock::now() - start);
}

double TimeBareWrite() {
    const auto& sample = quillon::iow::SampleEdid();
    const auto start = Clock::now();
    const IowKitHandle handle = IowKitOpenDevice();
    for (int offset = 0; offset < 256; ++offset) {  // each byte written, then read back
        IicWriteEepromByte(handle, static_cast<std::uint8_t>(offset), sample[offset]);
        IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
    }
    IowKitCloseDevice(handle);
    return Ms(Clock::now() - start);
}

// Alternates command and bare runs so that both see the same machine.
std::pair<double, double> Ratio(std::function<double()> command, std::function<double()> bare) {
    std::vector<double> commands, bares;
    for (int run = 0; run < kRuns; ++run) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the last write cycle end
        commands.push_back(command());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bares.push_back(bare());
    }
    return {Median(commands), Median(bares)};
}

long PeakRssKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QString CpuModel() {
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name"))
                return QString::fromUtf8(line).section(u':', 1).trimmed();
        }
    }
    return QStringLiteral("unknown");
}

}  // namespace

int main(int argc, char* argv[]) {
    const auto processStart = Clock::now();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();

    if (args.contains(QStringLiteral("--startup"))) {
        // Start-up to the window shown, in a process of its own.
        Form1 window;
        window.show();
        while (!window.windowHandle() || !window.windowHandle()->isExposed())
            QCoreApplication::processEvents();
        std::printf("%.2f\n", Ms(Clock::now() - processStart));
        return 0;
    }

    auto& adapter = TheVirtualAdapter();
    Form1 window;
    window.show();
    while (!window.windowHandle()->isExposed()) QCoreApplication::processEvents();

    // 1. The program's own time per byte: no link latency.
    std::vector<double> reads;
    for (int run = 0; run < kRuns; ++run) reads.push_back(TimeRead(window));
    const double usPerByte = Median(reads) * 1000.0 / 256.0;
    if (args.contains(QStringLiteral("--read-only"))) {  // for a profiler
        std::printf("%.1f us per byte\n", usPerByte);
        return 0;
    }

    // 2. With 1 ms per exchange: command time over bare link time.
    adapter.SetLatency(std::chrono::milliseconds(1));
    const auto [readCommand, readBare] = Ratio([&] { return TimeRead(window); }, TimeBareRead);
    const auto [writeCommand, writeBare] = Ratio([&] { return TimeWrite(window); }, TimeBareWrite);
    adapter.SetLatency({});

    // 3. Open of a 256-byte file with its redraw.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("edid.bin"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char*>(quillon::iow::SampleEdid().data()), 256);
    }
    std::vector<double> opens;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        EdidImage image{};
        LoadImageFile(path.toStdString(), image);
        window.setEdidData(image);
        window.RefreshGrids();
        opens.push_back(Ms(Clock::now() - start));
    }

    // 4. Start-up to the window shown (fresh processes), and the idle program's peak memory.
    std::vector<double> startups;
    for (int run = 0; run < kRuns; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup")});
        child.waitForFinished(30000);
        startups.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    long rssKb = -1;
    {
        QProcess program;
        program.start(QStringLiteral(QUILLON_VIRTUAL_EXECUTABLE), {});
        if (program.waitForStarted(10000)) {
            QThread::msleep(2000);
            rssKb = PeakRssKb(program.processId());
            program.kill();
            program.waitForFinished(5000);
        }
    }

    std::printf("Machine: %s, %d cores, Qt %s, platform %s\n", qPrintable(CpuModel()),
                QThread::idealThreadCount(), qVersion(),
                qPrintable(QGuiApplication::platformName()));
    std::printf("| measure | figure |\n|---|---|\n");
    std::printf("| Read EDID 256 bytes, no link latency: program's own time per byte | %.1f us |\n",
                usPerByte);
    std::printf(
        "| Read EDID 256 bytes, 1 ms per exchange: command / bare link | %.0f ms / %.0f ms = %.3f "
        "|\n",
        readCommand, readBare, readCommand / readBare);
    std::printf(
        "| Write EDID 256 bytes, 1 ms per exchange: command / bare link | %.0f ms / %.0f ms = %.3f "
        "|\n",
        writeCommand, writeBare, writeCommand / writeBare);
    std::printf("| Open of a 256-byte file with its redraw | %.1f ms |\n", Median(opens));
    std::printf("| Start-up to the window shown | %.0f ms |\n", Median(startups));
    std::printf("| Peak resident memory of the idle program | %.1f MiB |\n", rssKb / 1024.0);
    return 0;
}
