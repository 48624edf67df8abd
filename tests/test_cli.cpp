// quillon-cli's table in-process, on the virtual adapter.
#include <unistd.h>

#include "cli/command_line.h"
#include "cli_table.h"
#include "virtual_rig.h"

namespace {

quillon::testing::CliRun RunInProcess(const QStringList& arguments,
                                      quillon::testing::CliSetup setup) {
    using enum quillon::testing::CliSetup;
    quillon::testing::CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    const bool terminal = setup == AnswerYes || setup == AnswerNo;
    QStringList lines{setup == AnswerYes ? "y" : "n"};
    quillon::cli::Console console{out, err, terminal, terminal, [&]() -> std::optional<QString> {
                                      if (lines.isEmpty()) return std::nullopt;
                                      return lines.takeFirst();
                                  }};
    quillon::testing::interruptedProcess = ::getpid();
    run.status = quillon::cli::RunCommandLine(QStringList{"quillon-cli"} + arguments, console);
    quillon::testing::interruptedProcess = 0;
    return run;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    quillon::iow::VirtualRig rig;
    quillon::testing::CliTable table(rig, RunInProcess, false);
    return QTest::qExec(&table, argc, argv);
}
