// The program on a real IO-Warrior, through the kernel's iowarrior driver.
#include <QApplication>

#include "window/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quillon::Form1 window;
    window.show();
    return app.exec();
}
