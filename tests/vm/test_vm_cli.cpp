// The real quillon-cli (the kernel-driver build, at $QUILLON_CLI) run as its own process
// against the kernel's iowarrior driver and an emulated IO-Warrior 24 and 56: the table's rows
// marked for the VM; then three fixtures' adapters at once (an IOW56 and two IOW24s).
#include "cli_process.h"
#include "cli_table.h"
#include "several_adapters.h"
#include "vm_rig.h"

using namespace quillon::testing;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int failures = quillon::iow::OnEveryVmAdapter([&](quillon::iow::VmRig& rig) {
        CliTable table(rig, RunProcess, true);
        return QTest::qExec(&table, argc, argv);
    });
    {
        std::printf("== three emulated adapters at once\n");
        quillon::iow::VmRig first(0x1503, 0), second(0x1501, 1), third(0x1501, 2);
        if (!first.Ready() || !second.Ready() || !third.Ready())
            return std::printf("the emulated adapters did not come up\n"), failures + 1;
        SeveralAdapters several({&first, &second, &third}, RunProcess, true);
        failures += QTest::qExec(&several, argc, argv);
    }
    // A product whose I2C function is an interface of its own is named, never driven.
    std::printf("== an IO-Warrior 28\n");
    quillon::iow::VmRig iow28(0x1504);
    const auto run = RunProcess({"info"}, CliSetup::Plain);
    const bool named = run.status == 2 && run.err.startsWith("IO-Warrior 28 (0x1504) 0000A5E1");
    std::printf("%s: info on an IO-Warrior 28: %d %s\n", named ? "PASS" : "FAIL", run.status,
                run.err.constData());
    return failures + (named ? 0 : 1);
}
