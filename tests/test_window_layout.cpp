// The window against its layout table: every control's kind, text, tooltip, place, size,
// start state, fonts and the tab order.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window/edid_grid.h"
#include "window/form1.h"

using namespace quillon;

namespace {

struct ControlRow {
    const char* name;
    const char* className;
    const char* text;  // nullptr: not checked
    const char* toolTip;
    int left, top, width, height;  // twips
};

// Twips as laid out; the window divides them by 15 and rounds.
const ControlRow kVisible[] = {
    {"Image1", "QLabel", nullptr, "", 0, 360, 14805, 6795},
    {"Label3", "QLabel", "BINARY DATA", "", 2280, 120, 2775, 255},
    {"Label4", "QLabel", "ASCII DATA", "", 9600, 120, 2775, 255},
    {"BinInfo", "quillon::EdidGrid", nullptr, "", 180, 600, 7155, 4335},
    {"AscInfo", "quillon::EdidGrid", nullptr, "", 7440, 600, 7155, 4335},
    {"IICWriteButton", "QPushButton", "Write EDID", "Write EDID to attached device.", 600, 5280,
     1455, 495},
    {"IICReadButton", "QPushButton", "Read EDID", "Read EDID from attached device", 600, 5880, 1455,
     495},
    {"SaveFile", "QPushButton", "Save EDID", "Save the existing EDID to a disk file.", 2280, 5280,
     1455, 495},
    {"ReadFile", "QPushButton", "Open EDID", "Read an existing EDID from a disk file.", 2280, 5880,
     1455, 495},
    {"ClearResult", "QPushButton", "Clear", "Clear the Screen", 3960, 5280, 1455, 495},
    {"ByteOption_0", "QRadioButton", "", "", 4080, 6000, 200, 200},
    {"ByteOption_1", "QRadioButton", "", "", 4080, 6300, 200, 200},
    {"Label1", "QLabel", "128 Byte", "", 4320, 6000, 795, 315},
    {"Label2", "QLabel", "256 Byte", "", 4320, 6300, 795, 315},
    {"Image2", "QLabel", nullptr, "", 11580, 5220, 3000, 555},
    {"VersionLabel", "QLabel", "Version 1.5", "", 11820, 5940, 2055, 255},
};

const ControlRow kHidden[] = {
    {"Scan", "QPushButton", "Scan", "", 5160, 7560, 1455, 495},
    {"Result", "QPlainTextEdit", nullptr, "", 600, 8880, 6435, 2055},
    {"ReadLabel", "QLabel", "", "", 480, 7560, 4455, 855},
    {"Label5", "QLabel", "Product ID#", "", 8880, 7680, 1335, 255},
    {"ProdID", "QLineEdit", nullptr, "", 10440, 7560, 1300, 375},
    {"Label8", "QLabel", "Revision #", "", 11760, 7680, 1335, 255},
    {"Revision", "QLineEdit", nullptr, "", 13320, 7560, 1300, 375},
    {"Label9", "QLabel", "Serial #", "", 8880, 8280, 1335, 255},
    {"SerialNumber", "QLineEdit", nullptr, "", 10440, 8160, 1300, 375},
    {"Label6", "QLabel", "Devices Found?", "", 11760, 8280, 1335, 255},
    {"NDev", "QLineEdit", nullptr, "", 13320, 8160, 1300, 375},
    {"Label7", "QLabel", "Device Handle", "", 11280, 9360, 1335, 255},
    {"DHandle", "QLineEdit", nullptr, "", 13200, 9240, 1575, 375},
    {"TextVal1", "QLineEdit", "0", "", 11400, 8640, 375, 375},
    {"TextVal4", "QLineEdit", "0", "", 11400 + 480 * 3, 8640, 375, 375},
    {"TextVal7", "QLineEdit", "0", "", 11400 + 480 * 6, 8640, 375, 375},
};

int Px(int twips) { return qRound(twips / 15.0); }

QString TextOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    return {};
}

}  // namespace

class TestWindowLayout : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        // The layout as an operator without an adapter meets it.
        quillon::iow::TheVirtualAdapter().Reset();
        quillon::iow::TheVirtualAdapter().SetPresent(false);
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void windowItself() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Orvane Quillon"));
        QCOMPARE(window->size(), QSize(988, 453));
        QCOMPARE(window->objectName(), QStringLiteral("Form1"));
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->windowIcon().pixmap(16, 16).size(), QSize(16, 16));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // Centred give or take the window frame, whose size the platform decides.
        QVERIFY(qAbs(window->frameGeometry().center().x() - screen.center().x()) <= 3);
        QVERIFY(qAbs(window->frameGeometry().center().y() - screen.center().y()) <= 3);
    }

    void visibleControls() {
        for (const ControlRow& row : kVisible) {
            auto* w = window->findChild<QWidget*>(row.name);
            QVERIFY2(w != nullptr, row.name);
            QCOMPARE(w->metaObject()->className(), row.className);
            QVERIFY2(w->isVisible(), row.name);
            QCOMPARE(w->geometry(),
                     QRect(Px(row.left), Px(row.top), Px(row.width), Px(row.height)));
            if (row.text != nullptr) QCOMPARE(TextOf(w), QString::fromLatin1(row.text));
            QCOMPARE(w->toolTip(), QString::fromLatin1(row.toolTip));
        }
    }

    void hiddenControlsStayHiddenBelowTheClientArea() {
        for (const ControlRow& row : kHidden) {
            auto* w = window->findChild<QWidget*>(row.name);
            QVERIFY2(w != nullptr, row.name);
            QCOMPARE(w->metaObject()->className(), row.className);
            QVERIFY2(w->isHidden(), row.name);
            QVERIFY(w->geometry().top() >= 453);
            QCOMPARE(w->geometry(),
                     QRect(Px(row.left), Px(row.top), Px(row.width), Px(row.height)));
            if (row.text != nullptr) QCOMPARE(TextOf(w), QString::fromLatin1(row.text));
        }
        QVERIFY(!window->findChild<QWidget*>("ReadLabel")->isEnabled());
        QCOMPARE(window->findChild<QPlainTextEdit*>("Result")->verticalScrollBarPolicy(),
                 Qt::ScrollBarAlwaysOn);
    }

    void startStates() {
        auto button = [&](const char* name) { return window->findChild<QAbstractButton*>(name); };
        // No adapter: the I2C buttons stay disabled.
        QVERIFY(!button("IICWriteButton")->isEnabled());
        QVERIFY(!button("IICReadButton")->isEnabled());
        for (const char* name :
             {"SaveFile", "ReadFile", "ClearResult", "ByteOption_0", "ByteOption_1"}) {
            QVERIFY2(button(name)->isEnabled(), name);
        }
        QVERIFY(!button("ByteOption_0")->isChecked());
        QVERIFY(button("ByteOption_1")->isChecked());
        QCOMPARE(window->byteCount(), 256);
        QCOMPARE(window->versionText(), QStringLiteral("Version 1.5"));
        for (std::uint8_t b : window->edidData()) QCOMPARE(b, std::uint8_t{0});
    }

    void picturesAndFonts() {
        auto* background = window->findChild<QLabel*>("Image1");
        QCOMPARE(background->pixmap().size(), QSize(475, 398));
        QVERIFY(background->hasScaledContents());
        auto* logo = window->findChild<QLabel*>("Image2");
        QCOMPARE(logo->pixmap().size(), QSize(200, 37));
        QVERIFY(!logo->hasScaledContents());
        // The background lies beneath every other control.
        QCOMPARE(window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).first(),
                 background);

        for (const char* grid : {"BinInfo", "AscInfo"}) {
            const QFont font = window->findChild<QWidget*>(grid)->font();
            QCOMPARE(font.family(), QStringLiteral("Courier New"));
            QCOMPARE(font.pointSizeF(), 8.25);
            QCOMPARE(font.weight(), QFont::Normal);
        }
        const QFont result = window->findChild<QWidget*>("Result")->font();
        QCOMPARE(result.family(), QStringLiteral("Courier"));
        QCOMPARE(result.pointSizeF(), 9.75);
    }

    void labelsDoNotSelectOptions() {
        QTest::mouseClick(window->findChild<QWidget*>("Label1"), Qt::LeftButton);
        QVERIFY(window->findChild<QAbstractButton*>("ByteOption_1")->isChecked());
    }

    void tabOrderOfFocusableControls() {
        const QStringList expected{"IICWriteButton", "IICReadButton", "ClearResult",
                                   "BinInfo",        "AscInfo",       "SaveFile",
                                   "ReadFile",       "ByteOption_0",  "ByteOption_1"};
        // Walk the whole focus chain from the first tab stop and keep the controls an
        // operator could reach if they were enabled and shown.
        QStringList order;
        QWidget* start = window->findChild<QWidget*>("TextVal1");
        QWidget* w = start;
        do {
            if (expected.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != start);
        QCOMPARE(order, expected);
    }

    void focusStartsOnClearWithoutAdapter() {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(QApplication::focusWidget(), window->findChild<QWidget*>("ClearResult"));
    }

    void enlargingRevealsNoHiddenControl() {
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        window->resize(988, 900);
        for (const ControlRow& row : kHidden)
            QVERIFY(!window->findChild<QWidget*>(row.name)->isVisible());
    }

  private:
    std::unique_ptr<Form1> window;
};

QTEST_MAIN(TestWindowLayout)
#include "test_window_layout.moc"
