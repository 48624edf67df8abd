// The window as its operator meets it: every control's kind, text and tooltip, which are
// hidden, the start states, pictures, fonts, the tab order and where the focus starts.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window/edid_grid.h"
#include "window/form1.h"

using namespace quillon;

namespace {

// What the operator reads and meets; the controls' places are the layout file's own (a copy of
// them here could only catch a typo in one of the two).
struct ControlRow {
    const char* name;
    const char* className;
    const char* text;  // nullptr: not checked
    const char* toolTip;
};

const ControlRow kVisible[] = {
    {"Image1", "QLabel", nullptr, ""},
    {"Label3", "QLabel", "BINARY DATA", ""},
    {"Label4", "QLabel", "ASCII DATA", ""},
    {"BinInfo", "quillon::EdidGrid", nullptr, ""},
    {"AscInfo", "quillon::EdidGrid", nullptr, ""},
    {"IICWriteButton", "QPushButton", "Write EDID", "Write EDID to attached device."},
    {"IICReadButton", "QPushButton", "Read EDID", "Read EDID from attached device"},
    {"SaveFile", "QPushButton", "Save EDID", "Save the existing EDID to a disk file."},
    {"ReadFile", "QPushButton", "Open EDID", "Read an existing EDID from a disk file."},
    {"ClearResult", "QPushButton", "Clear", "Clear the Screen"},
    {"ByteOption_0", "QRadioButton", "", ""},
    {"ByteOption_1", "QRadioButton", "", ""},
    {"Label1", "QLabel", "128 Byte", ""},
    {"Label2", "QLabel", "256 Byte", ""},
    {"Image2", "QLabel", nullptr, ""},
    {"VersionLabel", "QLabel", "Version 1.5", ""},
};

const ControlRow kHidden[] = {
    {"Scan", "QPushButton", "Scan", ""},
    {"Result", "QPlainTextEdit", nullptr, ""},
    {"ReadLabel", "QLabel", "", ""},
    {"Label5", "QLabel", "Product ID#", ""},
    {"ProdID", "QLineEdit", nullptr, ""},
    {"Label8", "QLabel", "Revision #", ""},
    {"Revision", "QLineEdit", nullptr, ""},
    {"Label9", "QLabel", "Serial #", ""},
    {"SerialNumber", "QLineEdit", nullptr, ""},
    {"Label6", "QLabel", "Devices Found?", ""},
    {"NDev", "QLineEdit", nullptr, ""},
    {"Label7", "QLabel", "Device Handle", ""},
    {"DHandle", "QLineEdit", nullptr, ""},
    {"TextVal1", "QLineEdit", "0", ""},
    {"TextVal4", "QLineEdit", "0", ""},
    {"TextVal7", "QLineEdit", "0", ""},
};

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
            QVERIFY2(window->rect().contains(w->geometry().topLeft()), row.name);
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
            QVERIFY2(w->geometry().top() >= 453, row.name);
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
