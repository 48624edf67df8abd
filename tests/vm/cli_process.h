#pragma once

// The real quillon-cli (the kernel-driver build, at $QUILLON_CLI) run as its own process in the
// test VM, with what a row sets up.
#include <unistd.h>

#include <QProcess>

#include "cli_table.h"

namespace quillon::testing {

// A hung program fails its row, within the row's time-out.
inline constexpr int kProcessLimitMs = 300000;

inline constexpr uid_t kNobody = 65534;

inline CliRun RunProcess(const QStringList& arguments, CliSetup setup) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // The guest has no udev: the driver's nodes stay root's alone, as without the package's
    // rule, so nobody may not open them.
    if (setup == CliSetup::Unprivileged)
        process.setChildProcessModifier([] {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(127);
        });
    process.start(qEnvironmentVariable("QUILLON_CLI"), arguments);
    interruptedProcess = static_cast<pid_t>(process.processId());
    CliRun run;
    const bool finished = process.waitForFinished(kProcessLimitMs);
    interruptedProcess = 0;
    if (!finished) {
        qWarning("hung: %s", process.readAllStandardError().constData());
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit) run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

}  // namespace quillon::testing
