#pragma once

// The reports that the program exchanges with the adapter's I2C function on pipe 1, and how a
// reply is read. The window's reports are 8 bytes; the command line's are as long as the
// adapter's (8 on an IO-Warrior 24, 64 on an IO-Warrior 56), of which two bytes are the report
// id and the flags or count. Plain data, no adapter calls.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "iic/i2c_bus.h"

namespace quillon {

using I2cReport = std::array<std::uint8_t, 8>;

// Report ids (byte 0).
inline constexpr std::uint8_t kReportI2cEnable = 1;
inline constexpr std::uint8_t kReportI2cWrite = 2;
inline constexpr std::uint8_t kReportI2cRead = 3;

// Flags of a write request (byte 1): start before, stop after, and the byte count.
inline constexpr std::uint8_t kWriteStartFlag = 0x80;
inline constexpr std::uint8_t kWriteStopFlag = 0x40;
// Flags of a reply (byte 1): the error bit is set when the bus did not acknowledge a byte; on
// the IO-Warrior 56 the next bit says that another master won the bus (arbitration lost); the
// low bits count the bytes that went through, as they count them in a write request: bits 0-2
// in 8-byte reports, 0-5 in 64-byte ones.
inline constexpr std::uint8_t kReplyErrorFlag = 0x80;
inline constexpr std::uint8_t kReplyArbitrationLostFlag = 0x40;
constexpr std::uint8_t CountMask(int reportBytes) { return reportBytes > 8 ? 0x3F : 0x07; }

// Flags of the enable report (byte 2): the adapter's internal pull-ups off, for memories at
// 3.3 V with pull-ups of their own. Taken only while the I2C function is off.
inline constexpr std::uint8_t kEnablePullUpsOffFlag = 0x80;

constexpr I2cReport EnableReport(std::uint8_t enable, std::uint8_t flags = 0) {
    return {kReportI2cEnable, enable, flags, 0, 0, 0, 0, 0};
}

// The data bytes that one report of `reportBytes` carries: what a write report sends and what
// one reply to a read request holds.
constexpr int ReportPayloadBytes(int reportBytes) { return reportBytes - 2; }

// A write message as the adapter takes it: the address byte, then `data`, filling each report;
// the first report starts the transaction (or repeats the start), the last stops it when `stop`.
// The window's byte write (02 C3 A0 offset value) and set-address (02 82 A0 offset) are such
// messages at 8 bytes a report; its probe (02 C1 address) is one without data.
std::vector<std::vector<std::uint8_t>> WriteReports(std::uint8_t addressByte,
                                                    std::span<const std::uint8_t> data, bool stop,
                                                    int reportBytes);

// A read request for `count` bytes (1..the payload of one report) from `addressByte` (its read
// bit set): one reply carries them all. The window's is 03 01 A1.
std::vector<std::uint8_t> ReadRequestReport(std::uint8_t addressByte, int count, int reportBytes);

// What the reply to a request of report id `id` for `byteCount` bytes says, `got` being what
// the reply read returned: a write request's bytes all acknowledged, or a read request's bytes
// all come.
constexpr I2cStatus ReplyStatus(std::span<const std::uint8_t> reply, std::uint32_t got,
                                std::uint8_t id, int byteCount, int reportBytes) {
    if (got == 0) return I2cStatus::NoAnswer;
    if (reply[0] != id) return I2cStatus::ByteRefused;
    if ((reply[1] & kReplyArbitrationLostFlag) != 0) return I2cStatus::ArbitrationLost;
    const int count = reply[1] & CountMask(reportBytes);
    if ((reply[1] & kReplyErrorFlag) == 0 && count >= byteCount) return I2cStatus::Done;
    return count == 0 ? I2cStatus::AddressRefused : I2cStatus::ByteRefused;
}

}  // namespace quillon
