#pragma once

// Drives the window through a real X server, as the operator does: pointer motion, clicks and
// key presses go in through XTest and come back to the program as X events, and what is
// drawn and the pointer shown are read back from the server. For behaviour that offscreen
// clicks, which go straight to the widget, cannot show.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>

#include <QtTest>
#include <QtWidgets>
#include <functional>

namespace quillon::testing {

class XDisplayDriver {
  public:
    XDisplayDriver() : display_(XOpenDisplay(nullptr)) {}
    ~XDisplayDriver() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Usable() const {
        int event, error, major, minor;
        return display_ != nullptr && XTestQueryExtension(display_, &event, &error, &major, &minor);
    }

    // Whether a window manager runs (it names itself on the root window).
    bool WindowManagerRuns() {
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", True);
        if (check == None) return false;
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        const bool found =
            XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            count > 0;
        if (data != nullptr) XFree(data);
        return found;
    }

    void MoveTo(QPoint global) {
        XTestFakeMotionEvent(display_, -1, global.x(), global.y(), CurrentTime);
        XFlush(display_);
    }
    void Click(QPoint global) {
        MoveTo(global);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }
    void Click(const QWidget* widget) { Click(widget->mapToGlobal(widget->rect().center())); }

    void Key(KeySym keysym) {
        const KeyCode code = XKeysymToKeycode(display_, keysym);
        // A character that sits on the key's shifted level needs Shift held.
        const bool shift = XkbKeycodeToKeysymCompat(code, 0) != keysym;
        const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
        if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
        XFlush(display_);
    }
    // Types printable ASCII text, a key press per character.
    void Type(const QString& text) {
        for (const QChar c : text) Key(static_cast<KeySym>(c.unicode()));
    }

    // The pointer's picture as the server shows it now.
    QImage CursorImage() {
        XFixesCursorImage* cursor = XFixesGetCursorImage(display_);
        if (cursor == nullptr) return {};
        QImage image(cursor->width, cursor->height, QImage::Format_ARGB32);
        for (int y = 0; y < cursor->height; ++y)
            for (int x = 0; x < cursor->width; ++x)
                image.setPixel(x, y, static_cast<QRgb>(cursor->pixels[y * cursor->width + x]));
        XFree(cursor);
        return image;
    }

    // What the server has drawn in `global`, from the root window.
    QImage Grab(QRect global) {
        XImage* ximage = XGetImage(display_, DefaultRootWindow(display_), global.x(), global.y(),
                                   global.width(), global.height(), AllPlanes, ZPixmap);
        if (ximage == nullptr) return {};
        QImage image(global.size(), QImage::Format_RGB32);
        for (int y = 0; y < global.height(); ++y)
            for (int x = 0; x < global.width(); ++x)
                image.setPixel(x, y, static_cast<QRgb>(XGetPixel(ximage, x, y)) | 0xFF000000u);
        XDestroyImage(ximage);
        return image;
    }

  private:
    KeySym XkbKeycodeToKeysymCompat(KeyCode code, int level) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display_, code, 1, &perCode);
        const KeySym sym = syms != nullptr && perCode > level ? syms[level] : NoSymbol;
        if (syms != nullptr) XFree(syms);
        return sym;
    }

    Display* display_;
};

// Steps that run one after the other from a timer, so that they also run inside the modal
// loops that the window's dialogs open: each waits until its condition holds, then acts.
class TimedSteps : public QObject {
  public:
    using Condition = std::function<bool()>;
    using Action = std::function<void()>;
    TimedSteps() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (next_ < steps_.size() && steps_[next_].first()) steps_[next_++].second();
            if (next_ == steps_.size()) timer_.stop();
        });
    }
    TimedSteps& When(Condition condition, Action action) {
        steps_.push_back({std::move(condition), std::move(action)});
        return *this;
    }
    // Waits `ms`, then acts.
    TimedSteps& After(int ms, Action action) {
        auto start = std::make_shared<QElapsedTimer>();
        return When(
            [start, ms] {
                if (!start->isValid()) start->start();
                return start->elapsed() >= ms;
            },
            std::move(action));
    }
    void Start() { timer_.start(); }
    bool Done() const { return next_ == steps_.size(); }

  private:
    QTimer timer_;
    std::vector<std::pair<Condition, Action>> steps_;
    std::size_t next_ = 0;
};

template <typename T>
inline T* ActiveModal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

}  // namespace quillon::testing
