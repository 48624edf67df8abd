#pragma once

// Drives the real window: its buttons, its file dialog, and actions in the middle of a running
// command.

#include <QtTest>
#include <QtWidgets>
#include <functional>

#include "image/byte_cells.h"
#include "window/edid_grid.h"
#include "window/form1.h"
#ifdef QUILLON_X_WORLD
#include "x_display_driver.h"
#endif

namespace quillon::testing {

inline QAbstractButton* Button(QWidget* window, const char* name) {
    return window->findChild<QAbstractButton*>(name);
}
// What byte `n`'s cell of `grid` shows: its text, its background (invalid: never painted).
inline QString ByteText(EdidGrid* grid, int n) {
    return grid->CellText(CellOf(n).row, CellOf(n).column);
}
inline QColor ByteColour(EdidGrid* grid, int n) {
    return grid->CellColour(CellOf(n).row, CellOf(n).column);
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

// The operator's hands: clicks, keys and a file dialog's name field, through the X server when
// `throughX` (in a build with QUILLON_X_WORLD), else straight to the widgets.
class OperatorHands {
  public:
    explicit OperatorHands(bool throughX) : throughX_(throughX) {}
    bool WindowManagerRuns() {
#ifdef QUILLON_X_WORLD
        if (throughX_) return x_.WindowManagerRuns();
#endif
        return false;
    }
    void Click(QAbstractButton* button) {
#ifdef QUILLON_X_WORLD
        if (throughX_) return x_.Click(button);
#endif
        button->click();
    }
    void Key(QWidget* target, Qt::Key key) {
#ifdef QUILLON_X_WORLD
        if (throughX_)
            return ReadyForKeys(target), x_.Key(key == Qt::Key_Escape ? XK_Escape : XK_Return);
#endif
        QTest::keyClick(target, key);
    }
    // Types `path` into the dialog's name field and accepts it; false when the field did not
    // take it. Through the X server the keys go in one by one, and Return follows the
    // completion list that opens for a file that exists (Return then once left the list
    // holding the pointer).
    bool Choose(QFileDialog* dialog, const QString& path) {
#ifdef QUILLON_X_WORLD
        if (throughX_) {
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            ReadyForKeys(dialog);
            x_.Key(XK_End);
            for (int k = 0; k < 40; ++k) x_.Key(XK_BackSpace);
            x_.Type(path);
            const bool typed = QTest::qWaitFor([&] { return edit->text() == path; });
            if (QFile::exists(path))
                (void)QTest::qWaitFor([&] { return edit->completer()->popup()->isVisible(); },
                                      3000);
            return x_.Key(XK_Return), typed;
        }
#endif
        TypeName(dialog, path);  // accept queued: the overwrite question must find us free
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    }
    // The window mapped and, under a window manager, active. A window mapped while the window
    // manager is still taking over the screen can stay unmapped: show it again then.
    bool Shown(QWidget* window) {
        bool exposed = false;
        for (int attempt = 0; attempt < 3 && !exposed; ++attempt) {
            if (attempt > 0) window->hide(), window->show();
            exposed = QTest::qWaitForWindowExposed(window);
        }
#ifdef QUILLON_X_WORLD
        if (x_.WindowManagerRuns() && !QTest::qWaitForWindowActive(window)) return false;
        if (normalPointer_.isNull()) {  // the pointer that the window shows when idle
            x_.MoveTo(RestingSpot(window));
            if (!QTest::qWaitFor([&] { return window->underMouse(); })) return false;
            normalPointer_ = x_.CursorImage();
        }
#endif
        return exposed;
    }
    // Once a command is done: the pointer normal, the focus back on `focus` and the next real
    // click (on `next`) takes effect. Returns what did not hold.
    QString UsableAfterCommand([[maybe_unused]] QWidget* window, [[maybe_unused]] QWidget* focus,
                               [[maybe_unused]] QAbstractButton* next) {
#ifdef QUILLON_X_WORLD
        if (!throughX_) return {};
        x_.MoveTo(RestingSpot(window));
        if (!QTest::qWaitFor([&] { return x_.CursorImage() == normalPointer_; }, 10000))
            return "the pointer is not the normal one";
        // Which window a window manager activates once a dialog closes is its own choice
        // (openbox takes the one under the pointer): a click on the background activates ours,
        // and the window's own focus must then be the button again.
        if (x_.WindowManagerRuns()) {
            if (!QTest::qWaitFor([&] { return window->isActiveWindow(); }, 3000))
                x_.ClickAt(RestingSpot(window));
            const auto back = [&] {
                return window->isActiveWindow() && QApplication::focusWidget() == focus;
            };
            if (!QTest::qWaitFor(back, 10000))
                return QStringLiteral("active %1, focus on %2")
                    .arg(window->isActiveWindow())
                    .arg(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                     : "nothing");
        }
        x_.Click(next);
        if (!QTest::qWaitFor([&] { return next->isChecked(); }, 10000))
            return "the next click did not take";
#endif
        return {};
    }

  private:
    bool throughX_;
#ifdef QUILLON_X_WORLD
    XDisplayDriver x_;
    QImage normalPointer_;
    // A spot on the window where no control is: the pointer rests there, a click activates.
    static QPoint RestingSpot(QWidget* w) { return w->mapToGlobal(QPoint(700, 20)); }
    // Ready for keys: the pointer on it (where a bare server sends keys) and active.
    void ReadyForKeys(QWidget* target) {
        x_.MoveTo(target->mapToGlobal(QPoint(target->width() / 2, 10)));
        (void)QTest::qWaitFor([&] { return target->isActiveWindow(); });
    }
#endif
};

}  // namespace quillon::testing
