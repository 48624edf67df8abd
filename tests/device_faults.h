#pragma once

// The faults of the adapter and of the memory on its bus, named once for both programs: one
// enum, one way to set each on the emulated adapter (which the VM's emulator follows onto the
// real driver), the device rows that both the window's table and the command line's run, and
// the one oracle that holds what a command reported against what the memory holds afterwards.

#include <signal.h>

#include <QMap>
#include <QStringList>
#include <atomic>

#include "faulty_link.h"
#include "image_bytes.h"

namespace quillon::testing {

// clang-format off
enum class Fault {
    Ok, Absent, Unplug, Drop, DropEvery, RefuseA0, RefuseA1, NoMemory, Cycle, Protected, Flipped,
    OneBlock, Spoil, Fill, Late, Stopped, Device0, LoseChunk, SmallPages, StopMidway, Interrupt,
    Paced, Iow56, ShortChunk, ArbitrationLost, Device51, Memory24C16, SegmentMemory, SegmentKept
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
// ArbitrationLost: the read reply after `param` says so. Device51: a device at 0x51 (A2, A3),
// just past the memory. Memory24C16, SegmentMemory (E-DDC), SegmentKept (E-DDC, the segment
// kept past a stop): a memory of 2048 or 1024 bytes, holding FourBlocks() when `param` is 1,
// FourBlocks(true) when it is 2.
// An EDID of four blocks: the sample's two, then two more extension blocks of their own. Its
// count of extensions in byte 126, or (`override`) in the HDMI Forum's override data block
// first in its CTA-861 block, byte 126 saying 1.
inline EdidBytes FourBlocks(bool override = false) {
    EdidBytes image(iow::SampleEdid().begin(), iow::SampleEdid().end());
    for (std::uint8_t fill : {0x22, 0x33}) {
        image.insert(image.end(), image.begin() + 128, image.begin() + 256);
        std::fill(image.end() - 28, image.end() - 1, fill);
    }
    image[126] = override ? 1 : 3;
    if (override) std::ranges::copy(std::array{0xE3, 0x78, 0x03, 0x00}, &image[128 + 4]);
    for (int end = 127; end < 512; end += 128)
        image[end] -= std::accumulate(image.data() + end - 127, image.data() + end + 1, 0);
    return image;
}

inline void ApplyOne(iow::FaultyLink& link, Fault fault, int param) {
    using enum Fault;
    iow::VirtualAdapter& model = link.Model();
    auto& eeprom = model.Eeprom();
    switch (fault) {
        case Absent:
            return model.SetPresent(false);
        case Unplug:
            return link.UnplugAfterExchanges(param);
        case Drop:
            return link.DropReplies(param);
        case DropEvery:
            return link.DropEveryReply(param);
        case NoMemory:
            eeprom.Refuse(0xA0);
            [[fallthrough]];
        case RefuseA1:
            return eeprom.Refuse(0xA1);
        case RefuseA0:
            return eeprom.Refuse(0xA0);
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
            return link.SetTakingReports(false);
        case Device0:
            return model.AddDevice(std::make_unique<iow::PlainI2cDevice>(0));
        case LoseChunk:
            return link.DropReplyAfter(param);
        case ShortChunk:
            return link.ShortenReplyAfter(param);
        case SmallPages:
            return eeprom.SetPageBytes(4);
        case StopMidway:
            return link.StopAfterExchanges(param);
        case Interrupt:
            return link.AfterExchanges(param, [] {
                if (const pid_t pid = interruptedProcess) ::kill(pid, SIGINT);
            });
        case Paced:
            return model.SetPaced(true);
        case Iow56:
            return model.SetKind(iow::VirtualAdapter::Kind::Iow56);
        case ArbitrationLost:
            return link.LoseArbitrationAfter(param);
        case Memory24C16:
        case SegmentMemory:
        case SegmentKept:
            model.UseLargerMemory(fault == Memory24C16 ? 2048 : 1024,
                                  fault == Memory24C16   ? iow::VirtualAdapter::Segments::None
                                  : fault == SegmentKept ? iow::VirtualAdapter::Segments::Kept
                                                         : iow::VirtualAdapter::Segments::FallBack);
            if (param > 0) eeprom.Put(FourBlocks(param == 2));
            return;
        case Device51:
            return model.AddDevice(std::make_unique<iow::PlainI2cDevice>(0xA2));
        case Ok:
            return;
    }
}

// A row's faults: `fault` with its parameter and `also` without. Time-outs pass at once unless
// a reply must come late.
inline void Apply(iow::FaultyLink& link, Fault fault, int param, Fault also) {
    link.SetInstantTimeouts(fault != Fault::Late && also != Fault::Late);
    ApplyOne(link, fault, param);
    ApplyOne(link, also, 0);
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
    Fault fault = Fault::Ok;
    int param = 0;
    Flagged flagged = Flagged::Nothing;
    int runs = 0;
    int sent = -1;                // I2C reports that the window's command writes; -1: not counted
    const char* found = nullptr;  // a scan: the address bytes acknowledged ("A0 A1"); null: any
    Fault also = Fault::Ok;       // a second fault, without a parameter
};

namespace device_rows {
using enum Op;
using enum Fault;
using enum Flagged;
inline constexpr int kAll = kBoth | kWindowVm | kCliVm;
// clang-format off
inline const DeviceRow kRows[] = {
    {.name = "read", .op = Read, .runs = kAll, .sent = 513},
    {.name = "read, block 1 spoiled", .op = Read, .fault = Spoil, .param = 10, .runs = kBoth,
     .sent = 513},
    {.name = "read, block 2 spoiled", .op = Read, .fault = Spoil, .param = 200, .runs = kWindow},
    {.name = "read 128 keeps block 2", .op = Read128, .fault = Fill, .param = 0x41,
     .runs = kBoth | kWindowVm, .sent = 257},
    {.name = "read, unplugged since start-up", .op = Read, .fault = Absent, .flagged = All,
     .runs = kBoth, .sent = 0},
    {.name = "read, unplugged after 3", .op = Read, .fault = Unplug, .param = 3, .flagged = Some,
     .runs = kAll},
    {.name = "read, every fourth reply lost", .op = Read, .fault = DropEvery, .param = 4,
     .flagged = Scattered, .runs = kBoth},
    {.name = "read, every reply lost", .op = Read, .fault = Drop, .param = -1, .flagged = All,
     .runs = kWindow},
    {.name = "read, A1 refused", .op = Read, .fault = RefuseA1, .flagged = All, .runs = kWindow},
    {.name = "read, no memory", .op = Read, .fault = NoMemory, .flagged = All,
     .runs = kCli | kWindowVm},
    {.name = "read, late replies", .op = Read, .fault = Late, .flagged = All, .runs = kAll},
    {.name = "read, adapter stopped", .op = Read, .fault = Stopped, .flagged = All,
     .runs = kCli | kWindowVm | kCliVm},
    {.name = "read, arbitration lost once", .op = Read, .fault = ArbitrationLost, .param = 1,
     .flagged = Some, .runs = kBoth, .also = Iow56},
    {.name = "write", .op = Write, .runs = kAll},
    {.name = "write 128 leaves block 2", .op = Write128, .runs = kBoth},
    {.name = "write, 128-byte memory", .op = Write, .fault = OneBlock, .flagged = Differ,
     .runs = kAll},
    {.name = "write, unplugged since start-up", .op = Write, .fault = Absent, .flagged = All,
     .runs = kBoth, .sent = 0},
    {.name = "write, unplugged after 21", .op = Write, .fault = Unplug, .param = 21, .flagged = All,
     .runs = kAll},
    {.name = "write, one reply lost", .op = Write, .fault = Drop, .param = 1, .flagged = Some,
     .runs = kWindow},
    {.name = "write, A1 refused", .op = Write, .fault = RefuseA1, .flagged = All, .runs = kWindow},
    {.name = "write, no memory", .op = Write, .fault = NoMemory, .flagged = All,
     .runs = kWindow | kWindowVm},
    {.name = "write, slow write cycle", .op = Write, .fault = Cycle, .param = 8, .runs = kWindowVm},
    {.name = "write, write-protected", .op = Write, .fault = Protected, .flagged = Differ,
     .runs = kAll},
    {.name = "write, memory flips a bit", .op = Write, .fault = Flipped, .flagged = Differ,
     .runs = kBoth},
    {.name = "write, write-protected, every fourth reply lost", .op = Write, .fault = DropEvery,
     .param = 4, .flagged = All, .runs = kBoth, .also = Protected},
    {.name = "write, late replies", .op = Write, .fault = Late, .flagged = All,
     .runs = kCli | kWindowVm},
    {.name = "write, adapter stopped", .op = Write, .fault = Stopped, .flagged = All,
     .runs = kWindowVm | kCliVm},
    {.name = "scan", .op = Scan, .runs = kAll, .sent = 257, .found = "A0 A1"},
    {.name = "scan, byte 0 answers", .op = Scan, .fault = Device0, .runs = kBoth, .sent = 257,
     .found = "0 1 A0 A1"},
    {.name = "scan, A0 refused", .op = Scan, .fault = RefuseA0, .runs = kWindow, .sent = 257,
     .found = "A1"},
    // Probed for reading, the memory holds the bus (its byte 0 is 0x00): the next probe fails.
    {.name = "scan, a device just past the memory", .op = Scan, .fault = Device51,
     .runs = kWindow, .sent = 257, .found = "A0 A1 A3"},
    {.name = "scan, no memory", .op = Scan, .fault = NoMemory, .runs = kBoth | kWindowVm,
     .sent = 257, .found = ""},
    {.name = "scan, every reply lost", .op = Scan, .fault = Drop, .param = -1, .flagged = Some,
     .runs = kBoth, .sent = 6, .found = ""},
    {.name = "scan, unplugged since start-up", .op = Scan, .fault = Absent, .runs = kBoth,
     .sent = 0, .found = ""},
    {.name = "scan, late replies", .op = Scan, .fault = Late, .flagged = Some, .runs = kWindowVm},
    {.name = "scan, adapter stopped", .op = Scan, .fault = Stopped, .flagged = Some,
     .runs = kWindowVm, .found = ""},
};
// clang-format on
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
                                 std::span<const std::uint8_t> meant,
                                 std::span<const std::uint8_t> memory,
                                 std::span<const std::uint8_t> before,
                                 const QList<int>& extra = {}) {
    QStringList wrong;
    QList<int> differing;
    for (int k = 0; k < int(memory.size()); ++k) {
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
