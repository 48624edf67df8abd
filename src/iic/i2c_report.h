#pragma once

// The reports that the program exchanges with the adapter's I2C function on pipe 1, and how a
// reply is read. The window's reports are 8 bytes; the block reports are as long as the
// adapter's (8 on an IO-Warrior 24, 64 on an IO-Warrior 56), of which two bytes are the report
// id and the flags or count. Plain data, no adapter calls.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quillon {

using I2cReport = std::array<std::uint8_t, 8>;

inline constexpr std::uint8_t kEepromWriteAddress = 0xA0;
inline constexpr std::uint8_t kEepromReadAddress = 0xA1;

// Report ids (byte 0).
inline constexpr std::uint8_t kReportI2cEnable = 1;
inline constexpr std::uint8_t kReportI2cWrite = 2;
inline constexpr std::uint8_t kReportI2cRead = 3;

// Flags of a write request (byte 1): start before, stop after, and the byte count.
inline constexpr std::uint8_t kWriteStartFlag = 0x80;
inline constexpr std::uint8_t kWriteStopFlag = 0x40;
inline constexpr std::uint8_t kWriteStartTwoBytes = 0x82;        // set address, no stop
inline constexpr std::uint8_t kWriteStartStopThreeBytes = 0xC3;  // byte write
inline constexpr std::uint8_t kWriteStartStopOneByte = 0xC1;     // address probe

// Flags of a reply (byte 1): the error bit is set when the bus did not acknowledge a byte;
// the low bits count the bytes that went through.
inline constexpr std::uint8_t kReplyErrorFlag = 0x80;
inline constexpr std::uint8_t kReplyCountMask = 0x3F;

constexpr I2cReport EnableReport(std::uint8_t flag) {
    return {kReportI2cEnable, flag, 0, 0, 0, 0, 0, 0};
}

constexpr I2cReport SetAddressReport(std::uint8_t offset) {
    return {kReportI2cWrite, kWriteStartTwoBytes, kEepromWriteAddress, offset, 0, 0, 0, 0};
}

constexpr I2cReport ReadRequestReport() {
    return {kReportI2cRead, 1, kEepromReadAddress, 0, 0, 0, 0, 0};
}

constexpr I2cReport ByteWriteReport(std::uint8_t offset, std::uint8_t value) {
    return {
        kReportI2cWrite, kWriteStartStopThreeBytes, kEepromWriteAddress, offset, value, 0, 0, 0};
}

constexpr I2cReport ProbeReport(std::uint8_t addressByte) {
    return {kReportI2cWrite, kWriteStartStopOneByte, addressByte, 0, 0, 0, 0, 0};
}

// The data bytes that one report of `reportBytes` carries: what a write report sends and what
// one reply to a read request holds.
constexpr int ReportPayloadBytes(int reportBytes) { return reportBytes - 2; }

// A page write as the data sheet lays it out: the first report starts the transaction with the
// memory's address byte and `offset`, then data fills each report; the last report stops it.
std::vector<std::vector<std::uint8_t>> PageWriteReports(std::uint8_t offset,
                                                        std::span<const std::uint8_t> data,
                                                        int reportBytes);

// A read request for `count` bytes (1..the payload of one report) from the memory's address
// pointer: one reply carries them all.
std::vector<std::uint8_t> ChunkReadReport(int count, int reportBytes);

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
