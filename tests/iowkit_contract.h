#pragma once

// What every adapter backend promises through the IowKit functions and the link operations,
// run once per backend: the virtual backend directly, the Linux backend over a fake driver.

#include <QElapsedTimer>
#include <QtTest>

#include "commands/device_commands.h"
#include "iic/iic.h"
#include "iow/iowkit.h"
#include "iow/virtual/virtual_adapter.h"
#include "recording_window.h"

namespace quillon::iow {

// Reaches the emulated adapter behind a backend.
class AdapterRig {
  public:
    virtual ~AdapterRig() = default;
    virtual VirtualAdapter& Model() = 0;
    // A freshly plugged adapter with no faults and an empty traffic log.
    virtual void Fresh() = 0;
    virtual std::uint32_t ProductId() const { return VirtualAdapter::kProductId; }
    // Calls that would have hung on the real system, one line each; empty when none.
    virtual std::string Violations() { return {}; }
    // Whether the traffic log records the reports that the program read (a real USB stack
    // hands them to the driver, out of the emulator's sight).
    virtual bool SeesReads() const { return true; }
};

using Bytes = std::vector<std::uint8_t>;

inline Bytes Report(std::initializer_list<int> bytes) {
    Bytes report(8, 0);
    int k = 0;
    for (int b : bytes) report[k++] = static_cast<std::uint8_t>(b);
    return report;
}

class IowKitContract : public QObject {
    Q_OBJECT

  public:
    explicit IowKitContract(AdapterRig& rig) : rig_(rig) {}

  private:
    VirtualAdapter& model() { return rig_.Model(); }

    // The reports written on the I2C pipe since the traffic log was cleared, and whether a
    // read followed each.
    QList<Bytes> WrittenI2c() const {
        QList<Bytes> out;
        for (const auto& t : rig_.Model().TrafficLog()) {
            if (t.direction == VirtualAdapter::Traffic::Direction::Written && t.pipe == 1)
                out << t.bytes;
        }
        return out;
    }
    QString Pattern() const {  // "W" for a report written, "R" for one read, in order
        QString p;
        for (const auto& t : rig_.Model().TrafficLog()) {
            if (t.pipe == 1)
                p += t.direction == VirtualAdapter::Traffic::Direction::Written ? 'W' : 'R';
        }
        return p;
    }

    // An expected traffic pattern, without the reads when the rig cannot see them.
    QString Flow(const char* pattern) const {
        QString p = QString::fromLatin1(pattern);
        return rig_.SeesReads() ? p : p.remove(u'R');
    }

    IowKitHandle OpenEnabled() {
        const IowKitHandle handle = IowKitOpenDevice();
        IowKitSetTimeout(handle, 200);
        IicEnable(handle, 1);
        model().ClearTraffic();
        return handle;
    }

  private slots:
    void init() { rig_.Fresh(); }
    void cleanup() {
        const std::string violations = rig_.Violations();
        // Close whatever a failed test left open, so the next one can open the adapter.
        model().SetPresent(true);
        model().SetTakingReports(true);
        for (int n = 1; n <= 4; ++n) IowKitCloseDevice(IowKitGetDeviceHandle(1));
        QVERIFY2(violations.empty(), violations.c_str());
    }

    void openFindsThePluggedAdapter() {
        const IowKitHandle handle = IowKitOpenDevice();
        QVERIFY(handle != 0);
        QCOMPARE(IowKitGetNumDevs(), 1u);
        QCOMPARE(IowKitGetDeviceHandle(1), handle);
        QCOMPARE(IowKitGetDeviceHandle(2), 0u);
        QCOMPARE(IowKitGetProductId(handle), rig_.ProductId());
        QCOMPARE(IowKitGetRevision(handle), VirtualAdapter::kRevision);
        std::uint8_t serial[kIowSerialBufferBytes];
        std::memset(serial, 0xEE, sizeof serial);
        QVERIFY(IowKitGetSerialNumber(handle, serial));
        const Bytes expected{'0', 0, '0', 0, '0', 0, '0', 0, 'A', 0, '5', 0, 'E', 0, '1', 0, 0, 0};
        QCOMPARE(Bytes(serial, serial + sizeof serial), expected);
        IowKitCloseDevice(handle);
        const auto report = Report({1, 1});
        QCOMPARE(IowKitWrite(handle, 1, report.data(), 8), 0u);  // a closed handle finds nothing
    }

    void absentAdapterOpensNothing() {
        model().SetPresent(false);
        QCOMPARE(IowKitOpenDevice(), 0u);
        QCOMPARE(IowKitGetNumDevs(), 0u);
        QCOMPARE(IowKitGetDeviceHandle(1), 0u);
        Bytes buffer = Report({2, 0xC1, 0x50});
        QCOMPARE(IowKitWrite(0, 1, buffer.data(), 8), 0u);
        QCOMPARE(IowKitRead(0, 1, buffer.data(), 8), 0u);
        QCOMPARE(buffer, Report({2, 0xC1, 0x50}));
        QCOMPARE(IowKitGetProductId(0), 0u);
        std::uint8_t serial[kIowSerialBufferBytes] = {};
        QVERIFY(!IowKitGetSerialNumber(0, serial));
        QCOMPARE(Bytes(serial, serial + sizeof serial), Bytes(sizeof serial, 0));
        QVERIFY(!IicReadEepromByte(0, 0).ok);
        QVERIFY(!IicProbeAddress(0, 0xA0));
    }

    void secondOpenWhileHeldFindsNothing() {
        const IowKitHandle first = IowKitOpenDevice();
        QVERIFY(first != 0);
        QCOMPARE(IowKitOpenDevice(), 0u);
        IowKitCloseDevice(first);
        const IowKitHandle again = IowKitOpenDevice();
        QVERIFY(again != 0);
        QVERIFY(again != first);
        IowKitCloseDevice(again);
    }

    void enableReportIsWrittenWithoutReply() {
        const IowKitHandle handle = IowKitOpenDevice();
        model().ClearTraffic();
        QCOMPARE(IicEnable(handle, 1), 8u);
        QCOMPARE(IicEnable(handle, 0), 8u);
        QCOMPARE(WrittenI2c(), (QList<Bytes>{Report({1, 1}), Report({1, 0})}));
        QCOMPARE(Pattern(), Flow("WW"));
        IowKitCloseDevice(handle);
    }

    void linkOperationsWriteExactReports() {
        const IowKitHandle handle = OpenEnabled();
        model().Eeprom().SetWriteCycle({});  // acknowledges at once: no polling
        const IicByte byte = IicReadEepromByte(handle, 0x7F);
        QVERIFY(byte.ok);
        QCOMPARE(byte.value, SampleEdid()[0x7F]);
        QVERIFY(IicWriteEepromByte(handle, 0xFF, 0x5A));
        QVERIFY(!IicProbeAddress(handle, 0x50));
        QVERIFY(IicProbeAddress(handle, 0xA0));
        QVERIFY(IicProbeAddress(handle, 0xA1));
        QCOMPARE(WrittenI2c(),
                 (QList<Bytes>{Report({2, 0x82, 0xA0, 0x7F}), Report({3, 1, 0xA1}),
                               Report({2, 0xC3, 0xA0, 0xFF, 0x5A}), Report({2, 0xC1, 0x50}),
                               Report({2, 0xC1, 0xA0}), Report({2, 0xC1, 0xA1})}));
        QCOMPARE(Pattern(), Flow("WRWRWRWRWRWR"));
        QCOMPARE(model().Eeprom().Memory()[0xFF], 0x5A);
        IowKitCloseDevice(handle);
    }

    void whileWaitingRunsWhileTheFirstRequestIsOut() {
        const IowKitHandle handle = OpenEnabled();
        model().Eeprom().SetWriteCycle({});
        QStringList seen;
        const IicByte byte = IicReadEepromByte(handle, 5, [&] {
            seen << Pattern();
            return true;
        });
        QVERIFY(byte.ok);
        QCOMPARE(seen, QStringList{"W"});  // once, after the set-address request was sent
        QCOMPARE(Pattern(), Flow("WRWR"));
        model().ClearTraffic();
        QVERIFY(IicWriteEepromByte(handle, 5, 0x77, [&] {
            seen << Pattern();
            return true;
        }));
        QCOMPARE(seen.last(), QStringLiteral("W"));
        IowKitCloseDevice(handle);
    }

    void whileWaitingCanAbandonTheOperation() {
        IowKitHandle handle = OpenEnabled();
        const IicByte byte = IicReadEepromByte(handle, 5, [] { return false; });
        QVERIFY(byte.abandoned);
        QVERIFY(!byte.ok);
        QCOMPARE(Pattern(), Flow("W"));  // no reply read, nothing more sent
        IowKitCloseDevice(handle);
        handle = OpenEnabled();
        const IicWriteResult write = IicWriteEepromByte(handle, 5, 1, [] { return false; });
        QVERIFY(write.abandoned);
        QCOMPARE(Pattern(), Flow("W"));
        IowKitCloseDevice(handle);
    }

    void wholeMemoryReadsBack() {
        const IowKitHandle handle = OpenEnabled();
        for (int offset = 0; offset < 256; ++offset) {
            const IicByte byte = IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
            QVERIFY(byte.ok);
            QCOMPARE(byte.value, SampleEdid()[offset]);
        }
        IowKitCloseDevice(handle);
    }

    void reportsBeforeEnableGetNoReply() {
        const IowKitHandle handle = IowKitOpenDevice();
        IowKitSetTimeout(handle, 20);
        const IicByte byte = IicReadEepromByte(handle, 3);
        QVERIFY(!byte.ok);
        QCOMPARE(byte.value, 0);
        QVERIFY(!IicProbeAddress(handle, 0xA0));
        IowKitCloseDevice(handle);
    }

    void ackPollingRidesOutTheWriteCycle() {
        const IowKitHandle handle = OpenEnabled();
        model().SetLatency(std::chrono::microseconds(200));
        for (int offset = 0; offset < 16; ++offset) {
            QVERIFY(IicWriteEepromByte(handle, static_cast<std::uint8_t>(offset),
                                       static_cast<std::uint8_t>(0xC0 + offset)));
        }
        // The first read's set-address report meets the last write cycle too.
        for (int offset = 0; offset < 16; ++offset) {
            const IicByte byte = IicReadEepromByte(handle, static_cast<std::uint8_t>(offset));
            QVERIFY(byte.ok);
            QCOMPARE(byte.value, 0xC0 + offset);
        }
        // The busy memory refused some repeats: more write reports than bytes.
        QVERIFY(WrittenI2c().size() > 16 + 32);
        IowKitCloseDevice(handle);
    }

    void writeCycleLongerThanThePollLimitFails() {
        const IowKitHandle handle = OpenEnabled();
        model().Eeprom().SetWriteCycle(std::chrono::milliseconds(200));
        QVERIFY(IicWriteEepromByte(handle, 1, 0x11));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!IicWriteEepromByte(handle, 2, 0x22));
        QVERIFY(timer.elapsed() >= 19);
        QCOMPARE(model().Eeprom().Memory()[2], SampleEdid()[2]);
        IowKitCloseDevice(handle);
    }

    void failuresAreReported() {
        const IowKitHandle handle = OpenEnabled();
        model().SetInstantTimeouts(true);
        model().Eeprom().SetWriteCycle({});
        model().DropReplies(1);
        IicByte byte = IicReadEepromByte(handle, 9);
        QVERIFY(!byte.ok);
        QCOMPARE(byte.value, 0);
        QVERIFY(IicReadEepromByte(handle, 9).ok);  // the next exchange goes through again

        model().DropReplies(1);
        QVERIFY(!IicProbeAddress(handle, 0xA0));  // no reply: absent, whatever the buffer held
        model().DropReplies(1);
        QVERIFY(!IicWriteEepromByte(handle, 4, 4));

        model().RefuseAddress(0xA0);
        QVERIFY(!IicWriteEepromByte(handle, 4, 4));
        QVERIFY(!IicReadEepromByte(handle, 4).ok);
        QVERIFY(IicProbeAddress(handle, 0xA1));
        IowKitCloseDevice(handle);
    }

    void unpluggedAdapterFailsAtOnce() {
        const IowKitHandle handle = OpenEnabled();
        model().UnplugAfterExchanges(1);
        const IicByte byte =
            IicReadEepromByte(handle, 0);  // set address goes through, not the read
        QVERIFY(!byte.ok);
        QCOMPARE(byte.value, 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!IicWriteEepromByte(handle, 0, 1));
        QVERIFY(!IicProbeAddress(handle, 0xA0));
        const Bytes report = Report({1, 1});
        QCOMPARE(IowKitWrite(handle, 1, report.data(), 8), 0u);
        QVERIFY2(timer.elapsed() < 150, "a gone adapter must not wait for time-outs");
        IowKitCloseDevice(handle);
        QCOMPARE(IowKitOpenDevice(), 0u);
    }

    void readWaitsForTheTimeout() {
        const IowKitHandle handle = OpenEnabled();
        IowKitSetTimeout(handle, 60);
        model().DropReplies(-1);
        Bytes buffer = Report({3, 1, 0xA1});
        QVERIFY(IowKitWrite(handle, 1, buffer.data(), 8) == 8);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(IowKitRead(handle, 1, buffer.data(), 8), 0u);
        QVERIFY(timer.elapsed() >= 55);
        QCOMPARE(buffer, Report({3, 1, 0xA1}));  // untouched
        IowKitSetTimeout(handle, 200);
        IowKitCloseDevice(handle);
    }

    // The adapter's replies carry nothing that ties them to a request, and the driver keeps
    // them in order across close and open: a reply later than the time-out must never be
    // taken for the answer to a later request.
    void aReplyIsNeverCreditedToAnotherRequest_data() {
        QTest::addColumn<QString>("scene");
        QTest::newRow("bus scan: 0xA0's late yes is not 0x50's") << "scan";
        QTest::newRow("byte write: a late ack is not the next byte's") << "write cycle";
        QTest::newRow("read after reopen: an old byte is not the new one") << "reopen";
    }
    void aReplyIsNeverCreditedToAnotherRequest() {
        QFETCH(QString, scene);
        constexpr auto kLate = std::chrono::milliseconds(230);  // the time-out is 200 ms
        IowKitHandle handle = OpenEnabled();
        if (scene == "scan") {
            model().SetLatency(kLate);
            QVERIFY(!IicProbeAddress(handle, 0xA0));
            model().SetLatency({});
            QVERIFY(!IicProbeAddress(handle, 0x50));
            QVERIFY(IicProbeAddress(handle, 0xA0));
            QVERIFY(!IicProbeAddress(handle, 0x52));
        }
        if (scene == "write cycle") {  // the next byte meets the late one's write cycle
            model().Eeprom().SetWriteCycle(std::chrono::milliseconds(300));
            model().SetLatency(kLate);
            QVERIFY(!IicWriteEepromByte(handle, 2, 0x22));
            model().SetLatency({});
            for (std::uint8_t offset : {3, 4}) {
                const std::uint8_t value = 0x30 + offset;
                if (IicWriteEepromByte(handle, offset, value))
                    QCOMPARE(model().Eeprom().Memory()[offset], value);
            }
        }
        if (scene == "reopen") {
            QVERIFY(SampleEdid()[0x10] != SampleEdid()[0x20]);
            const IicByte late = IicReadEepromByte(handle, 0x10, [&] {
                model().SetLatency(kLate);  // the read request's reply, not the set-address one
                return true;
            });
            QVERIFY(!late.ok);
            IowKitCloseDevice(handle);
            model().SetLatency({});
            handle = IowKitOpenDevice();
            const IicByte next = IicReadEepromByte(handle, 0x20);
            QVERIFY(next.ok);
            QCOMPARE(next.value, SampleEdid()[0x20]);
        }
        IowKitCloseDevice(handle);
    }

    // An adapter that stops taking reports costs each command a few time-outs, not one per
    // byte; every byte stays red, and once it takes reports again the next command works.
    void aStoppedAdapterEndsEveryCommandQuickly() {
        OpenEnabled();
        IowKitCloseDevice(IowKitGetDeviceHandle(1));
        model().Eeprom().SetWriteCycle({});
        model().SetTakingReports(false);
        for (const char* command : {"read", "write", "scan"}) {
            testing::RecordingWindow window;
            for (int n = 1; n <= 256; ++n) window.grids.SetByteCells(n, 0x11);
            QElapsedTimer timer;
            timer.start();
            if (command == std::string("read")) ReadEdid(window);
            if (command == std::string("write")) WriteEdid(window);
            if (command == std::string("scan")) ScanBus(window);
            QVERIFY2(timer.elapsed() < 15000, command);
            QVERIFY2(window.buttonsEnabled && window.Handle() == 0, command);
            if (command == std::string("scan")) {
                QCOMPARE(window.result, std::string(kNoDevicesText));
                continue;
            }
            for (int n = 1; n <= 256; ++n) QVERIFY2(window.grids.Red(n), command);
        }
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(),
                           model().Eeprom().Memory().begin()));
        model().SetTakingReports(true);
        testing::RecordingWindow window;
        ReadEdid(window);
        for (int n = 1; n <= 256; ++n) QVERIFY(!window.grids.Red(n));
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window.image.begin()));
    }

    // Plugged in again, the chip has its I2C function off; the next command switches it on.
    void aRepluggedAdapterAnswersTheNextCommand() {
        IowKitHandle handle = OpenEnabled();
        model().SetInstantTimeouts(true);
        model().UnplugAfterExchanges(0);
        QVERIFY(!IicProbeAddress(handle, 0xA0));
        IowKitCloseDevice(handle);
        model().ClearFaults();
        testing::RecordingWindow window;
        ReadEdid(window);
        for (int n = 1; n <= 256; ++n) QVERIFY(!window.grids.Red(n));
        QVERIFY(std::equal(SampleEdid().begin(), SampleEdid().end(), window.image.begin()));
    }

  private:
    AdapterRig& rig_;
};

}  // namespace quillon::iow
