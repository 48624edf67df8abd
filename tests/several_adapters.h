#pragma once

// Three fixtures on one computer: each adapter gets its own record, and a fault on one reaches
// no other's; a program given one adapter leaves the others free. Runs in-process on three
// virtual adapters, and in the test VM as the real quillon-cli on three emulated adapters
// behind the kernel's driver.

#include <thread>

#include "cli_table.h"
#include "iow/adapter_choice.h"

namespace quillon::testing {

class SeveralAdapters : public QObject {
    Q_OBJECT

  public:
    // `rigs`: the adapters 0000A5E1, 0000A5E2, 0000A5E3, in that order.
    SeveralAdapters(std::vector<iow::AdapterRig*> rigs, CliRunner run, bool onVm)
        : rigs_(std::move(rigs)), run_(std::move(run)), onVm_(onVm) {}

  private:
    std::vector<iow::AdapterRig*> rigs_;
    CliRunner run_;
    bool onVm_;
    QTemporaryDir dir_;
    QString image_ = dir_.filePath("image.bin");

    CliRun Write(const QStringList& options, CliSetup setup = CliSetup::Plain) {
        return run_(options + QStringList{"write", "--yes", image_}, setup);
    }

  private slots:
    void init() {
        for (iow::AdapterRig* rig : rigs_) {
            rig->Fresh();
            rig->Model().Eeprom().Memory().fill(0xEE);
            rig->Model().Eeprom().SetWriteCycle({});
            rig->Link().SetInstantTimeouts(true);
        }
        QVERIFY(Put(image_, Bytes(iow::SampleEdid())));
    }

    void rows_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("fault");  // on the second adapter
        QTest::addColumn<int>("third");  // on the third
        QTest::addColumn<QList<int>>("statuses");  // -1: any
        QTest::addColumn<int>("status");
        const QString three = "--all";
        const int ok = int(Fault::Ok);
        QTest::newRow("--all writes three") << three << ok << ok << QList{0, 0, 0} << 0;
        QTest::newRow("one write-protected")
            << three << int(Fault::Protected) << ok << QList{0, 4, 0} << 4;
        QTest::newRow("one unplugged midway")
            << three << int(Fault::Unplug) << ok << QList{0, 3, 0} << 3;
        QTest::newRow("one hung") << three << int(Fault::Stopped) << ok << QList{0, 3, 0} << 3;
        // The run's status is the worst: a unit that did not answer over one that differs.
        QTest::newRow("one write-protected, one unplugged")
            << three << int(Fault::Protected) << int(Fault::Unplug) << QList{0, 4, 3} << 3;
        QTest::newRow("one serial given twice runs once")
            << "--adapter 0000A5E1 --adapter 0000A5E1" << ok << ok << QList{0} << 0;
        QTest::newRow("one held by another program")
            << "--adapter 0000A5E1 --adapter 0000A5E2" << -1 << ok << QList{0, 2} << 2;
        // A signal stops every adapter under way; the run's status is 6, worse than a held 2.
        QTest::newRow("one interrupted, one held")
            << three << int(Fault::Interrupt) << -1 << QList{-1, 6, 2} << 6;
    }
    void rows() {
        QFETCH(QString, options);
        QFETCH(int, fault);
        QFETCH(int, third);
        QFETCH(QList<int>, statuses);
        QFETCH(int, status);
        const IowKitHandle held = fault < 0   ? iow::OpenAdapterWithSerial("0000A5E2")
                                  : third < 0 ? iow::OpenAdapterWithSerial("0000A5E3")
                                              : 0;
        if (fault == int(Fault::Interrupt))  // the signal lands while every write is under way
            for (iow::AdapterRig* rig : rigs_)
                rig->Model().Eeprom().SetWriteCycle(std::chrono::milliseconds(5));
        if (fault >= 0) Apply(rigs_[1]->Link(), Fault(fault), 21, Fault::Ok);
        if (third >= 0) Apply(rigs_[2]->Link(), Fault(third), 21, Fault::Ok);
        const CliRun run = Write(options.split(' ') + QStringList{"--json"});
        IowKitCloseDevice(held);
        QCOMPARE(run.status, status);
        const QList<QByteArray> records = run.out.trimmed().split('\n');
        QCOMPARE(records.size(), statuses.size());
        for (int k = 0; k < statuses.size(); ++k) {
            const QJsonObject record = QJsonDocument::fromJson(records[k]).object();
            const QString serial = QStringLiteral("0000A5E%1").arg(k + 1);
            QCOMPARE(record["adapter_serial"].toString(), serial);
            if (statuses[k] >= 0) QCOMPARE(record["exit_status"].toInt(), statuses[k]);
            if (statuses[k] == 0)  // the others' memories hold the image whole
                QCOMPARE(rigs_[k]->Model().Eeprom().Memory(), iow::SampleEdid());
        }
        if (fault < 0)
            QVERIFY(run.err.contains("0000A5E2: Adapter 0000A5E2 is attached, but another"));
    }

    // list names each adapter with its product, free, and leaves them so.
    void listNamesEach() {
        QJsonArray expected;
        for (int k = 0; k < int(rigs_.size()); ++k)
            expected << QJsonObject{{"serial", QStringLiteral("0000A5E%1").arg(k + 1)},
                                    {"product_id", int(rigs_[k]->ProductId())},
                                    {"access", "free"}};
        const CliRun run = run_({"--json", "list"}, CliSetup::Plain);
        QCOMPARE(QJsonDocument::fromJson(run.out)["adapters"].toArray(), expected);
        QCOMPARE(Write({"--all", "--json"}).status, 0);
    }

    // Declined on the terminal: nothing is written anywhere, and the run says so.
    void declinedWritesNothing() {
        if (onVm_) QSKIP("the real program's standard input is no terminal");
        QCOMPARE(run_({"--all", "write", image_}, CliSetup::AnswerNo).status, 1);
        for (iow::AdapterRig* rig : rigs_) QCOMPARE(rig->Model().Eeprom().Memory()[0], 0xEE);
    }

    // Two programs at once, each with its own adapter or each with the first free one: both are
    // done, on two adapters (a program holds only the adapter it uses).
    void twoProgramsAtOnce_data() {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::newRow("named") << QStringList{"--adapter", "0000A5E1"}
                               << QStringList{"--adapter", "0000A5E2"};
        QTest::newRow("the first free each") << QStringList{} << QStringList{};
    }
    void twoProgramsAtOnce() {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        for (iow::AdapterRig* rig : rigs_)  // long enough for the two to overlap
            rig->Model().Eeprom().SetWriteCycle(std::chrono::milliseconds(2));
        CliRun one, other;
        std::thread thread([&] { other = Write(second); });
        one = Write(first);
        thread.join();
        QCOMPARE(one.status * 10 + other.status, 0);
        QCOMPARE(std::ranges::count_if(rigs_,
                                       [](iow::AdapterRig* rig) {
                                           return rig->Model().Eeprom().Memory() == iow::SampleEdid();
                                       }),
                 2);
    }
};

}  // namespace quillon::testing
