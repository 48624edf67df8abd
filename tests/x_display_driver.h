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

namespace quillon::testing {

class XDisplayDriver {
  public:
    XDisplayDriver() : display_(XOpenDisplay(nullptr)) {}
    ~XDisplayDriver() { display_ ? void(XCloseDisplay(display_)) : void(); }
    // Whether a window manager runs (it names itself on the root window).
    bool WindowManagerRuns() {
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", True);
        if (check != None)
            XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &after, &data);
        if (data != nullptr) XFree(data);
        return count > 0;
    }
    void MoveTo(QPoint global) {
        XTestFakeMotionEvent(display_, -1, global.x(), global.y(), CurrentTime);
        XFlush(display_);
    }
    void Click(const QWidget* widget) { ClickAt(widget->mapToGlobal(widget->rect().center())); }
    void ClickAt(QPoint global) {
        MoveTo(global);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }
    // A key press; a character on the key's shifted level is typed with Shift held.
    void Key(KeySym keysym) {
        const KeyCode code = XKeysymToKeycode(display_, keysym),
                      shift = XKeysymToKeycode(display_, XK_Shift_L);
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display_, code, 1, &perCode);
        const bool shifted = syms != nullptr && perCode > 0 && syms[0] != keysym;
        if (syms != nullptr) XFree(syms);
        if (shifted) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (shifted) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
        XFlush(display_);
    }
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
                image.setPixel(x, y, QRgb(cursor->pixels[y * cursor->width + x]));
        XFree(cursor);
        return image;
    }

  private:
    Display* display_;
};

}  // namespace quillon::testing
