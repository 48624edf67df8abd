// The real quillon-cli (the kernel-driver build, at $QUILLON_CLI) run as its own process
// against the kernel's iowarrior driver and an emulated IO-Warrior 24 and 56: the table's rows
// marked for the VM.
#include <unistd.h>

#include <QProcess>

#include "cli_table.h"
#include "vm_rig.h"

namespace {

constexpr int kProcessLimitMs = 600000;  // a hung program fails its row instead of the stage

constexpr uid_t kNobody = 65534;

quillon::testing::CliRun RunProcess(const QStringList& arguments,
                                    quillon::testing::CliSetup setup) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // The guest has no udev: the driver's nodes stay root's alone, as without the package's
    // rule, so nobody may not open them.
    if (setup == quillon::testing::CliSetup::Unprivileged)
        process.setChildProcessModifier([] {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(127);
        });
    process.start(qEnvironmentVariable("QUILLON_CLI"), arguments);
    quillon::testing::interruptedProcess = static_cast<pid_t>(process.processId());
    quillon::testing::CliRun run;
    const bool finished = process.waitForFinished(kProcessLimitMs);
    quillon::testing::interruptedProcess = 0;
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit) run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return quillon::iow::OnEveryVmAdapter([&](quillon::iow::VmRig& rig) {
        quillon::testing::CliTable table(rig, RunProcess, true);
        return QTest::qExec(&table, argc, argv);
    });
}
