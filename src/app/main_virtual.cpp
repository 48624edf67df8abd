// The program on the virtual adapter: an emulated IO-Warrior 24 with a 24C02 holding the
// sample EDID. Each reply takes a few milliseconds, so the red mark is seen to move.
#include <QApplication>
#include <chrono>

#include "iow/virtual/virtual_backend.h"
#include "window/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quillon::iow::TheVirtualAdapter().SetLatency(std::chrono::milliseconds(3));
    quillon::Form1 window;
    window.show();
    return app.exec();
}
