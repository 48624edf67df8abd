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
#include <deque>
#include <numeric>

#include "commands/device_commands.h"
#include "device_faults.h"
#include "files/image_files.h"
#include "iowkit_contract.h"
#include "window_driver.h"

namespace quillon::testing {

enum class World { Offscreen, X, Vm };
enum class Cmd { Read, Read128, Write, Write128, Scan, Clear, Open, Save };
// Before the command: Usual is a read done for Write (then the memory filled with 0xEE), the
// sample image set but not drawn for Open and Save, a fresh window else. Cleared: Clear done
// (a handle held). NoAdapter: started without adapter, plugged in since, the backend's own
// time-out set, then Clear. Shown128: the sample image set and 128 chosen. Saved: the sample
// image saved as saved.hex.
enum class Pre { Usual, Cleared, NoAdapter, Shown128, Saved };
// What the window's own rows do besides a device fault: close the window at byte `param`;
// answer the overwrite question No, with Return or with Escape; fail the saved file's flush;
// plug the adapter in again (in its power-on state, I2C off), then click Clear; set the
// backend's own time-out again once Clear has opened the adapter.
enum class Act { Plain, CloseAt, No, Return, Escape, NoSync, Replug, SlowAgain };
// Which bytes end red: for a read or write as `Flagged` says (Sums: only the bad blocks' ends,
// on a read or an open); no cell painted at all.
enum class Red { Sums, Differ, All, Some, Scattered, Unpainted };
// The written memory, loaded image or saved file: what the grids show; unchanged; zeros.
enum class Content { Any, Equal, Unchanged, Zeros };
// Afterwards: no handle and the I2C buttons on; the handle kept; a new handle; no handle and
// the I2C buttons off.
enum class After { Free, Held, Reopened, Off };

struct Row {
    const char* name;
    Cmd cmd;
    Act act = Act::Plain;
    Fault fault = Fault::Ok;
    int param = 0;
    Red red = Red::Sums;
    Content content = Content::Any;
    int sent = -1;          // I2C reports that the command writes; -1: not counted
    const char* text = "";  // the scan's result, or the start of the one message shown
    const char* file = "";  // chosen in the file dialog; "": the dialog is cancelled
    Pre pre = Pre::Usual;
    int vm = 0;  // 1: also run against the kernel's driver; 2: only there (slow here)
    After after = After::Free;
    Fault also = Fault::Ok;
};

namespace rows {
using enum Cmd;
using enum Act;
using enum Fault;
using enum Red;
using enum Content;
using enum Pre;
using enum After;
inline constexpr char kFound[] = "160 (A0)\r\n161 (A1)\r\n";
inline constexpr char kNone[] = "No Devices found on I2C Buss";
inline constexpr char kNoFile[] = "Error Number:  2\r\nError Msg   : No such file or directory";
// clang-format off
inline const Row kOwnRows[] = {
    {.name = "read, window closed at byte 30", .cmd = Read, .act = CloseAt, .param = 30,
     .red = Some},
    {.name = "write, window closed at byte 1", .cmd = Write, .act = CloseAt, .param = 1,
     .red = Some},
    {.name = "write, window closed at byte 200", .cmd = Write, .act = CloseAt, .param = 200,
     .red = Some},
    {.name = "write, window closed at byte 200 of the read-back", .cmd = Write, .act = CloseAt,
     .param = 456, .red = Some},
    {.name = "read, late replies, adapter found by Clear", .cmd = Read, .act = SlowAgain,
     .fault = Late, .red = All, .pre = NoAdapter},
    {.name = "read, replugged, then Clear", .cmd = Read, .act = Replug, .red = Red::Sums, .vm = 2},
    {.name = "read after Clear", .cmd = Read, .red = Red::Sums, .sent = 513, .pre = Cleared},
    {.name = "write after Clear writes nothing", .cmd = Write, .red = All, .content = Unchanged,
     .sent = 1, .pre = Cleared},
    {.name = "write, answered No", .cmd = Write, .act = No, .red = Unpainted, .content = Unchanged,
     .sent = 0, .pre = Cleared, .after = Held},
    {.name = "write, Return is No", .cmd = Write, .act = Return, .red = Unpainted,
     .content = Unchanged, .sent = 0, .pre = Cleared, .after = Held},
    {.name = "write, Escape", .cmd = Write, .act = Escape, .red = Unpainted, .content = Unchanged,
     .sent = 0, .pre = Cleared, .after = Held},
    {.name = "write, replugged, then Clear", .cmd = Write, .act = Replug, .red = Red::Sums,
     .vm = 2},
    {.name = "scan, replugged, then Clear", .cmd = Scan, .act = Replug, .red = Unpainted,
     .text = kFound, .vm = 2, .after = Off},
    {.name = "scan after Clear", .cmd = Scan, .red = Unpainted, .sent = 257, .text = kFound,
     .pre = Cleared, .after = Off},
    {.name = "Clear finds an adapter, late replies", .cmd = Clear, .fault = Late, .red = Unpainted,
     .content = Zeros, .sent = 0, .pre = NoAdapter, .after = Reopened},
    {.name = "Clear twice", .cmd = Clear, .red = Unpainted, .content = Zeros, .sent = 0,
     .pre = Cleared, .after = Reopened},
    {.name = "Clear, gone after Clear", .cmd = Clear, .fault = Absent, .red = Unpainted,
     .content = Zeros, .sent = 0, .pre = Cleared, .after = Off},
    {.name = "Clear, gone since start-up", .cmd = Clear, .fault = Absent, .red = Unpainted,
     .content = Zeros, .sent = 0},
    {.name = "open, 128 chosen: all 256", .cmd = Open, .red = Red::Sums, .content = Equal,
     .sent = 0, .file = "counting.bin", .pre = Shown128},
    {.name = "open, no such file", .cmd = Open, .red = Red::Sums, .content = Unchanged, .sent = 0,
     .text = kNoFile, .file = "gone.bin"},
    {.name = "open, XML that does not load", .cmd = Open, .red = Red::Sums, .content = Unchanged,
     .sent = 0, .text = "Start-end tags", .file = "bad.xml"},
    {.name = "open, XML without BLOCK1", .cmd = Open, .red = Red::Sums, .content = Unchanged,
     .sent = 0, .text = "Error Number:  1001", .file = "half.xml"},
    {.name = "open, XML without DATAOBJ", .cmd = Open, .red = Red::Sums, .content = Zeros,
     .sent = 0, .file = "other.xml"},
    {.name = "open cancelled first", .cmd = Open, .red = Unpainted, .content = Unchanged,
     .sent = 0},
    {.name = "open, the name field's wildcards", .cmd = Open, .red = Unpainted,
     .content = Unchanged, .sent = 0, .file = "*.hex;*.bin;*.xml"},
    {.name = "open cancelled after Save", .cmd = Open, .red = Red::Sums, .content = Unchanged,
     .sent = 0, .pre = Saved},
    {.name = "open, Clear's handle held", .cmd = Open, .red = Unpainted, .content = Unchanged,
     .sent = 0, .pre = Cleared, .after = Held},
    {.name = "save over a file, 128 chosen", .cmd = Save, .red = Unpainted, .content = Equal,
     .sent = 0, .file = "over.bin", .pre = Shown128},
    {.name = "save without extension", .cmd = Save, .red = Unpainted, .content = Equal, .sent = 0,
     .file = "plain"},
    {.name = "save cancelled", .cmd = Save, .red = Unpainted, .content = Unchanged, .sent = 0,
     .pre = Saved},
    {.name = "save, the name field's wildcards", .cmd = Save, .red = Unpainted,
     .content = Unchanged, .sent = 0, .file = "*.hex;*.bin", .pre = Saved},
    {.name = "save, flush fails", .cmd = Save, .act = NoSync, .red = Unpainted,
     .content = Unchanged, .sent = 0, .text = "Error Number:  5", .file = "over.bin"},
};
// clang-format on

// The device rows as the window runs them, then its own.
inline QList<Row> Rows() {
    QList<Row> all;
    for (const DeviceRow& d : device_rows::kRows) {
        if (!(d.runs & (kWindow | kWindowVm))) continue;
        const bool scan = d.op == Op::Scan;
        std::string text;
        for (const QString& address : QString(d.found).split(' ', Qt::SkipEmptyParts))
            text += ScanLine(std::uint8_t(address.toUInt(nullptr, 16)));
        static std::deque<std::string> texts;  // the rows point at their text
        texts.push_back(d.found && text.empty() ? kNone : text);
        static constexpr std::pair<Op, Cmd> kCommands[] = {{Op::Read, Read},
                                                           {Op::Read128, Read128},
                                                           {Op::Write, Write},
                                                           {Op::Write128, Write128},
                                                           {Op::Scan, Scan}};
        static constexpr std::pair<Flagged, Red> kReds[] = {{Flagged::Nothing, Red::Sums},
                                                            {Flagged::Differ, Differ},
                                                            {Flagged::All, All},
                                                            {Flagged::Some, Some},
                                                            {Flagged::Scattered, Scattered}};
        Row row{
            .name = d.name,
            .cmd = std::ranges::find(kCommands, d.op, &std::pair<Op, Cmd>::first)->second,
            .fault = d.fault,
            .param = d.param,
            .red =
                scan ? Unpainted
                     : std::ranges::find(kReds, d.flagged, &std::pair<Flagged, Red>::first)->second,
            .sent = d.sent};
        row.text = texts.back().c_str();
        row.vm = d.runs & kWindowVm ? (d.runs & kWindow ? 1 : 2) : 0;
        row.also = d.also;
        all << row;
    }
    for (const Row& row : kOwnRows) all << row;
    return all;
}
}  // namespace rows

// The file layer's fault: the writer's flush fails.
inline FileWriteCalls Calls(Act act) {
    FileWriteCalls calls = RealFileWriteCalls();
    if (act == Act::NoSync) calls.fsync = [](int) { return errno = EIO, -1; };
    return calls;
}

class CommandTable : public QObject {
    Q_OBJECT

  public:
    CommandTable(iow::AdapterRig& rig, World world)
        : rig_(rig), onVm_(world == World::Vm), inX_(world == World::X), hands_(inX_) {}

  private:
    using Reports = QList<std::vector<std::uint8_t>>;
    iow::AdapterRig& rig_;
    bool onVm_, inX_;
    OperatorHands hands_;
    QPointer<QWidget> answered_;  // the dialog or box last answered through the X server
    QElapsedTimer answeredAt_;
    const QList<Row> rows_ = rows::Rows();
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
    iow::FaultyLink& link() { return rig_.Link(); }
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
        hands_.Click(B(name));
        Expect(QTest::qWaitFor([&] { return done; }, 120000), "the click did not arrive");
        disconnect(c);
    }
    bool IsRed(int n) {
        return ByteColour(window->hexGrid(), n) == Qt::red &&
               ByteColour(window->charGrid(), n) == Qt::red;
    }
    QString Hex(int n) { return ByteText(window->hexGrid(), n); }
    Reports WrittenI2c() {
        Reports out;
        for (const auto& t : link().TrafficLog())
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
        if (inX_ && box != nullptr && hands_.WindowManagerRuns() && !box->isActiveWindow()) return;
        answered_ = modal;
        answeredAt_.start();
        if (auto* d = qobject_cast<QFileDialog*>(modal)) {
            seen_ << "dialog|";
            if (chosen_.isEmpty()) return hands_.Key(d, Qt::Key_Escape);
            return Expect(hands_.Choose(d, chosen_), "name typed");
        }
        if (box == nullptr) return;
        const bool qts = box->text().contains("exists");  // Qt's own overwrite question
        seen_ << (box->button(QMessageBox::Yes) ? qts ? "Qt's question|" : "question|"
                                                : "message|") +
                     box->text();
        const Act act = box->button(QMessageBox::Yes) && !qts ? row_->act : Act::Plain;
        if (act == Act::Escape || act == Act::Return)
            return hands_.Key(box, act == Act::Escape ? Qt::Key_Escape : Qt::Key_Return);
        hands_.Click(box->button(act == Act::No                  ? QMessageBox::No
                                 : box->button(QMessageBox::Yes) ? QMessageBox::Yes
                                                                 : QMessageBox::Ok));
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
        const bool file = row.cmd == Cmd::Open || row.cmd == Cmd::Save,
                   clear = row.cmd == Cmd::Clear,
                   writing = row.cmd == Cmd::Write || row.cmd == Cmd::Write128;
        model().SetPresent(row.pre != Pre::NoAdapter);
        window = std::make_unique<Form1>();
        window->show();
        model().SetPresent(true);
        if (row.cmd == Cmd::Read128 || (writing && row.pre == Pre::Usual)) Click("IICReadButton");
        if (row.cmd == Cmd::Read128 || row.cmd == Cmd::Write128 || row.pre == Pre::Shown128)
            Click("ByteOption_0");
        if (writing) model().Eeprom().Memory().fill(0xEE);
        if (clear && row.pre != Pre::Cleared) Click("Scan");  // something in the box to clear
        if (row.pre == Pre::NoAdapter) {
            // The backend's own time-out, as in a program that found no adapter at start-up;
            // then Clear finds the one plugged in since.
            const IowKitHandle handle = IowKitOpenDevice();
            IowKitSetTimeout(handle, 1000);
            IowKitCloseDevice(handle);
        }
        if (row.pre == Pre::Cleared || (row.pre == Pre::NoAdapter && !clear)) Click("ClearResult");
        // Only the command's own open can give the adapter the read time-out now.
        if (row.act == Act::SlowAgain) IowKitSetTimeout(window->iowHandle(), 1000);
        if ((file && row.pre != Pre::Cleared) || clear) window->setEdidData(iow::SampleEdid());
        if (clear) window->RefreshGrids();
        if (row.pre == Pre::Saved) chosen_ = folder_ + "/saved.hex", Click("SaveFile");
        UseFileWriteCalls(&(calls_ = Calls(row.act)));
        // The memory's write cycle is met by the plain write only (and the rows about it).
        if (writing && (row.fault != Fault::Ok || row.act != Act::Plain))
            model().Eeprom().SetWriteCycle({});
        Apply(link(), row.fault, row.param, row.also);
        if (row.act == Act::Replug) {  // plugged in again in its power-on state, then Clear
            model().SetPresent(false);
            model().SetPresent(true);
            Click("ClearResult");
            if (writing) window->setEdidData(iow::SampleEdid()), window->RefreshGrids();
        }
    }

    // The rows that the X world runs: every one that shows a dialog or a box, and a read.
    static bool InX(const Row& row) {
        return (row.cmd == Cmd::Write || row.cmd == Cmd::Open || row.cmd == Cmd::Save ||
                row.name == std::string("read")) &&
               !QString(row.file).contains('*');
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
        for (int i = 0; i < rows_.size(); ++i)
            if (onVm_ ? rows_[i].vm > 0 : rows_[i].vm < 2 && (!inX_ || InX(rows_[i])))
                QTest::newRow(rows_[i].name) << i;
    }
    void commandUnderFault() {
        using enum Cmd;
        QFETCH(int, index);
        const Row& row = *(row_ = &rows_[index]);
        rig_.Fresh();
        QDir().mkpath(folder_ = dir_.filePath(QString::number(index)));
        QByteArray counting(256, 0);
        std::iota(counting.begin(), counting.end(), 0);
        for (const auto& [name, bytes] :
             {std::pair{"counting.bin", counting},
              {"over.bin", QByteArray(1000, 'o')},
              {"bad.xml", "<DATAOBJ><DATA>"},
              {"other.xml", "<ROOT/>"},
              {"half.xml", "<DATAOBJ><DATA><BLOCK0/></DATA></DATAOBJ>"}})
            QVERIFY(Put(folder_ + '/' + name, bytes));
        Prepare(row);
        if (inX_) QVERIFY(hands_.Shown(window.get()));
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
        AtByte closer(  // past 256: in the read-back
            *window, row.act == Act::CloseAt ? (row.param - 1) % 256 + 1 : 0,
            [&] { sentAtClose = int(WrittenI2c().size()), window->close(); }, 1 + row.param / 257);
        link().ClearTraffic();
        gatedSamples_ = 0;
        QElapsedTimer timer;
        timer.start();
        const char* button = std::array{"IICReadButton",  "IICReadButton", "IICWriteButton",
                                        "IICWriteButton", "Scan",          "ClearResult",
                                        "ReadFile",       "SaveFile"}[int(row.cmd)];
        Click(button, true);
        const bool declined = row.act >= Act::No && row.act <= Act::Escape;
        Expect(timer.elapsed() < 30000, "longer than the time-outs allow");
        Expect(!window->commandRunning() && !QApplication::overrideCursor(), "still running");
        // Every command but Clear (and a write not confirmed) runs with the wait pointer up.
        Expect((gatedSamples_ > 0) == (row.cmd != Clear && !declined), "no wait pointer");
        const Reports written = WrittenI2c(), switchOff{{1, 0, 0, 0, 0, 0, 0, 0}};
        Expect(row.sent < 0 || onVm_ || written.size() == row.sent,
               QStringLiteral("%1 sent").arg(written.size()));
        Expect(row.act != Act::CloseAt || written.mid(sentAtClose) == switchOff,
               "sent after closing");
        // The handle that Clear holds has the read time-out too.
        Expect(row.cmd != Clear || row.fault != Fault::Late ||
                   !IicReadEepromByte(window->iowHandle(), 0).ok,
               "a late reply taken on Clear's handle");

        // The grids against the memory, the image and the file.
        const auto& memory = model().Eeprom().Memory();
        const EdidImage& shownImage = window->edidData();
        const QByteArray image = Bytes(shownImage);
        const int count = row.cmd == Read128 || row.cmd == Write128 ? 128 : 256;
        const bool drawn = row.cmd == Open && !window->edidFile().empty();
        const bool read = (row.cmd == Read || row.cmd == Read128) && row.act != Act::CloseAt;
        const bool writing =
            (row.cmd == Write || row.cmd == Write128) && !declined && row.act != Act::CloseAt;
        Reported red;
        EdidImage shown{};
        for (int n = 1; n <= 256; ++n) {
            shown[n - 1] = ParseHexText(Hex(n).toStdString()).value_or(0xFF);
            const QString at = QStringLiteral(" at byte %1").arg(n);
            if (IsRed(n)) red.flagged << n - 1;
            if (read && !IsRed(n)) Expect(shown[n - 1] == shownImage[n - 1], "grid and image" + at);
            if (read && n > count) Expect(shown[n - 1] == imageBefore[n - 1], "not kept" + at);
            if (drawn)
                Expect(Hex(n) == QString::fromStdString(HexText(shownImage[n - 1])), "drawn" + at);
            if (row.cmd == Clear) Expect(Hex(n).isEmpty(), "not cleared" + at);
            if (row.red == Red::Unpainted)
                Expect(!ByteColour(window->hexGrid(), n).isValid(), "painted" + at);
        }
        if ((read || writing) && row.red != Red::Unpainted)
            wrong_ << AgainstMemory(red, Flagged(int(row.red)), writing, count, shown, memory,
                                    memoryBefore, read ? BadBlockEnds(shown, count) : QList<int>{});
        if (row.cmd == Open && row.red == Red::Sums)
            Expect(red.flagged == BadBlockEnds(shownImage, drawn ? 256 : count), "red on open");

        const Content content = row.content;
        const QByteArray zeros(256, 0);
        if (row.cmd == Write)
            Expect(content != Content::Unchanged || memory == memoryBefore, "memory changed");
        if (row.cmd == Open)
            Expect(image == (content == Content::Equal   ? ReadAll(chosen_)
                             : content == Content::Zeros ? zeros
                                                         : Bytes(imageBefore)),
                   "opened image");
        if (row.cmd == Clear) Expect(image == zeros, "image not cleared");
        if (row.cmd == Save) {
            const QString saved = QString::fromStdString(window->edidFile());
            Expect(content != Content::Equal || ReadAll(saved) == image, "saved file");
            Expect(content != Content::Unchanged || ReadAll(chosen_) == fileBefore,
                   "old file not kept");
            Expect(picked || QDir(folder_).entryList(QDir::Files | QDir::Hidden) == listed,
                   "a file written");
        }
        Expect(QDir(folder_).entryList({".quillon-save-*"}, QDir::Hidden | QDir::Files).isEmpty(),
               "temporary left");

        // What the operator was asked and told, and the file names kept.
        const bool file = row.cmd == Open || row.cmd == Save;
        QStringList expected;
        if (row.cmd == Write || row.cmd == Write128) expected << "question";
        if (file) expected << "dialog";
        if (QString(row.file) == "over.bin") expected << "Qt's question";
        if (file && *row.text) expected << "message";
        QStringList kinds;
        for (const QString& shown : seen_) kinds << shown.section('|', 0, 0);
        const QString message = seen_.isEmpty() ? QString() : seen_.back().section('|', 1);
        Expect(kinds == expected && (!file || !*row.text || message.startsWith(row.text)),
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
                       row.fault == Fault::Device0 || row.fault == Fault::Device51,
                   "found " + line);
        if (row.cmd == Scan) Click("Scan");  // a second scan starts from an empty box
        Expect(row.cmd != Scan || !*row.text || onVm_ || window->resultText() == result,
               "second scan");
        QVERIFY2(wrong_.isEmpty(), qPrintable(wrong_.join("; ")));
        if (row.act == Act::CloseAt) return;

        // The window is usable: the controls enabled, the I2C buttons while it has an adapter.
        for (const char* name :
             {"SaveFile", "ReadFile", "ClearResult", "ByteOption_0", "ByteOption_1"})
            QVERIFY2(B(name)->isEnabled(), name);
        QCOMPARE(B("IICReadButton")->isEnabled() + B("IICWriteButton")->isEnabled(),
                 row.after == After::Off ? 0 : 2);
        QCOMPARE(B("ByteOption_0")->isChecked(), window->byteCount() == 128);
        const QString unusable = hands_.UsableAfterCommand(  // in the X world
            window.get(), B(button),
            B(B("ByteOption_0")->isChecked() ? "ByteOption_1" : "ByteOption_0"));
        QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
        const IowKitHandle handle = window->iowHandle();
        QCOMPARE(handle != 0, row.after == After::Held || row.after == After::Reopened);
        QCOMPARE(handle == handleBefore, row.after == After::Held || (!handle && !handleBefore));

        // Once the fault is gone the next read is whole. Closing sends nothing, or switches the
        // I2C function off when the window holds Clear's handle.
        UseFileWriteCalls(nullptr);
        link().ClearFaults();
        model().SetLatency({});
        model().Eeprom().Memory() = iow::SampleEdid();
        if (handle == 0) Click("ClearResult"), Click("ByteOption_1"), Click("IICReadButton");
        QVERIFY(handle != 0 ||
                (window->edidData() == iow::SampleEdid() && !IsRed(128) && !IsRed(256)));
        link().ClearTraffic();
        window->close();
        QCOMPARE(window->iowHandle(), 0u);
        QCOMPARE(WrittenI2c(), handle != 0 ? switchOff : Reports{});
        const IowKitHandle again = IowKitOpenDevice();
        QVERIFY(again != 0);
        IowKitCloseDevice(again);
    }
};

}  // namespace quillon::testing
