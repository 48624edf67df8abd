// The window under a real X server (Xvfb), driven by real pointer and key events. After each
// command and dialog the operator's next click must take effect at once, the pointer must be
// the normal one again and the keyboard focus back on the button that started it. Then what
// is drawn: the byte-count labels clear of every line.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window_driver.h"
#include "x_display_driver.h"

using namespace quillon;
using namespace quillon::testing;
using quillon::iow::SampleEdid;
using quillon::iow::TheVirtualAdapter;

class TestRealDisplay : public QObject {
    Q_OBJECT

    XDisplayDriver x;
    std::unique_ptr<Form1> window;
    QTemporaryDir dir;
    QImage normalPointer;
    bool withWindowManager = false;

    QWidget* Control(const char* name) { return window->findChild<QWidget*>(name); }
    QPoint RestingSpot() { return window->mapToGlobal(QPoint(700, 20)); }  // no control there
    // Shown, and ready for keys: the pointer on it (a bare server sends keys there) or active.
    template <typename Modal>
    bool Ready() {
        auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget());
        if (modal == nullptr || !modal->isVisible()) return false;
        x.MoveTo(modal->mapToGlobal(QPoint(modal->width() / 2, 10)));
        return !withWindowManager || modal->isActiveWindow();
    }

  private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs a real X server (the CTest entry runs it under xvfb-run)");
        QVERIFY2(x.Usable(), "the X server has no XTest extension");
        TheVirtualAdapter().Reset();
        window = std::make_unique<Form1>();
        // A window mapped while the window manager is still taking over the screen can stay
        // unmapped under a loaded machine: show it again rather than give up.
        bool exposed = false;
        for (int attempt = 0; attempt < 3 && !exposed; ++attempt) {
            window->hide();
            window->show();
            exposed = QTest::qWaitForWindowExposed(window.get());
        }
        QVERIFY(exposed);
        withWindowManager = x.WindowManagerRuns();
        if (withWindowManager) QVERIFY(QTest::qWaitForWindowActive(window.get()));
        x.MoveTo(RestingSpot());
        QTest::qWait(300);
        normalPointer = x.CursorImage();
        QVERIFY(!normalPointer.isNull());
    }

    void nextClickWorksAfter_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");  // into the file dialog, then Return; "": Escape
        QTest::addColumn<int>("answer");     // the message box's button that is clicked
        QTest::newRow("Open, a file chosen by typing its name") << "ReadFile"
                                                                << "image.bin" << 0;
        QTest::newRow("Open cancelled") << "ReadFile"
                                        << "" << 0;
        QTest::newRow("Save") << "SaveFile"
                              << "saved.bin" << 0;
        QTest::newRow("Write EDID answered No")
            << "IICWriteButton" << QString() << int(QMessageBox::No);
        QTest::newRow("Write EDID answered Yes")
            << "IICWriteButton" << QString() << int(QMessageBox::Yes);
        QTest::newRow("a file error message") << "ReadFile"
                                              << "none.bin" << int(QMessageBox::Ok);
    }
    void nextClickWorksAfter() {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(int, answer);
        TheVirtualAdapter().Eeprom().SetWriteCycle({});
        QFile image(dir.filePath("image.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly) &&
                image.write(reinterpret_cast<const char*>(SampleEdid().data()), 256));
        image.close();
        EdidImage shown{};
        shown.fill(0x5A);  // something in the grids for Clear to clear
        window->setEdidData(shown);
        window->RefreshGrids();
        TimedSteps steps;
        if (!typed.isNull())
            steps.When([this] { return Ready<QFileDialog>(); },
                       [&] {
                           QTest::qWait(100);
                           if (typed.isEmpty()) return x.Key(XK_Escape);
                           x.Key(XK_End);
                           for (int k = 0; k < 40; ++k) x.Key(XK_BackSpace);
                           x.Type(dir.filePath(typed));
                           QTest::qWait(400);  // the name's completion list opens meanwhile
                           x.Key(XK_Return);
                       });
        if (answer != 0)
            steps.When([this] { return Ready<QMessageBox>(); },
                       [&] {
                           x.Click(qobject_cast<QMessageBox*>(QApplication::activeModalWidget())
                                       ->button(QMessageBox::StandardButton(answer)));
                       });
        // A dialog that the steps failed to close would hold the test in its modal loop for
        // ever: close it after a while, which fails the row below.
        QTimer::singleShot(15000, this, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        x.Click(Control(button.toLatin1()));
        QTRY_VERIFY_WITH_TIMEOUT(
            steps.Done() && !QApplication::activeModalWidget() && !window->commandRunning(), 20000);
        QTest::qWait(150);
        if (typed == "image.bin") QVERIFY(window->edidData() == SampleEdid());
        if (typed == "saved.bin") QVERIFY(QFile::exists(dir.filePath(typed)));
        if (answer == QMessageBox::Yes || answer == QMessageBox::No)
            QCOMPARE(TheVirtualAdapter().Eeprom().Memory()[0],
                     answer == QMessageBox::Yes ? 0x5A : SampleEdid()[0]);

        // The pointer is the normal one, the keys go where they went before, and one click on
        // Clear clears.
        x.MoveTo(RestingSpot());
        QTest::qWait(150);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(x.CursorImage(), normalPointer);
        if (withWindowManager)
            QVERIFY(window->isActiveWindow() &&
                    QApplication::focusWidget() == Control(button.toLatin1()));
        QVERIFY(!window->hexGrid()->CellText(1, 1).isEmpty());
        x.Click(Control("ClearResult"));
        QTRY_VERIFY_WITH_TIMEOUT(window->hexGrid()->CellText(1, 1).isEmpty(), 3000);
        TheVirtualAdapter().Eeprom().Memory() = SampleEdid();
    }

    // Each byte-count label's text sits level with its option circle and clear of every line
    // drawn around it (a row of the label dark across most of its width). The picture is kept
    // in the build folder for the eye.
    void byteCountLabelsReadCleanly() {
        const QRect area(window->mapToGlobal(QPoint(262, 392)), QSize(96, 61));
        const QImage shot = x.Grab(area);
        shot.save(QStringLiteral("byte-count-labels.png"));
        for (const auto& [optionName, labelName] :
             {std::pair{"ByteOption_0", "Label1"}, {"ByteOption_1", "Label2"}}) {
            const auto* option = window->findChild<QRadioButton*>(optionName);
            const QWidget* label = Control(labelName);
            const QRect box(label->mapToGlobal(QPoint(0, 0)) - area.topLeft(), label->size());
            QList<int> lines, text;
            for (int y = std::max(0, box.top() - 2);
                 y <= std::min(shot.height() - 1, box.bottom() + 2); ++y) {
                int run = 0, longest = 0, dark = 0;
                for (int xp = box.left(); xp <= box.right(); ++xp) {
                    run = qGray(shot.pixel(xp, y)) < 96 ? run + 1 : 0;
                    dark += run > 0;
                    longest = std::max(longest, run);
                }
                if (longest >= box.width() * 9 / 10)
                    lines << y;
                else if (dark > 0 && y >= box.top() && y <= box.bottom())
                    text << y;
            }
            QVERIFY2(!text.isEmpty(), labelName);
            for (int line : lines)
                QVERIFY2(line < text.first() - 1 || line > text.last() + 1, labelName);
            QStyleOptionButton opt;
            opt.initFrom(option);
            const QRect circle =
                option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, option);
            const double circleMiddle = option->mapToGlobal(circle.center()).y() - area.top();
            QVERIFY2(std::abs((text.first() + text.last()) / 2.0 - circleMiddle) <= 2.5, labelName);
        }
    }
};

QTEST_MAIN(TestRealDisplay)
#include "test_real_display.moc"
