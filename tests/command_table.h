#pragma once

// Every command of the window, clicked as the operator clicks it, under the faults that the
// adapter and the file layer can produce: one row per case. Every row checks that the controls
// are gated while the command runs and that a click on another command is then ignored; that
// no byte is shown as good that was not; that no file is lost or half-written; that the window
// is left usable and the next read, once the fault is gone, is whole; and that closing the
// window switches the adapter off only when it holds it. Runs in three worlds: offscreen on the
// virtual adapter; on a real X server, where the row's command, its dialogs and boxes are
// answered with real pointer and key events, and the operator's next click must then take
// effect, the pointer be the normal one and the focus back; and against the kernel's driver.

#include <QtWidgets>
#include <cerrno>
#include <numeric>

#include "files/image_files.h"
#include "iowkit_contract.h"
#include "window_driver.h"
#ifdef QUILLON_X_WORLD
#include "x_display_driver.h"
#endif

namespace quillon::testing {

enum class World { Offscreen, X, Vm };
enum class Cmd { Read, Read128, Write, Scan, Clear, Open, Save };
// Before the command: Usual is a read done for Write (then the memory filled with 0xEE), the
// sample image set but not drawn for Open and Save, a fresh window else. Cleared: Clear done
// (a handle held). NoAdapter: started without adapter, plugged in since. Shown128: the sample
// image set and 128 chosen. Saved: the sample image saved as saved.hex.
enum class Pre { Usual, Fresh, Cleared, NoAdapter, Shown128, Saved };
// clang-format off
enum class Fault {
    Ok, Absent, Unplug, Drop, RefuseA0, RefuseA1, RefuseBoth, Cycle, Protected, Flipped, Spoil,
    Fill41, Late, Stopped, Replug, Device0, CloseAt, No, Escape, Return, NoSync, OneBlock, DropEvery
};
// clang-format on
// Which bytes end red: the ends of bad blocks (summed here); all; exactly those that the
// memory does not hold; any (some or none); no cell painted at all; some but not most (the
// command went on to the end).
enum class Red { Sums, All, Differ, Some, Unpainted, Scattered };
// The written memory, loaded image or saved file: what the grids show; unchanged; zeros.
enum class Outcome { Any, Equal, Unchanged, Zeros };
// Afterwards: no handle and the I2C buttons on; the handle kept; a new handle; no handle and
// the I2C buttons off.
enum class After { Free, Held, Reopened, Off };

struct Row {
    const char* name;
    Cmd cmd;
    Fault fault;
    int param;
    Red red;
    Outcome outcome;
    int sent;               // I2C reports that the command writes; -1: not counted
    const char* text = "";  // the scan's result, or the start of the one message shown
    const char* file = "";  // chosen in the file dialog; "": the dialog is cancelled
    Pre pre = Pre::Usual;
    int vm = 0;  // 1: also run against the kernel's driver; 2: only there (slow here)
    After after = After::Free;
};

namespace rows {
using enum Cmd;
using enum Fault;
using enum Red;
using enum Outcome;
using enum Pre;
using enum After;
inline constexpr char kFound[] = "160 (A0)\r\n161 (A1)\r\n";
inline constexpr char kNone[] = "No Devices found on I2C Buss";
inline constexpr char kNoFile[] = "Error Number:  2\r\nError Msg   : No such file or directory";
inline const Row kRows[] = {
    {"read", Read, Ok, 0, Sums, Any, 513, "", "", Usual, 1},
    {"read, block 1 spoiled", Read, Spoil, 10, Sums, Any, 513},
    {"read, block 2 spoiled", Read, Spoil, 200, Sums, Any, 513},
    {"read 128 keeps block 2", Read128, Fill41, 0, Sums, Any, 257, "", "", Usual, 1},
    {"read, unplugged since start-up", Read, Absent, 0, All, Any, 0},
    {"read, window closed at byte 30", Read, CloseAt, 30, Some, Any, -1},
    {"read, unplugged after 101", Read, Unplug, 101, Some, Any, -1, "", "", Usual, 1},
    {"read, one reply lost", Read, Drop, 1, Some, Any, -1},
    {"read, every reply lost", Read, Drop, -1, All, Any, -1},
    {"read, every fourth reply lost", Read, DropEvery, 4, Scattered, Any, -1},
    {"read, A1 refused", Read, RefuseA1, 0, All, Any, -1},
    {"read, no memory", Read, RefuseBoth, 0, All, Any, -1, "", "", Usual, 2},
    {"read, late replies", Read, Late, 0, Some, Any, -1, "", "", Usual, 1},
    {"read, late replies, adapter found by Clear", Read, Late, 0, All, Any, -1, "", "", NoAdapter},
    {"read, adapter stopped", Read, Stopped, 0, All, Any, -1, "", "", Usual, 1},
    {"read, replugged, then Clear", Read, Replug, 0, Sums, Any, -1, "", "", Usual, 1},
    {"read after Clear", Read, Ok, 0, Sums, Any, 513, "", "", Cleared},
    {"write", Write, Ok, 0, Differ, Equal, -1, "", "", Usual, 1},
    {"write after Clear writes nothing", Write, Ok, 0, All, Unchanged, 1, "", "", Cleared},
    {"write, 128-byte memory", Write, OneBlock, 0, Differ, Any, -1, "", "", Usual, 1},
    {"write, answered No", Write, No, 0, Unpainted, Unchanged, 0, "", "", Cleared, 0, Held},
    {"write, Return is No", Write, Return, 0, Unpainted, Unchanged, 0, "", "", Cleared, 0, Held},
    {"write, Escape", Write, Escape, 0, Unpainted, Unchanged, 0, "", "", Cleared, 0, Held},
    {"write, unplugged since start-up", Write, Absent, 0, All, Unchanged, 0},
    {"write, unplugged after 2", Write, Unplug, 2, Some, Any, -1},
    {"write, unplugged after 101", Write, Unplug, 101, Some, Any, -1, "", "", Usual, 1},
    {"write, one reply lost", Write, Drop, 1, Some, Any, -1},
    {"write, A1 refused", Write, RefuseA1, 0, All, Any, -1},
    {"write, no memory", Write, RefuseBoth, 0, All, Unchanged, -1, "", "", Usual, 1},
    {"write, slow write cycle", Write, Cycle, 8, Differ, Equal, -1, "", "", Usual, 2},
    {"write, write-protected", Write, Protected, 0, Differ, Unchanged, -1, "", "", Usual, 1},
    {"write, memory flips a bit", Write, Flipped, 0, Differ, Any, -1},
    {"write, late replies", Write, Late, 0, Some, Any, -1, "", "", Usual, 2},
    {"write, adapter stopped", Write, Stopped, 0, All, Unchanged, -1, "", "", Usual, 1},
    {"write, replugged, then Clear", Write, Replug, 0, Differ, Equal, -1, "", "", Usual, 1},
    {"scan", Scan, Ok, 0, Unpainted, Any, 257, kFound, "", Usual, 1},
    {"scan, byte 0 answers", Scan, Device0, 0, Unpainted, Any, 257,
     "0 (0)\r\n1 (1)\r\n160 (A0)\r\n161 (A1)\r\n"},
    {"scan, A0 refused", Scan, RefuseA0, 0, Unpainted, Any, 257, "161 (A1)\r\n"},
    {"scan, no memory", Scan, RefuseBoth, 0, Unpainted, Any, 257, kNone, "", Usual, 1},
    {"scan, every reply lost", Scan, Drop, -1, Unpainted, Any, 6, kNone},
    {"scan, unplugged since start-up", Scan, Absent, 0, Unpainted, Any, 0, kNone},
    {"scan, unplugged after 101", Scan, Unplug, 101, Unpainted, Any, -1, "", "", Usual, 1},
    {"scan, late replies", Scan, Late, 0, Unpainted, Any, -1, "", "", Usual, 2},
    {"scan, adapter stopped", Scan, Stopped, 0, Unpainted, Any, -1, kNone, "", Usual, 1},
    {"scan, replugged, then Clear", Scan, Replug, 0, Unpainted, Any, -1, kFound, "", Usual, 1, Off},
    {"scan after Clear", Scan, Ok, 0, Unpainted, Any, 257, kFound, "", Cleared, 0, Off},
    {"Clear finds an adapter", Clear, Ok, 0, Unpainted, Zeros, 0, "", "", NoAdapter, 0, Reopened},
    {"Clear twice", Clear, Ok, 0, Unpainted, Zeros, 0, "", "", Cleared, 0, Reopened},
    {"Clear, gone after Clear", Clear, Absent, 0, Unpainted, Zeros, 0, "", "", Cleared, 0, Off},
    {"Clear, gone since start-up", Clear, Absent, 0, Unpainted, Zeros, 0},
    {"open, 128 chosen: all 256", Open, Ok, 0, Sums, Equal, 0, "", "counting.bin", Shown128},
    {"open, no such file", Open, Ok, 0, Sums, Unchanged, 0, kNoFile, "gone.bin"},
    {"open, XML that does not load", Open, Ok, 0, Sums, Unchanged, 0, "Start-end tags", "bad.xml"},
    {"open, XML without BLOCK1", Open, Ok, 0, Sums, Unchanged, 0, "Error Number:  1001",
     "half.xml"},
    {"open, XML without DATAOBJ", Open, Ok, 0, Sums, Zeros, 0, "", "other.xml"},
    {"open cancelled first", Open, Ok, 0, Unpainted, Unchanged, 0},
    {"open, the name field's wildcards", Open, Ok, 0, Unpainted, Unchanged, 0, "",
     "*.hex;*.bin;*.xml"},
    {"open cancelled after Save", Open, Ok, 0, Sums, Unchanged, 0, "", "", Saved},
    {"open, Clear's handle held", Open, Ok, 0, Unpainted, Unchanged, 0, "", "", Cleared, 0, Held},
    {"save over a file, 128 chosen", Save, Ok, 0, Unpainted, Equal, 0, "", "over.bin", Shown128},
    {"save without extension", Save, Ok, 0, Unpainted, Equal, 0, "", "plain"},
    {"save cancelled", Save, Ok, 0, Unpainted, Unchanged, 0, "", "", Saved},
    {"save, the name field's wildcards", Save, Ok, 0, Unpainted, Unchanged, 0, "", "*.hex;*.bin",
     Saved},
    {"save, flush fails", Save, NoSync, 0, Unpainted, Unchanged, 0, "Error Number:  5", "over.bin"},
    {"save, Clear's handle held", Save, Ok, 0, Unpainted, Unchanged, 0, "", "", Cleared, 0, Held},
};
}  // namespace rows

// The file layer's fault: the writer's flush fails.
inline FileWriteCalls Calls(Fault fault) {
    FileWriteCalls calls = RealFileWriteCalls();
    if (fault == Fault::NoSync) calls.fsync = [](int) { return errno = EIO, -1; };
    return calls;
}

inline QByteArray Bytes(const EdidImage& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), 256);
}
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>";
}
// The ends of the blocks whose bytes do not add up to 0 mod 256, among the first `count`.
inline QList<int> BadBlockEnds(const EdidImage& image, int count = 256) {
    QList<int> ends;
    for (int end = 128; end <= count; end += 128)
        if (std::accumulate(&image[end - 128], &image[end - 1] + 1, 0) % 256 != 0) ends << end;
    return ends;
}

class CommandTable : public QObject {
    Q_OBJECT

  public:
    CommandTable(iow::AdapterRig& rig, World world)
        : rig_(rig), onVm_(world == World::Vm), inX_(world == World::X) {}

  private:
    using Reports = QList<std::vector<std::uint8_t>>;
    iow::AdapterRig& rig_;
    bool onVm_, inX_;
#ifdef QUILLON_X_WORLD
    XDisplayDriver x_;
    QImage normalPointer_;
#endif
    QPointer<QWidget> answered_;  // the dialog or box last answered through the X server
    QElapsedTimer answeredAt_;
    const Row* row_ = nullptr;
    std::unique_ptr<Form1> window;
    QTemporaryDir dir_;
    QString folder_, chosen_;
    QStringList seen_, wrong_;  // the boxes and dialogs shown; what did not hold
    FileWriteCalls calls_{};
    bool i2cBefore_ = false, scanning_ = false, heldAtClick_ = false;
    int gatedSamples_ = 0;
    QTimer answerer_, watcher_;

    iow::VirtualAdapter& model() { return rig_.Model(); }
    QAbstractButton* B(const char* name) { return Button(window.get(), name); }
    void Expect(bool ok, const QString& what) { ok ? void() : void(wrong_ << what); }
    // The gating leaves the I2C buttons as they were when the window holds no handle (the scan
    // gates before it opens the adapter): note them first.
    // `real`: in the X world the click goes through the X server; it returns once the
    // button's command has run.
    void Click(const char* name, bool real = false) {
        i2cBefore_ = B("IICReadButton")->isEnabled();
        scanning_ = name == std::string("Scan");
        heldAtClick_ = window->iowHandle() != 0;
        if (!real || !inX_) return B(name)->click();
        bool done = false;
        const auto c = connect(B(name), &QAbstractButton::clicked, this, [&] { done = true; });
        RealClick(B(name));
        Expect(QTest::qWaitFor([&] { return done; }, 120000), "the click did not arrive");
        disconnect(c);
    }
    // A click or a key through the X server in the X world, straight to the widget elsewhere.
    void RealClick(QAbstractButton* button) {
#ifdef QUILLON_X_WORLD
        if (inX_) return x_.Click(button);
#endif
        button->click();
    }
#ifdef QUILLON_X_WORLD
    // Ready for keys: the pointer on it (where a bare server sends keys) and active.
    void ReadyForKeys(QWidget* target) {
        x_.MoveTo(target->mapToGlobal(QPoint(target->width() / 2, 10)));
        (void)QTest::qWaitFor([&] { return target->isActiveWindow(); });
    }
#endif
    void Key(QWidget* target, Qt::Key key) {
#ifdef QUILLON_X_WORLD
        if (inX_)
            return ReadyForKeys(target), x_.Key(key == Qt::Key_Escape ? XK_Escape : XK_Return);
#endif
        QTest::keyClick(target, key);
    }
    // Types `path` into the dialog's name field and accepts it. Through the X server the keys
    // go in one by one, and Return follows the completion list that opens for a file that
    // exists (Return then once left the list holding the pointer).
    void Choose(QFileDialog* dialog, const QString& path) {
#ifdef QUILLON_X_WORLD
        if (inX_) {
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            ReadyForKeys(dialog);
            x_.Key(XK_End);
            for (int k = 0; k < 40; ++k) x_.Key(XK_BackSpace);
            x_.Type(path);
            Expect(QTest::qWaitFor([&] { return edit->text() == path; }), "name typed");
            if (QFile::exists(path))
                (void)QTest::qWaitFor([&] { return edit->completer()->popup()->isVisible(); },
                                      3000);
            return x_.Key(XK_Return);
        }
#endif
        TypeName(dialog, path);  // accept queued: the overwrite question must find us free
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    }
    QColor Colour(EdidGrid* g, int n) { return g->CellColour(CellOf(n).row, CellOf(n).column); }
    bool IsRed(int n) {
        return Colour(window->hexGrid(), n) == Qt::red && Colour(window->charGrid(), n) == Qt::red;
    }
    QString Hex(int n) { return window->hexGrid()->CellText(CellOf(n).row, CellOf(n).column); }
    Reports WrittenI2c() {
        Reports out;
        for (const auto& t : model().TrafficLog())
            if (t.pipe == 1 && t.direction == decltype(t.direction)::Written) out << t.bytes;
        return out;
    }

    // Notes each box and dialog (title, text, icon, buttons and the default one), then answers:
    // the row's file, Yes (or the row's answer) to a question, OK to a message.
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        // A box still up long after its click was missed: a window manager placed it after the
        // click had aimed at where it first appeared. So a box is answered once it is active,
        // and again when the answer did not take.
        const bool missed =
            box != nullptr && answeredAt_.isValid() && answeredAt_.hasExpired(10000);
        if (modal == nullptr || (inX_ && modal == answered_ && !missed)) {  // answer on its way
            answered_ = modal;
            return;
        }
#ifdef QUILLON_X_WORLD
        if (inX_ && box != nullptr && x_.WindowManagerRuns() && !box->isActiveWindow()) return;
#endif
        answered_ = modal;
        answeredAt_.start();
        if (auto* d = qobject_cast<QFileDialog*>(modal)) {
            seen_ << d->windowTitle() + '|' + d->findChild<QLineEdit*>("fileNameEdit")->text();
            return chosen_.isEmpty() ? Key(d, Qt::Key_Escape) : Choose(d, chosen_);
        }
        if (box == nullptr) return;
        const int buttons = box->standardButtons() | box->standardButton(box->defaultButton()) << 1;
        seen_ << QStringLiteral("%1|%2|%3|%4")
                     .arg(box->windowTitle(), box->text())
                     .arg(box->icon())
                     .arg(buttons);
        const auto click = [&](QMessageBox::StandardButton b) { RealClick(box->button(b)); };
        switch (box->button(QMessageBox::Yes) && !box->text().contains("exists") ? row_->fault
                                                                                 : Fault::Ok) {
            case Fault::No:
                return click(QMessageBox::No);
            case Fault::Escape:
                return Key(box, Qt::Key_Escape);
            case Fault::Return:
                return Key(box, Qt::Key_Return);
            default:
                return click(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok);
        }
    }
    // While a command runs with the wait pointer up (outside a message box): the controls are
    // gated, and clicks on the (hidden) Scan button or on a cell change nothing.
    void Watch() {
        if (!window || !window->commandRunning() || !QApplication::overrideCursor() ||
            qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            return;
        ++gatedSamples_;
        for (const char* name : {"SaveFile", "ReadFile", "ClearResult", "ByteOption_0",
                                 "ByteOption_1", "IICReadButton", "IICWriteButton"}) {
            const bool i2cOn = i2cBefore_ && !(scanning_ ? heldAtClick_ : window->iowHandle());
            Expect(B(name)->isEnabled() == (name[0] == 'I' && i2cOn),
                   QString(name) + " gated wrong");
        }
        if (wrong_.size() < 10) B("Scan")->click();
        EdidGrid* grid = window->hexGrid();  // and a click on another cell changes nothing
        if (gatedSamples_ == 1)
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                              grid->visualItemRect(grid->item(2, 2)).center());
    }

    void Prepare(const Row& row) {
        using enum Fault;
        const bool file = row.cmd == Cmd::Open || row.cmd == Cmd::Save,
                   clear = row.cmd == Cmd::Clear;
        model().SetInstantTimeouts(row.fault != Late);  // a late reply must come late
        model().SetPresent(row.pre != Pre::NoAdapter);
        window = std::make_unique<Form1>();
        window->show();
        model().SetPresent(true);
        if (row.cmd == Cmd::Read128 || (row.cmd == Cmd::Write && row.pre == Pre::Usual))
            Click("IICReadButton");
        if (row.cmd == Cmd::Read128 || row.pre == Pre::Shown128) Click("ByteOption_0");
        if (row.cmd == Cmd::Write || row.fault == Fill41)
            model().Eeprom().Memory().fill(row.fault == Fill41 ? 0x41 : 0xEE);
        if (clear && row.pre != Pre::Cleared) Click("Scan");  // something in the box to clear
        if (row.pre == Pre::NoAdapter && row.cmd != Cmd::Clear) {
            // The backend's own time-out, as in a program that found no adapter at start-up;
            // then Clear finds the one plugged in since.
            const IowKitHandle handle = IowKitOpenDevice();
            IowKitSetTimeout(handle, 1000);
            IowKitCloseDevice(handle);
        }
        if (row.pre == Pre::Cleared || (row.pre == Pre::NoAdapter && row.cmd != Cmd::Clear))
            Click("ClearResult");
        if ((file && row.pre != Pre::Cleared) || clear) window->setEdidData(iow::SampleEdid());
        if (clear) window->RefreshGrids();
        if (row.pre == Pre::Saved) chosen_ = folder_ + "/saved.hex", Click("SaveFile");
        UseFileWriteCalls(&(calls_ = Calls(row.fault)));
        auto& eeprom = model().Eeprom();
        // The memory's write cycle is met by the plain write only (and the rows about it).
        if (row.cmd == Cmd::Write && row.fault != Ok) eeprom.SetWriteCycle({});
        switch (row.fault) {
            case Absent:
                return model().SetPresent(false);
            case Unplug:
                return model().UnplugAfterExchanges(row.param);
            case Drop:
                return model().DropReplies(row.param);
            case DropEvery:
                return model().DropEveryReply(row.param);
            case RefuseBoth:
                model().RefuseAddress(0xA0);
                [[fallthrough]];
            case RefuseA1:
                return model().RefuseAddress(0xA1);
            case RefuseA0:
                return model().RefuseAddress(0xA0);
            case Cycle:
                return eeprom.SetWriteCycle(std::chrono::milliseconds(row.param));
            case Protected:
                return eeprom.SetWriteProtected(true);
            case OneBlock:
                return eeprom.SetHoldsOneBlock(true);
            case Flipped:
                return eeprom.SetCorruptedOffsets({0, 127, 128, 255});
            case Spoil:
                return void(eeprom.Memory()[row.param] ^= 1);
            case Late:
                return model().SetLatency(std::chrono::milliseconds(300));
            case Stopped:
                return model().SetTakingReports(false);
            case Device0:
                return model().AddDevice(std::make_unique<iow::PlainI2cDevice>(0));
            case Replug:  // plugged in again in its power-on state (I2C off), then Clear
                model().SetPresent(false);
                model().SetPresent(true);
                Click("ClearResult");
                if (row.cmd != Cmd::Write) return;
                window->setEdidData(iow::SampleEdid());
                return void(window->RefreshGrids());
            default:
                return;
        }
    }

    // The rows that the X world runs: every one that shows a dialog or a box, and a read.
    static bool InX(const Row& row) {
        return (row.cmd == Cmd::Write || row.cmd == Cmd::Open || row.cmd == Cmd::Save ||
                row.name == std::string("read")) &&
               !QString(row.file).contains('*');
    }
    QPoint RestingSpot() { return window->mapToGlobal(QPoint(700, 20)); }  // no control there
    // The window mapped and, under a window manager, active. A window mapped while the window
    // manager is still taking over the screen can stay unmapped: show it again then.
    bool ShownOnTheServer() {
        bool exposed = false;
        for (int attempt = 0; attempt < 3 && !exposed; ++attempt) {
            if (attempt > 0) window->hide(), window->show();
            exposed = QTest::qWaitForWindowExposed(window.get());
        }
#ifdef QUILLON_X_WORLD
        if (x_.WindowManagerRuns() && !QTest::qWaitForWindowActive(window.get())) return false;
        if (normalPointer_.isNull()) {  // the pointer that the window shows when idle
            x_.MoveTo(RestingSpot());
            if (!QTest::qWaitFor([&] { return window->underMouse(); })) return false;
            normalPointer_ = x_.CursorImage();
        }
#endif
        return exposed;
    }

  private slots:
    void initTestCase() {
        connect(&answerer_, &QTimer::timeout, this, [this] { Answer(); });
        connect(&watcher_, &QTimer::timeout, this, [this] { Watch(); });
        answerer_.start(2);
        watcher_.start(0);
    }
    void cleanup() {
        window.reset();
        UseFileWriteCalls(nullptr);
    }

    void commandUnderFault_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(rows::kRows)); ++i)
            if (onVm_ ? rows::kRows[i].vm > 0
                      : rows::kRows[i].vm < 2 && (!inX_ || InX(rows::kRows[i])))
                QTest::newRow(rows::kRows[i].name) << i;
    }
    void commandUnderFault() {
        using enum Cmd;
        QFETCH(int, index);
        const Row& row = *(row_ = &rows::kRows[index]);
        rig_.Fresh();
        QDir().mkpath(folder_ = dir_.filePath(QString::number(index)));
        QByteArray counting(256, 0);
        std::iota(counting.begin(), counting.end(), 0);
        for (const auto& [name, bytes] :
             {std::pair{"counting.bin", counting},
              {"over.bin", QByteArray(1000, 'o')},
              {"bad.xml", "<DATAOBJ><DATA>"},
              {"other.xml", "<ROOT/>"},
              {"half.xml", "<DATAOBJ><DATA><BLOCK0/></DATA></DATAOBJ>"}}) {
            QFile file(folder_ + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        Prepare(row);
        if (inX_) QVERIFY(ShownOnTheServer());
        seen_.clear(), wrong_.clear();
        chosen_ = *row.file ? folder_ + '/' + row.file : QString();
        // A name that still holds the field's wildcards picks no file: a cancel.
        const bool picked = *row.file && !QString(row.file).contains('*');
        const QByteArray fileBefore = ReadAll(chosen_);
        const QStringList listed = QDir(folder_).entryList(QDir::Files | QDir::Hidden);
        const EdidImage imageBefore = window->edidData();
        const auto memoryBefore = model().Eeprom().Memory();
        const IowKitHandle handleBefore = window->iowHandle();
        const std::string nameBefore = window->edidFile();
        int sentAtClose = -1;
        AtByte closer(*window, row.fault == Fault::CloseAt ? row.param : 0,
                      [&] { sentAtClose = int(WrittenI2c().size()), window->close(); });
        model().ClearTraffic();
        gatedSamples_ = 0;
        QElapsedTimer timer;
        timer.start();
        const char* button = std::array{"IICReadButton", "IICReadButton", "IICWriteButton", "Scan",
                                        "ClearResult",   "ReadFile",      "SaveFile"}[int(row.cmd)];
        Click(button, true);
        const bool declined = row.fault >= Fault::No && row.fault <= Fault::Return;
        Expect(timer.elapsed() < 30000, "longer than the time-outs allow");
        Expect(!window->commandRunning() && !QApplication::overrideCursor(), "still running");
        // Every command but Clear (and a write not confirmed) runs with the wait pointer up.
        Expect((gatedSamples_ > 0) == (row.cmd != Clear && !declined), "no wait pointer");
        const Reports written = WrittenI2c(), switchOff{{1, 0, 0, 0, 0, 0, 0, 0}};
        Expect(row.sent < 0 || onVm_ || written.size() == row.sent,
               QStringLiteral("%1 sent").arg(written.size()));
        Expect(row.fault != Fault::CloseAt || written.mid(sentAtClose) == switchOff,
               "sent after closing");

        // The grids against the memory, the image and the file.
        const auto& memory = model().Eeprom().Memory();
        const EdidImage& shownImage = window->edidData();
        const QByteArray image = Bytes(shownImage);
        const int count = row.cmd == Read128 ? 128 : 256;
        const bool drawn = row.cmd == Open && !window->edidFile().empty();
        const bool read = (row.cmd == Read || row.cmd == Read128) && row.fault != Fault::CloseAt;
        QList<int> red, differing;
        for (int n = 1; n <= 256; ++n) {
            const auto shown = ParseHexText(Hex(n).toStdString()).value_or(0xFF);
            const QString at = QStringLiteral(" at byte %1").arg(n);
            if (IsRed(n)) red << n;
            if (memory[n - 1] != shown) differing << n;
            if (read && !(IsRed(n) && n <= count))
                Expect(shown == shownImage[n - 1] &&
                           shown == (n <= count ? memory : imageBefore)[n - 1],
                       "read" + at);
            if (row.cmd == Write && !IsRed(n) && Colour(window->hexGrid(), n).isValid())
                Expect(memory[n - 1] == shown, "shown as written" + at);
            if (drawn)
                Expect(Hex(n) == QString::fromStdString(HexText(shownImage[n - 1])), "drawn" + at);
            if (row.cmd == Clear) Expect(Hex(n).isEmpty(), "not cleared" + at);
            if (row.red == Red::Unpainted)
                Expect(!Colour(window->hexGrid(), n).isValid(), "painted" + at);
        }
        const QString redText =
            QStringLiteral("red: %1 bytes, from %2").arg(red.size()).arg(red.value(0));
        if (row.red == Red::Sums)
            Expect(red == BadBlockEnds(shownImage, drawn ? 256 : count), redText);
        Expect(row.red != Red::All || red.size() == 256, redText);
        Expect(row.red != Red::Scattered || (!red.isEmpty() && red.size() < 192), redText);
        Expect(row.red != Red::Differ || red == differing, redText);

        const Outcome outcome = row.outcome;
        const QByteArray zeros(256, 0);
        if (row.cmd == Write) {
            Expect(outcome != Outcome::Equal || differing.isEmpty(),
                   "memory differs from the grids");
            Expect(outcome != Outcome::Zeros || Bytes(memory) == zeros, "memory not zero");
            Expect(outcome != Outcome::Unchanged || memory == memoryBefore, "memory changed");
        }
        if (row.cmd == Open)
            Expect(image == (outcome == Outcome::Equal   ? ReadAll(chosen_)
                             : outcome == Outcome::Zeros ? zeros
                                                         : Bytes(imageBefore)),
                   "opened image");
        if (row.cmd == Clear) Expect(image == zeros, "image not cleared");
        if (row.cmd == Save) {
            const QString saved = QString::fromStdString(window->edidFile());
            Expect(outcome != Outcome::Equal || ReadAll(saved) == image, "saved file");
            Expect(outcome != Outcome::Unchanged || ReadAll(chosen_) == fileBefore,
                   "old file not kept");
            Expect(picked || QDir(folder_).entryList(QDir::Files | QDir::Hidden) == listed,
                   "a file written");
        }
        Expect(QDir(folder_).entryList({".quillon-save-*"}, QDir::Hidden | QDir::Files).isEmpty(),
               "temporary left");

        // What the operator was asked and told, and the file names kept.
        const bool file = row.cmd == Open || row.cmd == Save;
        QStringList expected;
        if (row.cmd == Write)
            expected << QStringLiteral(
                            "EDID Overwrite|Do you wish to overwrite the EDID of the Connected "
                            "Device?|0|%1")
                            .arg(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel |
                                 QMessageBox::No << 1);
        if (file)
            expected << (row.cmd == Open ? "Select the name of the file to READ|*.hex;*.bin;*.xml"
                                         : "Select the name of the file to SAVE|*.hex;*.bin");
        if (QString(row.file) == "over.bin") expected << seen_.value(1);  // Qt's own question
        const QString message = seen_.isEmpty() ? QString() : seen_.back().section('|', 1, -3);
        if (file && *row.text)
            expected << QStringLiteral("Orvane Quillon|%1|0|%2").arg(message).arg(QMessageBox::Ok);
        Expect(seen_ == expected && (!file || !*row.text || message.startsWith(row.text)),
               "shown: " + seen_.join(" / "));
        if (file) {
            const QString name = QString::fromStdString(window->edidFile());
            Expect(picked ? name.startsWith(chosen_) : name.toStdString() == nameBefore,
                   "file name " + name);
            Expect(window->filePattern() == (row.cmd == Open && !picked ? "" : "*.hex"),
                   "file pattern");
        }
        const QString result = window->resultText();
        Expect(row.cmd == Scan ? !*row.text || result == row.text : result.isEmpty(),
               "result " + result);
        for (const QString& line : result.split("\r\n", Qt::SkipEmptyParts))
            Expect(QStringList({"160 (A0)", "161 (A1)", rows::kNone}).contains(line) ||
                       row.fault == Fault::Device0,
                   "found " + line);
        if (row.cmd == Scan) Click("Scan");  // a second scan starts from an empty box
        Expect(row.cmd != Scan || !*row.text || onVm_ || window->resultText() == result,
               "second scan");
        QVERIFY2(wrong_.isEmpty(), qPrintable(wrong_.join("; ")));
        if (row.fault == Fault::CloseAt) return;

        // The window is usable: the controls enabled, the I2C buttons while it has an adapter.
        for (const char* name :
             {"SaveFile", "ReadFile", "ClearResult", "ByteOption_0", "ByteOption_1"})
            QVERIFY2(B(name)->isEnabled(), name);
        QCOMPARE(B("IICReadButton")->isEnabled() + B("IICWriteButton")->isEnabled(),
                 row.after == After::Off ? 0 : 2);
        QCOMPARE(B("ByteOption_0")->isChecked(), window->byteCount() == 128);
#ifdef QUILLON_X_WORLD
        if (inX_) {  // the pointer normal, the focus back, and the next real click takes effect
            x_.MoveTo(RestingSpot());
            QTRY_COMPARE_WITH_TIMEOUT(x_.CursorImage(), normalPointer_, 10000);
            // Which window a window manager activates once a dialog closes is its own choice
            // (openbox takes the one under the pointer): a click on the background activates
            // ours, and the window's own focus must then be the button again.
            if (x_.WindowManagerRuns() &&
                !QTest::qWaitFor([&] { return window->isActiveWindow(); }, 3000))
                x_.ClickAt(RestingSpot());
            if (x_.WindowManagerRuns())
                QTRY_VERIFY2_WITH_TIMEOUT(
                    window->isActiveWindow() && QApplication::focusWidget() == B(button),
                    qPrintable(QStringLiteral("active %1, focus on %2")
                                   .arg(window->isActiveWindow())
                                   .arg(QApplication::focusWidget()
                                            ? QApplication::focusWidget()->objectName()
                                            : "nothing")),
                    10000);
            QAbstractButton* other =
                B(B("ByteOption_0")->isChecked() ? "ByteOption_1" : "ByteOption_0");
            x_.Click(other);
            QTRY_VERIFY_WITH_TIMEOUT(other->isChecked(), 10000);
        }
#endif
        const IowKitHandle handle = window->iowHandle();
        QCOMPARE(handle != 0, row.after == After::Held || row.after == After::Reopened);
        QCOMPARE(handle == handleBefore, row.after == After::Held || (!handle && !handleBefore));

        // Once the fault is gone the next read is whole. Closing sends nothing, or switches the
        // I2C function off when the window holds Clear's handle.
        UseFileWriteCalls(nullptr);
        model().ClearFaults();
        model().SetLatency({});
        model().Eeprom().Memory() = iow::SampleEdid();
        if (handle == 0) Click("ClearResult"), Click("ByteOption_1"), Click("IICReadButton");
        QVERIFY(handle != 0 ||
                (window->edidData() == iow::SampleEdid() && !IsRed(128) && !IsRed(256)));
        model().ClearTraffic();
        window->close();
        QCOMPARE(window->iowHandle(), 0u);
        QCOMPARE(WrittenI2c(), handle != 0 ? switchOff : Reports{});
        const IowKitHandle again = IowKitOpenDevice();
        QVERIFY(again != 0);
        IowKitCloseDevice(again);
    }
};

}  // namespace quillon::testing
