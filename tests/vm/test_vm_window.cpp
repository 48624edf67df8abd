// The window as the quillon executable builds it (Form1 on the Linux backend), its commands
// under the faults marked for the VM, against the kernel's own iowarrior driver and an
// emulated IO-Warrior 24 and 56.
#include "command_table.h"
#include "vm_rig.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int failures = 0;
    for (std::uint32_t product : quillon::iow::kVmProducts) {
        quillon::iow::VmRig rig(product);
        std::printf("== emulated IO-Warrior %04X\n", product);
        if (!rig.Ready()) return std::printf("the emulated adapter did not come up\n"), 1;
        quillon::testing::CommandTable table(rig, quillon::testing::World::Vm);
        failures += QTest::qExec(&table, argc, argv);
    }
    return failures;
}
