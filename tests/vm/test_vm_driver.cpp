// The adapter contract against the kernel's own iowarrior driver: run inside the test VM
// (scripts/run-vm-tests.sh), the Linux backend's real system calls on an IO-Warrior 24 that
// the guest kernel sees through dummy_hcd and gadgetfs.
#include <QtTest>

#include "iowkit_contract.h"
#include "vm_rig.h"

using namespace quillon::iow;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    VmRig rig;
    if (!rig.Ready()) {
        std::printf("the emulated adapter did not come up\n");
        return 1;
    }
    IowKitContract contract(rig);
    return QTest::qExec(&contract, argc, argv);
}
