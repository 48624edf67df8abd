#pragma once

// What every adapter backend promises through the IowKit functions and the link operations,
// run once per backend: the virtual backend directly and, in the test VM, the Linux backend over
// the kernel's own driver. Most cases are one-line scripts (see Step).

#include <QElapsedTimer>
#include <QtTest>

#include "faulty_link.h"
#include "iic/i2c_report.h"
#include "iic/iic.h"
#include "iow/iowkit.h"
#include "iow/report_size.h"

namespace quillon::iow {

// Reaches the emulated adapter behind a backend.
class AdapterRig {
  public:
    virtual ~AdapterRig() = default;
    // The link to the adapter, once the adapter is idle.
    virtual FaultyLink& Link() = 0;
    VirtualAdapter& Model() { return Link().Model(); }
    // A freshly plugged adapter with no faults and an empty traffic log.
    virtual void Fresh() = 0;
    std::uint32_t ProductId() { return Model().ProductId(); }
    // Whether the traffic log records the reports read (a real USB stack hands them to the
    // driver, out of the emulator's sight).
    virtual bool SeesReads() const { return true; }
};

using Bytes = std::vector<std::uint8_t>;

class IowKitContract : public QObject {
    Q_OBJECT

  public:
    explicit IowKitContract(AdapterRig& rig) : rig_(rig) {}

  private:
    AdapterRig& rig_;
    IowKitHandle handle_ = 0;
    QElapsedTimer timer_;
    QStringList seen_;

    VirtualAdapter& model() { return rig_.Model(); }
    FaultyLink& link() { return rig_.Link(); }
    // "W" for each report written on the I2C pipe, "R" for each read, in order.
    QString Pattern() {
        QString p;
        for (const auto& t : link().TrafficLog())
            if (t.pipe == 1 && (rig_.SeesReads() || t.direction == decltype(t.direction)::Written))
                p += t.direction == decltype(t.direction)::Written ? 'W' : 'R';
        return p;
    }
    QString Written() {  // the reports written on the I2C pipe, "0282A07F" each, no zeros
        QStringList out;
        for (const auto& t : link().TrafficLog())
            if (t.pipe == 1 && t.direction == decltype(t.direction)::Written) {
                QByteArray hex = QByteArray(reinterpret_cast<const char*>(t.bytes.data()), 8);
                while (hex.endsWith('\0')) hex.chop(1);
                out << hex.toHex().toUpper();
            }
        return out.join('/');
    }
    IowKitHandle OpenEnabled() {
        handle_ = IowKitOpenDevice();
        IowKitSetTimeout(handle_, 200);
        IicEnable(handle_, 1);
        link().ClearTraffic();
        return handle_;
    }

    // One step of a script. Link operations: rOF reads offset OF (hex) and expects the sample
    // byte (rOF=VV: the byte VV); wOF=VV writes VV and expects the memory to hold it; pAA
    // probes address byte AA and expects an answer. A trailing ! expects a failure (a read
    // value of 0, no answer), a trailing ? allows one but a success must hold. mOF=VV: the
    // memory holds VV ("sample": the sample byte). Before r or w, what runs while the first
    // request is out: y notes the traffic so far, n refuses (the exchange is abandoned), l makes
    // the replies late. Faults: drop<n> (-1: all), refuse<AA>, unplug<n>, latency<ms>,
    // cycle<ms>, stop, start, replug (plugged in again, I2C off); xFF: a write report with flags
    // FF, which gets no reply. Settings: timeout<ms>,
    // instant; reopen (closed and opened again). Checks: traffic=<W and R>, sent=<reports>,
    // seen=<traffic noted, comma-separated>, under<ms> and over<ms> since the script began or
    // since the last t0.
    void Step(const QString& step) {
        const bool fails = step.endsWith('!');
        const auto hex = [](const QString& s) { return std::uint8_t(s.toUInt(nullptr, 16)); };
        const auto number = [&](int from) { return step.mid(from).toInt(); };
        const auto ms = [&](int from) { return std::chrono::milliseconds(number(from)); };
        const auto check = [&](bool ok) { QVERIFY2(ok, qPrintable(step + " in " + Pattern())); };
        if (step.startsWith("drop")) return link().DropReplies(number(4));
        if (step.startsWith("refuse")) return model().Eeprom().Refuse(hex(step.mid(6)));
        if (step.startsWith("unplug")) return link().UnplugAfterExchanges(number(6));
        if (step.startsWith("latency")) return model().SetLatency(ms(7));
        if (step.startsWith("cycle")) return model().Eeprom().SetWriteCycle(ms(5));
        if (step.startsWith("timeout")) return void(IowKitSetTimeout(handle_, number(7)));
        if (step == "stop" || step == "start") return link().SetTakingReports(step == "start");
        if (step == "instant") return link().SetInstantTimeouts(true);
        if (step == "t0") return void(timer_.start());
        if (step.startsWith('x')) {  // a write report with flags XX to A0: no reply comes
            Bytes report{kReportI2cWrite, hex(step.mid(1)), 0xA0, 0, 0, 0, 0, 0};
            IowKitWrite(handle_, kIowPipeI2c, report.data(), 8);
            return check(IowKitRead(handle_, kIowPipeI2c, report.data(), 8) == 0);
        }
        if (step.startsWith("traffic="))
            return check(Pattern() == step.mid(8).remove(rig_.SeesReads() ? "" : "R"));
        if (step.startsWith("sent=")) return check(Written() == step.mid(5));
        if (step.startsWith("under")) return check(timer_.elapsed() < number(5));
        if (step.startsWith("over")) return check(timer_.elapsed() >= number(4));
        if (step == "replug") {
            IowKitCloseDevice(handle_);
            model().SetPresent(false);
            link().ClearFaults();
            return void(handle_ = IowKitOpenDevice());
        }
        if (step == "reopen") return IowKitCloseDevice(handle_), void(OpenEnabled());
        if (step.startsWith("seen="))
            return check(seen_.join(',') == step.mid(5).remove(rig_.SeesReads() ? "" : "R"));
        const QChar how = QString("ynl").contains(step[0]) ? step[0] : QChar();
        const QString op = how.isNull() ? step : step.mid(1);
        const WhileWaiting whileWaiting = [&, how] {
            if (how == 'l') model().SetLatency(std::chrono::milliseconds(300));
            if (how == 'y') seen_ << Pattern();
            return how != 'n';
        };
        if (!QString("rwmp").contains(op[0])) QFAIL(qPrintable("unknown step " + step));
        const bool mayFail = step.endsWith('?');
        const std::uint8_t offset = hex(op.mid(1).remove('!').section('=', 0, 0).remove('?'));
        const QString valueText = op.section('=', 1).remove('!').remove('?');
        const std::uint8_t value =
            valueText.isEmpty() || valueText == "sample" ? SampleEdid()[offset] : hex(valueText);
        if (op[0] == 'm') return check(model().Eeprom().Memory()[offset] == value);
        if (op[0] == 'r') {
            const IicByte byte = IicReadEepromByte(handle_, offset, whileWaiting);
            if (how == 'n') return check(byte.abandoned);
            return check(byte.ok != fails && byte.value == (fails ? 0 : value));
        }
        if (op[0] == 'w') {
            const IicWriteResult written = IicWriteEepromByte(handle_, offset, value, whileWaiting);
            const bool held = model().Eeprom().Memory()[offset] == value;
            if (how == 'n') return check(written.abandoned);
            return check(mayFail ? !written || held : bool(written) != fails && (fails || held));
        }
        if (op[0] == 'p')
            return check(bool(IicProbeAddress(handle_, hex(op.mid(1).remove('!')))) != fails);
    }

  private slots:
    void init() { rig_.Fresh(); }
    void cleanup() {
        // Close whatever a failed test left open, so that the next one can open the adapter.
        model().SetPresent(true);
        link().SetTakingReports(true);
        for (int n = 1; n <= 4; ++n) IowKitCloseDevice(IowKitGetDeviceHandle(1));
    }

    void script_data() {
        QTest::addColumn<QString>("script");
        const auto row = [](const char* name, const char* script) {
            QTest::newRow(name) << script;
        };
        row("exact reports, one reply each",
            "cycle0 r7F wFF=5A p50! pA0 pA1 traffic=WRWRWRWRWRWR "
            "sent=0282A07F/0301A1/02C3A0FF5A/02C150/02C1A0/02C1A1");
        row("the whole memory reads back", "r00 r01 r7E r7F r80 rA5 rFE rFF");
        row("polling rides out the write cycle",
            "latency0 w00=C0 w01=C1 w02=C2 w03=C3 r00=C0 r03=C3");
        row("a write cycle beyond the poll limit", "cycle200 w01=11 t0 w02=22! over49 m02=sample");
        row("a write report the chip ignores gets no reply", "timeout60 x80 xBF r05");
        row("lost replies fail, then work again",
            "instant cycle0 drop1 r09! r09 drop1 pA0! drop1 w04=04! w04=04");
        row("a refused address fails", "refuseA0 w04=05! m04=sample r04! pA1 pA0!");
        row("unplugged: fails at once", "unplug1 r00! t0 w00=01! pA0! under150");
        row("a read waits out its time-out", "timeout60 drop-1 r10! over55");
        row("a late yes is not the next probe's", "latency300 pA0! latency0 p50! pA0 p52!");
        row("a late ack is not the next byte's",
            "cycle300 latency300 w02=22! latency0 w03=33? w04=34?");
        row("reports before enable get no reply", "replug timeout20 r03! pA0!");
        row("taking reports again, it answers", "stop r00! start r00");
        row("the yield runs once the first request is out, and a refusal sends nothing more",
            "cycle0 yr05 yw05=77 seen=W,WRWRW reopen nr05 traffic=W reopen nw05=01 traffic=W "
            "reopen r20");
        row("the driver keeps replies across close and open: an old byte is not the new one",
            "lr10! latency0 reopen r20");
    }
    void script() {
        QFETCH(QString, script);
        OpenEnabled();
        timer_.start();
        seen_.clear();
        for (const QString& step : script.split(' ')) {
            Step(step);
            if (QTest::currentTestFailed()) return IowKitCloseDevice(handle_);
        }
        IowKitCloseDevice(handle_);
    }

    void openFindsThePluggedAdapterAndNothingElse() {
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        QCOMPARE(IowKitGetNumDevs(), 1u);
        QCOMPARE(IowKitGetDeviceHandle(1), handle);
        QCOMPARE(IowKitGetDeviceHandle(2), 0u);
        QCOMPARE(IowKitGetProductId(handle), rig_.ProductId());
        QCOMPARE(IowKitGetRevision(handle), VirtualAdapter::kRevision);
        QCOMPARE(ReportBytes(handle, kIowPipeI2c), std::uint32_t(model().ReportBytes(kIowPipeI2c)));
        Bytes serial(kIowSerialBufferBytes, 0xEE);
        QVERIFY(IowKitGetSerialNumber(handle, serial.data()));
        QCOMPARE(serial,
                 (Bytes{'0', 0, '0', 0, '0', 0, '0', 0, 'A', 0, '5', 0, 'E', 0, '1', 0, 0, 0}));
        const IowKitHandle second = IowKitOpenDevice();  // one program at a time
        IowKitCloseDevice(handle);
        QCOMPARE(second, 0u);
        Bytes report{1, 1, 0, 0, 0, 0, 0, 0};
        QCOMPARE(IowKitWrite(handle, 1, report.data(), 8), 0u);  // a closed handle finds nothing
        const IowKitHandle again = IowKitOpenDevice();
        QVERIFY(again != 0 && again != handle);
        IowKitCloseDevice(again);
        model().SetPresent(false);
        QCOMPARE(IowKitOpenDevice(), 0u);
        QCOMPARE(IowKitGetNumDevs() + IowKitGetDeviceHandle(1) + IowKitGetProductId(0), 0u);
        QCOMPARE(IowKitWrite(0, 1, report.data(), 8) + IowKitRead(0, 1, report.data(), 8), 0u);
        QCOMPARE(report, (Bytes{1, 1, 0, 0, 0, 0, 0, 0}));
        QVERIFY(!IowKitGetSerialNumber(0, serial.data()));
    }
};

}  // namespace quillon::iow
