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

namespace {

enum class Scene { OpenChosen, OpenCancelled, Save, ConfirmNo, ConfirmYes, FileError };

}  // namespace

Q_DECLARE_METATYPE(Scene)

class TestRealDisplay : public QObject {
    Q_OBJECT

    XDisplayDriver x;
    std::unique_ptr<Form1> window;
    QTemporaryDir dir;
    QImage normalPointer;
    bool withWindowManager = false;

    QWidget* Control(const char* name) { return window->findChild<QWidget*>(name); }
    // A spot of the window with no control: the normal pointer shows there.
    QPoint RestingSpot() { return window->mapToGlobal(QPoint(700, 20)); }
    void SettleEvents(int ms = 150) { QTest::qWait(ms); }

  private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs a real X server (the CTest entry runs it under xvfb-run)");
        QVERIFY2(x.Usable(), "the X server has no XTest extension");
        TheVirtualAdapter().Reset();
        TheVirtualAdapter().SetLatency({});
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        withWindowManager = x.WindowManagerRuns();
        // On a bare server nothing activates windows: the keys go to the window under the
        // pointer.
        if (withWindowManager) QVERIFY(QTest::qWaitForWindowActive(window.get()));
        x.MoveTo(RestingSpot());
        SettleEvents(300);
        normalPointer = x.CursorImage();
        QVERIFY(!normalPointer.isNull());
    }

    void nextClickWorksAfter_data() {
        QTest::addColumn<Scene>("scene");
        QTest::newRow("Open, a file chosen by typing its name") << Scene::OpenChosen;
        QTest::newRow("Open cancelled") << Scene::OpenCancelled;
        QTest::newRow("Save") << Scene::Save;
        QTest::newRow("Write EDID answered No") << Scene::ConfirmNo;
        QTest::newRow("Write EDID answered Yes") << Scene::ConfirmYes;
        QTest::newRow("a file error message") << Scene::FileError;
    }
    void nextClickWorksAfter() {
        QFETCH(Scene, scene);
        TheVirtualAdapter().Eeprom().SetWriteCycle({});
        const QString image = dir.filePath(QStringLiteral("image.bin"));
        {
            QFile file(image);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(SampleEdid().data()), 256);
        }
        // Something in the grids for Clear to clear.
        EdidImage shown{};
        shown.fill(0x5A);
        window->setEdidData(shown);
        window->RefreshGrids();

        const char* start = nullptr;
        TimedSteps steps;
        // Open and ready for keys: shown, active, its focus widget holding the keyboard.
        const auto ready = [this](QWidget* modal) {
            if (modal == nullptr || !modal->isVisible()) return false;
            x.MoveTo(modal->mapToGlobal(QPoint(modal->width() / 2, 10)));
            return !withWindowManager || modal->isActiveWindow();
        };
        const auto dialogOpen = [ready] { return ready(ActiveModal<QFileDialog>()); };
        const auto boxOpen = [ready] { return ready(ActiveModal<QMessageBox>()); };
        const auto typeAndReturn = [this](QString path) {
            return [this, path] {
                QTest::qWait(100);  // the pointer is on the dialog: its keys go there
                x.Type(path);
                QTest::qWait(400);  // the name's completion list opens meanwhile
                x.Key(XK_Return);
            };
        };
        const auto clickBoxButton = [this](QMessageBox::StandardButton b) {
            return [this, b] { x.Click(ActiveModal<QMessageBox>()->button(b)); };
        };
        switch (scene) {
            case Scene::OpenChosen:
                start = "ReadFile";
                steps.When(dialogOpen, typeAndReturn(image));
                break;
            case Scene::OpenCancelled:
                start = "ReadFile";
                steps.When(dialogOpen, [this] { x.Key(XK_Escape); });
                break;
            case Scene::Save:
                start = "SaveFile";
                steps.When(dialogOpen, [this] { x.Key(XK_End); })
                    .After(50,
                           [this] {
                               for (int k = 0; k < 40; ++k) x.Key(XK_BackSpace);
                           })
                    .After(50, typeAndReturn(dir.filePath(QStringLiteral("saved.bin"))));
                break;
            case Scene::ConfirmNo:
                start = "IICWriteButton";
                steps.When(boxOpen, clickBoxButton(QMessageBox::No));
                break;
            case Scene::ConfirmYes:
                start = "IICWriteButton";
                steps.When(boxOpen, clickBoxButton(QMessageBox::Yes));
                break;
            case Scene::FileError:
                start = "ReadFile";
                steps.When(dialogOpen, typeAndReturn(dir.filePath(QStringLiteral("none.bin"))))
                    .When(boxOpen, clickBoxButton(QMessageBox::Ok));
                break;
        }
        // A dialog that the steps failed to close would hold the test in its modal loop for
        // ever: close it after a while, which fails the row below.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                qWarning() << "still open:" << dialog->windowTitle()
                           << (qobject_cast<QFileDialog*>(dialog)
                                   ? dialog->findChild<QLineEdit*>("fileNameEdit")->text()
                                   : QString());
                dialog->reject();
            }
        });
        guard.start(15000);
        steps.Start();
        x.Click(Control(start));
        QTRY_VERIFY_WITH_TIMEOUT(steps.Done() && QApplication::activeModalWidget() == nullptr &&
                                     !window->commandRunning(),
                                 20000);
        SettleEvents();

        if (scene == Scene::OpenChosen) QVERIFY(window->edidData() == SampleEdid());
        if (scene == Scene::Save) QVERIFY(QFile::exists(dir.filePath(QStringLiteral("saved.bin"))));
        if (scene == Scene::ConfirmYes) QCOMPARE(TheVirtualAdapter().Eeprom().Memory()[0], 0x5A);
        if (scene == Scene::ConfirmNo)
            QCOMPARE(TheVirtualAdapter().Eeprom().Memory()[0], SampleEdid()[0]);

        // The pointer is the normal one and the keys go where they went before.
        x.MoveTo(RestingSpot());
        SettleEvents();
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(x.CursorImage(), normalPointer);
        if (withWindowManager) {
            QVERIFY(window->isActiveWindow());
            QCOMPARE(QApplication::focusWidget(), Control(start));
        }

        // One click on Clear clears.
        QVERIFY(!window->hexGrid()->CellText(1, 1).isEmpty());
        x.Click(Control("ClearResult"));
        QTRY_VERIFY_WITH_TIMEOUT(window->hexGrid()->CellText(1, 1).isEmpty(), 3000);
        TheVirtualAdapter().Eeprom().Memory() = SampleEdid();
    }

    // Each byte-count label's text sits level with its option circle and clear of every line
    // that the server drew around it. The picture is kept in the build folder for the eye.
    void byteCountLabelsReadCleanly() {
        const QRect area(window->mapToGlobal(QPoint(262, 392)), QSize(96, 61));
        const QImage shot = x.Grab(area);
        shot.save(QStringLiteral("byte-count-labels.png"));
        const auto dark = [&](int xp, int yp) { return qGray(shot.pixel(xp, yp)) < 96; };
        for (const char* name : {"ByteOption_0", "ByteOption_1"}) {
            const auto* option = window->findChild<QRadioButton*>(name);
            const QLabel* label = window->findChild<QLabel*>(
                name == std::string("ByteOption_0") ? "Label1" : "Label2");
            const QRect labelRect(label->mapToGlobal(QPoint(0, 0)) - area.topLeft(), label->size());
            // Rows of the label with a dark run across most of its width are lines, not text.
            QList<int> lines, textRows;
            for (int yp = std::max(0, labelRect.top() - 2);
                 yp <= std::min(shot.height() - 1, labelRect.bottom() + 2); ++yp) {
                int run = 0, longest = 0, darkCount = 0;
                for (int xp = labelRect.left(); xp <= labelRect.right(); ++xp) {
                    run = dark(xp, yp) ? run + 1 : 0;
                    darkCount += dark(xp, yp);
                    longest = std::max(longest, run);
                }
                if (longest >= labelRect.width() * 9 / 10)
                    lines << yp;
                else if (darkCount > 0 && labelRect.contains(labelRect.left(), yp))
                    textRows << yp;
            }
            QVERIFY2(!textRows.isEmpty(), name);
            const int textTop = textRows.first(), textBottom = textRows.last();
            for (int line : lines)
                QVERIFY2(line < textTop - 1 || line > textBottom + 1,
                         qPrintable(QStringLiteral("%1: a line at row %2 crosses its text (%3-%4)")
                                        .arg(name)
                                        .arg(line)
                                        .arg(textTop)
                                        .arg(textBottom)));
            QStyleOptionButton opt;
            opt.initFrom(option);
            const QRect circle =
                option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, option);
            const double circleMiddle = option->mapToGlobal(circle.center()).y() - area.top();
            const double textMiddle = (textTop + textBottom) / 2.0;
            QVERIFY2(std::abs(textMiddle - circleMiddle) <= 2.5,
                     qPrintable(QStringLiteral("%1: text middle %2, circle middle %3")
                                    .arg(name)
                                    .arg(textMiddle)
                                    .arg(circleMiddle)));
        }
    }
};

QTEST_MAIN(TestRealDisplay)
#include "test_real_display.moc"
