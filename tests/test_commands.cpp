// The window's commands under every fault, on the virtual adapter.
#include "command_table.h"
#include "iow/virtual/virtual_backend.h"

using namespace quillon::iow;

namespace {
// The virtual adapter behind the IowKit functions of this executable.
class VirtualRig : public AdapterRig {
  public:
    VirtualAdapter& Model() override { return TheVirtualAdapter(); }
    void Fresh() override { TheVirtualAdapter().Reset(); }
};
}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    VirtualRig rig;
    quillon::testing::CommandTable table(rig, false);
    return QTest::qExec(&table, argc, argv);
}
