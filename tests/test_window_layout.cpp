// The window as its operator meets it without an adapter: the texts and tooltips read, which
// controls are hidden, the start states, the tab order and where the focus starts, and which
// files the dialogs list.
#include <QtTest>
#include <QtWidgets>

#include "iow/virtual/virtual_backend.h"
#include "window_driver.h"

using namespace quillon;
using quillon::testing::Button;

namespace {
QString TextOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    return w->metaObject()->className();
}
}  // namespace

class TestWindowLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> window;
    QWidget* W(const char* name) { return window->findChild<QWidget*>(name); }

  private slots:
    void init() {
        iow::TheVirtualAdapter().Reset();
        iow::TheVirtualAdapter().SetPresent(false);
        window = std::make_unique<Form1>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void textsAndStates() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Orvane Quillon"));
        QCOMPARE(window->size(), QSize(988, 453));
        const QPoint offCentre = window->frameGeometry().center() -
                                 QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY(offCentre.manhattanLength() <= 6);  // give or take the frame, the platform's
        QVERIFY(iow::TheVirtualAdapter().TrafficLog().empty());  // no adapter: nothing sent
        QVERIFY(!window->windowIcon().isNull());
        // name, text (or class), tooltip; then whether shown and enabled at start
        const std::tuple<const char*, const char*, const char*, bool, bool> controls[] = {
            {"Label3", "BINARY DATA", "", true, true},
            {"Label4", "ASCII DATA", "", true, true},
            {"BinInfo", "quillon::EdidGrid", "", true, true},
            {"AscInfo", "quillon::EdidGrid", "", true, true},
            {"IICWriteButton", "Write EDID", "Write EDID to attached device.", true, false},
            {"IICReadButton", "Read EDID", "Read EDID from attached device", true, false},
            {"SaveFile", "Save EDID", "Save the existing EDID to a disk file.", true, true},
            {"ReadFile", "Open EDID", "Read an existing EDID from a disk file.", true, true},
            {"ClearResult", "Clear", "Clear the Screen", true, true},
            {"ByteOption_0", "", "", true, true},
            {"ByteOption_1", "", "", true, true},
            {"Label1", "128 Byte", "", true, true},
            {"Label2", "256 Byte", "", true, true},
            {"VersionLabel", "Version 1.5", "", true, true},
            {"Scan", "Scan", "", false, true},
            {"Result", "QPlainTextEdit", "", false, true},
            {"ReadLabel", "", "", false, false},
            {"Label5", "Product ID#", "", false, true},
            {"ProdID", "0x0 or 0", "", false, true},
            {"Label8", "Revision #", "", false, true},
            {"Revision", "0x0 or 0", "", false, true},
            {"Label9", "Serial #", "", false, true},
            {"SerialNumber", "", "", false, true},
            {"Label6", "Devices Found?", "", false, true},
            {"NDev", "0", "", false, true},
            {"Label7", "Device Handle", "", false, true},
            {"DHandle", "0", "", false, true},
            {"TextVal1", "0", "", false, true},
            {"TextVal4", "0", "", false, true},
            {"TextVal7", "0", "", false, true}};
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        window->resize(988, 900);  // enlarged, the window still shows no hidden control
        for (const auto& [name, text, tip, shown, enabled] : controls) {
            QVERIFY2(W(name) != nullptr, name);
            QCOMPARE(TextOf(W(name)), QString::fromUtf8(text));
            QCOMPARE(W(name)->toolTip(), QString::fromUtf8(tip));
            QVERIFY2(W(name)->isVisible() == shown && W(name)->isEnabled() == enabled, name);
            QVERIFY2(shown == (W(name)->geometry().top() < 453), name);
        }
        QVERIFY(Button(window.get(), "ByteOption_1")->isChecked() &&
                !Button(window.get(), "ByteOption_0")->isChecked());
        QCOMPARE(window->byteCount(), 256);
        QCOMPARE(window->edidData(), EdidImage{});
        QCOMPARE(window->findChild<QPlainTextEdit*>("Result")->verticalScrollBarPolicy(),
                 Qt::ScrollBarAlwaysOn);
        QTest::mouseClick(W("Label1"), Qt::LeftButton);  // a label does not choose its option
        QVERIFY(Button(window.get(), "ByteOption_1")->isChecked());
    }

    void tabOrderAndFocus() {
        const QStringList expected{"IICWriteButton", "IICReadButton", "ClearResult",
                                   "BinInfo",        "AscInfo",       "SaveFile",
                                   "ReadFile",       "ByteOption_0",  "ByteOption_1"};
        QStringList order;  // the whole focus chain, from the first tab stop round
        QWidget* w = W("TextVal1");
        do {
            if (expected.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
        } while ((w = w->nextInFocusChain()) != W("TextVal1"));
        QCOMPARE(order, expected);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(QApplication::focusWidget(), W("ClearResult"));  // the I2C buttons are off
    }

    // Open lists hex, bin and xml files, Save hex and bin files, whatever their case; each
    // dialog starts in the program's folder, names its filter and adds .hex to a bare name.
    void dialogsListTheirFiles() {
        QTemporaryDir dir;
        for (const char* name :
             {"a.hex", "B.HEX", "c.bin", "d.BIN", "e.xml", "f.XML", "g.Xml", "h.txt"})
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        for (const char* button : {"ReadFile", "SaveFile"}) {
            QStringList names;
            QString settings;
            QTimer::singleShot(0, this, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                settings =
                    QStringList{dialog->findChild<QComboBox*>("fileTypeCombo")->currentText(),
                                dialog->defaultSuffix(), dialog->directory().absolutePath()}
                        .join('|');
                dialog->setDirectory(dir.path());
                auto* model = dialog->findChild<QFileSystemModel*>();
                const QModelIndex root = model->index(dir.path());
                QTest::qWaitFor([&] { return model->rowCount(root) > 0; }, 5000);
                QTest::qWait(200);  // the model reads the folder in the background
                for (int row = 0; row < model->rowCount(root); ++row)
                    names << model->index(row, 0, root).data().toString();
                dialog->reject();
            });
            Button(window.get(), button)->click();
            names.sort();
            QCOMPARE(settings, QStringLiteral("Tavrin Files (*.hex;*.HEX;*.bin;*.BIN%1)|hex|%2")
                                   .arg(button[0] == 'R' ? ";*.xml,*.XML" : "",
                                        QCoreApplication::applicationDirPath()));
            QCOMPARE(names.join(' '), button[0] == 'R' ? "B.HEX a.hex c.bin d.BIN e.xml f.XML g.Xml"
                                                       : "B.HEX a.hex c.bin d.BIN");
        }
    }
};

QTEST_MAIN(TestWindowLayout)
#include "test_window_layout.moc"
