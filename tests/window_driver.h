#pragma once

// Drives the real window: its buttons, its file dialog, and actions in the middle of a running
// command.

#include <QtTest>
#include <QtWidgets>
#include <functional>

#include "image/byte_cells.h"
#include "window/edid_grid.h"
#include "window/form1.h"

namespace quillon::testing {

inline QAbstractButton* Button(QWidget* window, const char* name) {
    return window->findChild<QAbstractButton*>(name);
}

// Puts `path` into the dialog's name field, as the operator would type it (selectFile alone
// leaves the field as it is while the field has the focus).
inline void TypeName(QFileDialog* dialog, const QString& path) {
    dialog->selectFile(path);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
}

// Runs `action` once, during a yield of the running command, when the hex grid's current
// cell (its progress mark) comes to the cell of byte `byteNumber` for the `visit`th time (a
// write's read-back comes to it again); never for byte 0.
class AtByte : public QObject {
  public:
    AtByte(Form1& window, int byteNumber, std::function<void()> action, int visit = 1) {
        connect(&timer_, &QTimer::timeout, this, [=, this, &window] {
            const EdidGrid* grid = window.hexGrid();
            const bool there = window.commandRunning() &&
                               grid->currentRow() == CellOf(byteNumber).row &&
                               grid->currentColumn() == CellOf(byteNumber).column;
            if (there && !there_ && ++visits_ == visit) timer_.stop(), action();
            there_ = there;
        });
        if (byteNumber > 0) timer_.start(0);
    }

  private:
    QTimer timer_;
    bool there_ = false;
    int visits_ = 0;
};

}  // namespace quillon::testing
