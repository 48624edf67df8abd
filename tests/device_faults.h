#pragma once

// The faults of the adapter and of the memory on its bus, named once for both programs: one
// enum, one way to set each on the emulated adapter (which the VM's emulator follows onto the
// real driver), the device rows that both the window's table and the command line's run, and
// the one oracle that holds what a command reported against what the memory holds afterwards.

#include <signal.h>

#include <QMap>
#include <QStringList>
#include <atomic>

#include "image_bytes.h"
#include "iow/virtual/virtual_adapter.h"

namespace quillon::testing {

// clang-format off
enum class Fault {
    Ok, Absent, Unplug, Drop, DropEvery, RefuseA0, RefuseA1, NoMemory, Cycle, Protected, Flipped,
    OneBlock, Spoil, Fill, Late, Stopped, Device0, LoseChunk, SmallPages, StopMidway, Interrupt,
    Paced, Iow56, ShortChunk
};
// clang-format on

// The quillon-cli run that an Interrupt signals (this process when it runs in-process); set by
// the runner while the program runs, 0 otherwise.
inline std::atomic<pid_t> interruptedProcess{0};

// Sets `fault` on the adapter or its memory; `param` counts exchanges (Unplug, StopMidway,
// Interrupt: SIGINT), replies (Drop, -1: all; DropEvery: every nth; LoseChunk: the one after
// `param`; ShortChunk: the one after `param` counts a byte short), milliseconds (Cycle) or names an
// offset (Spoil) or a value (Fill). Ok sets nothing. SmallPages: a memory with 4-byte pages. Paced:
// replies at the adapter's pace. Iow56: the adapter an IO-Warrior 56 (64-byte reports).
inline void ApplyOne(iow::VirtualAdapter& model, Fault fault, int param) {
    using enum Fault;
    auto& eeprom = model.Eeprom();
    switch (fault) {
        case Absent:
            return model.SetPresent(false);
        case Unplug:
            return model.UnplugAfterExchanges(param);
        case Drop:
            return model.DropReplies(param);
        case DropEvery:
            return model.DropEveryReply(param);
        case NoMemory:
            model.RefuseAddress(0xA0);
            [[fallthrough]];
        case RefuseA1:
            return model.RefuseAddress(0xA1);
        case RefuseA0:
            return model.RefuseAddress(0xA0);
        case Cycle:
            return eeprom.SetWriteCycle(std::chrono::milliseconds(param));
        case Protected:
            return eeprom.SetWriteProtected(true);
        case Flipped:
            return eeprom.SetCorruptedOffsets({0, 127, 128, 255});
        case OneBlock:
            return eeprom.SetHoldsOneBlock(true);
        case Spoil:
            return void(eeprom.Memory()[param] ^= 1);
        case Fill:
            return eeprom.Memory().fill(std::uint8_t(param));
        case Late:
            return model.SetLatency(std::chrono::milliseconds(300));
        case Stopped:
            return model.SetTakingReports(false);
        case Device0:
            return model.AddDevice(std::make_unique<iow::PlainI2cDevice>(0));
        case LoseChunk:
            return model.DropReplyAfter(param);
        case ShortChunk:
            return model.ShortenReplyAfter(param);
        case SmallPages:
            return eeprom.SetPageBytes(4);
        case StopMidway:
            return model.StopAfterExchanges(param);
        case Interrupt:
            return model.AfterExchanges(param, [] {
                if (const pid_t pid = interruptedProcess) ::kill(pid, SIGINT);
            });
        case Paced:
            return model.SetPaced(true);
        case Iow56:
            return model.SetKind(iow::VirtualAdapter::Kind::Iow56);
        case Ok:
            return;
    }
}

// A row's faults: `fault` with its parameter and `also` without. Time-outs pass at once unless
// a reply must come late.
inline void Apply(iow::VirtualAdapter& model, Fault fault, int param, Fault also) {
    model.SetInstantTimeouts(fault != Fault::Late && also != Fault::Late);
    ApplyOne(model, fault, param);
    ApplyOne(model, also, 0);
}

enum class Op { Read, Read128, Write, Write128, Scan };
// The bytes that a command reports as not good: none (a scan: every probe answered); exactly
// those that the memory does not hold as meant; every byte; some; some but not most (the
// command went on to the end).
enum class Flagged { Nothing, Differ, All, Some, Scattered };
// Where a row runs: the window (offscreen, and on an X server where it shows a box), the
// window against the kernel's driver, the command line in-process, the real quillon-cli
// against the kernel's driver.
enum Runs { kWindow = 1, kWindowVm = 2, kCli = 4, kCliVm = 8, kBoth = kWindow | kCli };

struct DeviceRow {
    const char* name;
    Op op;
    Fault fault;
    int param;
    Flagged flagged;
    int runs;
    int sent = -1;                // I2C reports that the window's command writes; -1: not counted
    const char* found = nullptr;  // a scan: the address bytes acknowledged ("A0 A1"); null: any
    Fault also = Fault::Ok;       // a second fault, without a parameter
};

namespace device_rows {
using enum Op;
using enum Fault;
using enum Flagged;
inline constexpr int kAll = kBoth | kWindowVm | kCliVm;
inline const DeviceRow kRows[] = {
    {"read", Read, Ok, 0, Nothing, kAll, 513},
    {"read, block 1 spoiled", Read, Spoil, 10, Nothing, kBoth, 513},
    {"read, block 2 spoiled", Read, Spoil, 200, Nothing, kWindow},
    {"read 128 keeps block 2", Read128, Fill, 0x41, Nothing, kBoth | kWindowVm, 257},
    {"read, unplugged since start-up", Read, Absent, 0, All, kBoth, 0},
    {"read, unplugged after 3", Read, Unplug, 3, Some, kAll},
    {"read, every fourth reply lost", Read, DropEvery, 4, Scattered, kBoth},
    {"read, every reply lost", Read, Drop, -1, All, kWindow},
    {"read, A1 refused", Read, RefuseA1, 0, All, kWindow},
    {"read, no memory", Read, NoMemory, 0, All, kCli | kWindowVm},
    {"read, late replies", Read, Late, 0, All, kAll},
    {"read, adapter stopped", Read, Stopped, 0, All, kCli | kWindowVm | kCliVm},
    {"write", Write, Ok, 0, Nothing, kAll},
    {"write 128 leaves block 2", Write128, Ok, 0, Nothing, kBoth},
    {"write, 128-byte memory", Write, OneBlock, 0, Differ, kAll},
    {"write, unplugged since start-up", Write, Absent, 0, All, kBoth, 0},
    {"write, unplugged after 21", Write, Unplug, 21, All, kAll},
    {"write, one reply lost", Write, Drop, 1, Some, kWindow},
    {"write, A1 refused", Write, RefuseA1, 0, All, kWindow},
    {"write, no memory", Write, NoMemory, 0, All, kWindow | kWindowVm},
    {"write, slow write cycle", Write, Cycle, 8, Nothing, kWindowVm},
    {"write, write-protected", Write, Protected, 0, Differ, kAll},
    {"write, memory flips a bit", Write, Flipped, 0, Differ, kBoth},
    {"write, write-protected, every fourth reply lost", Write, DropEvery, 4, All, kBoth, -1,
     nullptr, Protected},
    {"write, late replies", Write, Late, 0, All, kCli | kWindowVm},
    {"write, adapter stopped", Write, Stopped, 0, All, kWindowVm | kCliVm},
    {"scan", Scan, Ok, 0, Nothing, kAll, 257, "A0 A1"},
    {"scan, byte 0 answers", Scan, Device0, 0, Nothing, kBoth, 257, "0 1 A0 A1"},
    {"scan, A0 refused", Scan, RefuseA0, 0, Nothing, kBoth, 257, "A1"},
    {"scan, no memory", Scan, NoMemory, 0, Nothing, kBoth | kWindowVm, 257, ""},
    {"scan, every reply lost", Scan, Drop, -1, Some, kBoth, 6, ""},
    {"scan, unplugged since start-up", Scan, Absent, 0, Nothing, kBoth, 0, ""},
    {"scan, late replies", Scan, Late, 0, Some, kWindowVm},
    {"scan, adapter stopped", Scan, Stopped, 0, Some, kWindowVm, -1, ""},
};
}  // namespace device_rows

// What a command reported, against the memory afterwards: every byte not flagged among the
// first `count` holds what the command meant (a read: what it delivered), a byte flagged with
// the value it read back holds that value and not the one meant, a write left every byte past
// `count` as it was, and the flagged bytes are those the row expects (`extra`: flagged besides,
// the window's red block ends). Returns what did not hold.
struct Reported {
    QList<int> flagged;                  // offsets, in order
    QMap<int, std::uint8_t> valuesRead;  // of flagged bytes that read back otherwise
};
inline QStringList AgainstMemory(const Reported& reported, Flagged expected, bool write, int count,
                                 const EdidImage& meant, const EdidImage& memory,
                                 const EdidImage& before, const QList<int>& extra = {}) {
    QStringList wrong;
    QList<int> differing;
    for (int k = 0; k < kEdidBytes; ++k) {
        const QString at = QStringLiteral(" at offset %1").arg(k);
        const bool flagged = reported.flagged.contains(k);
        if (k < count && memory[k] != meant[k]) differing << k;
        if (k < count && !flagged && memory[k] != meant[k]) wrong << "passed as good" + at;
        if (k >= count && write && memory[k] != before[k]) wrong << "written past the count" + at;
        if (reported.valuesRead.contains(k) &&
            (reported.valuesRead[k] != memory[k] || memory[k] == meant[k]))
            wrong << "listed as read otherwise" + at;
    }
    const int n = int(reported.flagged.size());
    const bool ok = expected == Flagged::Nothing  ? reported.flagged == extra
                    : expected == Flagged::Differ ? reported.flagged == differing
                    : expected == Flagged::All    ? n == count
                    : expected == Flagged::Some   ? n > 0
                                                  : n > 0 && n < count * 3 / 4;
    if (!ok)
        wrong << QStringLiteral("flagged: %1 bytes, from %2").arg(n).arg(reported.flagged.value(0));
    return wrong;
}

}  // namespace quillon::testing
