// The window's commands under every fault, on the virtual adapter: offscreen, or on a real X
// server when the program runs on the xcb platform.
#include "command_table.h"
#include "virtual_rig.h"

using namespace quillon::iow;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    VirtualRig rig;
    using quillon::testing::World;
    quillon::testing::CommandTable table(
        rig, QGuiApplication::platformName() == "xcb" ? World::X : World::Offscreen);
    return QTest::qExec(&table, argc, argv);
}
