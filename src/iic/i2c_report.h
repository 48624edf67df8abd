#pragma once

// The reports that the program exchanges with the adapter's I2C function on pipe 1, and how a
// reply is read. The window's reports are 8 bytes; the command line's are as long as the
// adapter's (8 on an IO-Warrior 24, 64 on an IO-Warrior 56), of which two bytes are the report
// id and the flags or count. Plain data, no adapter calls.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quillon {

using I2cReport = std::array<std::uint8_t, 8>;

// Report ids (byte 0).
inline constexpr std::uint8_t kReportI2cEnable = 1;
inline constexpr std::uint8_t kReportI2cWrite = 2;
inline constexpr std::uint8_t kReportI2cRead = 3;

// Flags of a write request (byte 1): start before, stop after, and the byte count.
inline constexpr std::uint8_t kWriteStartFlag = 0x80;
inline constexpr std::uint8_t kWriteStopFlag = 0x40;
// Flags of a reply (byte 1): the error bit is set when the bus did not acknowledge a byte;
// the low bits count the bytes that went through.
inline constexpr std::uint8_t kReplyErrorFlag = 0x80;
inline constexpr std::uint8_t kReplyCountMask = 0x3F;

constexpr I2cReport EnableReport(std::uint8_t flag) {
    return {kReportI2cEnable, flag, 0, 0, 0, 0, 0, 0};
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

// What a reply read says about the request that it answers.
enum class ReplyVerdict {
    Done,            // every byte went through
    AddressRefused,  // the address byte was not acknowledged: the chip is busy or absent
    Failed,          // no reply, or a later byte was not acknowledged
};

// Verdict on the reply to a write request of `byteCount` bytes, `readCount` being what the
// reply read returned.
constexpr ReplyVerdict WriteReplyVerdict(std::span<const std::uint8_t> reply,
                                         std::uint32_t readCount, int byteCount) {
    if (readCount == 0 || reply[0] != kReportI2cWrite) return ReplyVerdict::Failed;
    const int acknowledged = reply[1] & kReplyCountMask;
    if ((reply[1] & kReplyErrorFlag) == 0 && acknowledged == byteCount) return ReplyVerdict::Done;
    return acknowledged == 0 ? ReplyVerdict::AddressRefused : ReplyVerdict::Failed;
}

// Whether the reply to a read request carries a byte.
constexpr bool ReadReplyCarriesData(std::span<const std::uint8_t> reply, std::uint32_t readCount,
                                    int byteCount = 1) {
    return readCount > 0 && reply[0] == kReportI2cRead && (reply[1] & kReplyErrorFlag) == 0 &&
           (reply[1] & kReplyCountMask) >= byteCount;
}

}  // namespace quillon
