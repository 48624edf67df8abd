// How a transaction goes through the SMBus calls of a bus without plain I2C: the calls the VM's
// i2c-stub never asks for (blocks past 32 bytes, a missing call, a pair to two addresses).
// The calls themselves are proven against the real i2c-stub in the VM.
#include <linux/i2c.h>

#include <QtTest>

#include "i2cdev/i2c_dev_protocol.h"

using namespace quillon;
using namespace quillon::i2cdev;
using Kind = SmbusCall::Kind;

class TestI2cDev : public QObject {
    Q_OBJECT

  private slots:
    void smbusCalls() {
        constexpr std::uint32_t kAll = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
                                       I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;
        const auto write = [](int bytes) {
            return I2cMessage::Write(0x50, std::vector<std::uint8_t>(std::size_t(bytes), 7));
        };
        const std::vector<I2cMessage> segment = MemoryRead(Addressing::Segment, 256, 8);
        const std::tuple<std::vector<I2cMessage>, std::uint32_t, std::optional<Kind>, int> rows[] = {
            {{write(1 + 32)}, kAll, Kind::WriteI2cBlock, 32},
            {{write(1 + 33)}, kAll, std::nullopt, 0},
            {{write(1 + 8)}, kAll & ~I2C_FUNC_SMBUS_WRITE_I2C_BLOCK, std::nullopt, 0},
            {{write(2)}, kAll, Kind::WriteByteData, 1},
            {MemoryRead(Addressing::OneAddress, 16, 32), kAll, Kind::ReadI2cBlock, 32},
            {MemoryRead(Addressing::OneAddress, 16, 33), kAll, std::nullopt, 0},
            {MemoryRead(Addressing::BlockSelect, 256, 8), kAll, Kind::ReadI2cBlock, 8},
            {{write(1), I2cMessage::Read(0x51, 8)}, kAll, std::nullopt, 0},
            {segment, kAll, std::nullopt, 0},
            {AddressProbe(0xA0), kAll, Kind::Quick, 0},
            {AddressProbe(0xA0), kAll & ~I2C_FUNC_SMBUS_QUICK, Kind::ReadByte, 0},
            {AddressProbe(0xA1), kAll, Kind::ReadByte, 0},
        };
        for (const auto& [messages, functionality, kind, bytes] : rows) {
            const auto call = SmbusCallFor(messages, functionality);
            QCOMPARE(call.has_value(), kind.has_value());
            if (!call) continue;
            QCOMPARE(call->kind, *kind);
            QCOMPARE(int(call->data.size()) + call->length, bytes);
            QCOMPARE(call->command, messages.front().data.empty() ? 0 : messages.front().data[0]);
        }
    }
};

QTEST_GUILESS_MAIN(TestI2cDev)
#include "test_i2cdev.moc"
