#include "cli/command_line.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/unit_stamps.h"
#include "image/edid_layout.h"

namespace quillon::cli {

namespace {

// The first SIGINT or SIGTERM asks the transfer to stop; the second ends the program.
std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) {
    if (stopRequested.exchange(true)) ::_exit(kExitInterrupted);
}

// Installs the stop handlers for its lifetime.
class StopSignals {
  public:
    StopSignals() {
        stopRequested = false;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (int k = 0; k < 2; ++k) sigaction(kSignals[k], &action, &saved_[k]);
    }
    ~StopSignals() {
        for (int k = 0; k < 2; ++k) sigaction(kSignals[k], &saved_[k], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr int kSignals[2] = {SIGINT, SIGTERM};
    struct sigaction saved_[2]{};
};

// Progress on `err`, drawn only on a terminal: for one adapter a bar (the pass, a bar and the
// byte number); for several a line each, redrawn in place as any of them moves on.
class Progress {
  public:
    Progress(Console& console, const QStringList& serials, bool several)
        : console_(console), lines_(serials.size()), serials_(serials), several_(several) {}
    TransferProgress For(int index) {
        if (!console_.errIsTerminal) return nullptr;
        if (!several_)
            return [this](const char* pass, int done, int total) { Bar(pass, done, total); };
        return [this, index](const char* pass, int done, int total) {
            const std::lock_guard lock(mutex_);
            lines_[index] =
                QString("%1 %2 %3/%4").arg(serials_[index], QString(pass)).arg(done).arg(total);
            if (drawn_) console_.err << QString("\x1b[%1A").arg(lines_.size());
            for (const QString& line : lines_) console_.err << '\r' << line << "\x1b[K\n";
            console_.err << Qt::flush;
            drawn_ = true;
        };
    }

  private:
    void Bar(const char* pass, int done, int total) {
        constexpr int kBarCells = 32;
        const int filled = done * kBarCells / total;
        console_.err << '\r' << QString(pass).leftJustified(9) << " [" << QString(filled, u'#')
                     << QString(kBarCells - filled, u'.') << "] " << done << '/' << total;
        if (done == total) console_.err << '\n';
        console_.err << Qt::flush;
    }

    Console& console_;
    std::mutex mutex_;
    QStringList lines_;
    QStringList serials_;
    bool several_;
    bool drawn_ = false;
};

bool AskBeforeWriting(const Request& request, const QStringList& serials, Console& console) {
    if (request.yes) return true;
    console.err << QString("Overwrite %1 bytes of the memory on adapter %2 with %3? [y/N] ")
                       .arg(request.byteCount)
                       .arg(serials.join(", "), request.file)
                << Qt::flush;
    const std::optional<QString> answer = console.readLine ? console.readLine() : std::nullopt;
    const QString word = answer.value_or(QString()).trimmed().toLower();
    return word == "y" || word == "yes";
}

// The outcome on the console; `adapter`, when given, starts each line and the message in words.
void Print(const CommandResult& outcome, const Request& request, Console& console,
           const QString& adapter = QString()) {
    const QString prefix = adapter.isEmpty() ? QString() : adapter + ": ";
    if (request.json) {
        console.out << QJsonDocument(Json(outcome, request)).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (const QString& line : Words(outcome)) console.out << prefix << line << '\n';
    }
    console.out << Qt::flush;
    if (!outcome.message.isEmpty()) console.err << prefix << outcome.message << '\n' << Qt::flush;
}

// How bad a status is when several adapters ran: the run ends with the worst.
int Severity(int status) {
    constexpr int kWorstFirst[] = {kExitFileError, kExitUsage,    kExitInterrupted,
                                   kExitNoAdapter, kExitNoAnswer, kExitBytesDiffer,
                                   kExitDone};
    return int(std::end(kWorstFirst) - std::ranges::find(kWorstFirst, status));
}

// A command on the adapters it is given (one when none is named), one thread each; or on none.
// Every adapter's outcome is recorded and printed the same way, a write declined included.
// Returns the worst status.
int Run(Request request, Console& console) {
    const CommandEntry& entry = *request.entry;
    if (RunsAlone(request)) {
        const CommandResult alone = entry.alone(request);
        Print(alone, request, console);
        return alone.status;
    }
    EdidBytes fileImage;
    UnitLog log;
    if (auto failed = Prepare(request, console.inIsTerminal, fileImage, log)) {
        Print(*failed, request, console);
        return failed->status;
    }
    if (entry.file == FileUse::ReadOptional &&
        (!request.file.isEmpty() || !request.fromDisplay.isEmpty())) {
        CommandResult shown;
        Show(request, fileImage, shown);
        Print(shown, request, console);
        return shown.status;
    }
    const QStringList serials = ChosenSerials(request);
    const bool several = request.all || serials.size() > 1;
    std::vector<std::variant<Adapter, CommandResult>> fixtures;
    QStringList opened;
    for (const QString& serial : serials) {
        fixtures.push_back(OpenChosen(request, serial));
        if (auto* adapter = std::get_if<Adapter>(&fixtures.back())) opened << adapter->serial;
    }
    if (entry.writes && !opened.isEmpty() && !AskBeforeWriting(request, opened, console)) {
        for (auto& fixture : fixtures)
            if (auto* adapter = std::get_if<Adapter>(&fixture)) {
                if (adapter->handle != 0) IowKitCloseDevice(adapter->handle);
                fixture = Fail(kExitUsage, "Not confirmed; nothing written.");
            }
    }
    {
        const StopSignals stopSignals;
        Progress progress(console, serials, several);
        const auto runOn = [&](std::size_t k, const Adapter& adapter) {
            const TransferProgress bar = progress.For(int(k));
            fixtures[k] = RunOnAdapter(request, adapter, fileImage, bar, &stopRequested);
        };
        // One adapter runs on this thread, which a signal to the process then interrupts at
        // once; several run on one thread each.
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < fixtures.size(); ++k)
            if (auto* adapter = std::get_if<Adapter>(&fixtures[k])) {
                if (opened.size() == 1)
                    runOn(k, *adapter);
                else
                    threads.emplace_back(runOn, k, *adapter);
            }
        for (std::thread& thread : threads) thread.join();
    }
    int worst = kExitDone;
    for (std::size_t k = 0; k < fixtures.size(); ++k) {
        CommandResult& outcome = std::get<CommandResult>(fixtures[k]);
        if (!outcome.adapterSerial && !serials[int(k)].isEmpty())
            outcome.adapterSerial = serials[int(k)];
        Record(request, log, outcome);
        Print(outcome, request, console, several ? outcome.adapterSerial.value_or("") : "");
        if (Severity(outcome.status) > Severity(worst)) worst = outcome.status;
    }
    return worst;
}

}  // namespace

int RunCommandLine(const QStringList& arguments, Console& console) {
    const Parsed parsed = ParseCommandLine(arguments, console);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    return Run(std::get<Request>(parsed), console);
}

int Main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QUILLON_VERSION);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Console console{out, err, ::isatty(STDERR_FILENO) == 1, ::isatty(STDIN_FILENO) == 1,
                    []() -> std::optional<QString> {
                        std::string line;
                        if (!std::getline(std::cin, line)) return std::nullopt;
                        return QString::fromStdString(line);
                    }};
    return RunCommandLine(QCoreApplication::arguments(), console);
}

}  // namespace quillon::cli
