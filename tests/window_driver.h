#pragma once

// Helpers for tests that drive the real window: answering its message boxes and acting in
// the middle of a running command.

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

// Answers the next message box that opens with `answer`: a standard button to click, or
// Qt::Key_Escape / Qt::Key_Return to press, or 0 to close it from its title bar.
// Records the box's title, text, icon and buttons on the way.
struct BoxAnswer {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool seen = false;
};

inline void AnswerNextBox(BoxAnswer& seen, std::function<void(QMessageBox*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, &seen, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        timer->stop();
        timer->deleteLater();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        seen.seen = true;
        answer(box);
    });
    timer->start();
}

inline std::function<void(QMessageBox*)> Click(QMessageBox::StandardButton b) {
    return [b](QMessageBox* box) { box->button(b)->click(); };
}
inline std::function<void(QMessageBox*)> Press(Qt::Key key) {
    return [key](QMessageBox* box) { QTest::keyClick(box, key); };
}
inline std::function<void(QMessageBox*)> CloseBox() {
    return [](QMessageBox* box) { box->close(); };
}

// Runs `act` on the next file dialog that opens (the window's FS), after recording it.
inline void OnNextFileDialog(std::function<void(QFileDialog*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

// Puts `path` into the dialog's name field, as the operator would type it (selectFile alone
// leaves the field as it is while the field has the focus).
inline void TypeName(QFileDialog* dialog, const QString& path) {
    dialog->selectFile(path);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
}

// Chooses `path` in the file dialog and accepts it.
inline std::function<void(QFileDialog*)> Choose(const QString& path) {
    return [path](QFileDialog* dialog) {
        TypeName(dialog, path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

inline std::function<void(QFileDialog*)> Cancel() {
    return [](QFileDialog* dialog) { dialog->reject(); };
}

// Runs `action` once, during a yield of the running command, when the hex grid's current
// cell is the cell of byte `byteNumber` (its progress mark).
class AtByte : public QObject {
  public:
    AtByte(Form1& window, int byteNumber, std::function<void()> action)
        : window_(window), cell_(CellOf(byteNumber)), action_(std::move(action)) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] {
            EdidGrid* grid = window_.hexGrid();
            if (!done_ && window_.commandRunning() && grid->currentRow() == cell_.row &&
                grid->currentColumn() == cell_.column) {
                done_ = true;
                timer_.stop();
                action_();
            }
        });
        timer_.start();
    }
    bool done() const { return done_; }

  private:
    Form1& window_;
    Cell cell_;
    std::function<void()> action_;
    QTimer timer_;
    bool done_ = false;
};

}  // namespace quillon::testing
