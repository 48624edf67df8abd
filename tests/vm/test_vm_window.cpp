// The window as the quillon executable builds it (Form1 on the Linux backend), its commands
// under the faults marked for the VM, against the kernel's own iowarrior driver and an
// emulated IO-Warrior 24 and 56.
#include "command_table.h"
#include "vm_rig.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    return quillon::iow::OnEveryVmAdapter([&](quillon::iow::VmRig& rig) {
        quillon::testing::CommandTable table(rig, quillon::testing::World::Vm);
        return QTest::qExec(&table, argc, argv);
    });
}
