#include "i2cdev/i2c_dev_bus.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quillon::i2cdev {

namespace {

// The most bytes one read message asks for through I2C_RDWR: half a block-select address's
// 256, so that the engine's chunks stay within every bridge's read (the CP2112's 512).
constexpr int kMostRdwrReadBytes = 128;

bool IsProbe(std::span<const I2cMessage> messages) {
    const I2cMessage& m = messages.front();
    return messages.size() == 1 && (m.read ? m.length == 0 : m.data.empty());
}

}  // namespace

std::variant<std::unique_ptr<I2cDevBus>, int> I2cDevBus::Open(const std::filesystem::path& node,
                                                               AdapterLimits limits) {
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno;
    unsigned long functionality = 0;
    if (::ioctl(fd, I2C_FUNCS, &functionality) < 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    return std::unique_ptr<I2cDevBus>(
        new I2cDevBus(fd, static_cast<std::uint32_t>(functionality), limits));
}

I2cDevBus::~I2cDevBus() { ::close(fd_); }

bool I2cDevBus::PlainI2c() const { return (functionality_ & I2C_FUNC_I2C) != 0; }

int I2cDevBus::MaxReadBytes() const {
    if (PlainI2c()) return kMostRdwrReadBytes;
    return (functionality_ & I2C_FUNC_SMBUS_READ_I2C_BLOCK) != 0 ? kSmbusBlockBytes : 1;
}

int I2cDevBus::MaxWriteBytes() const {
    if (PlainI2c()) return limits_.maxWriteBytes - 1;  // the word address goes first
    return (functionality_ & I2C_FUNC_SMBUS_WRITE_I2C_BLOCK) != 0 ? kSmbusBlockBytes : 1;
}

int I2cDevBus::Claim(std::uint8_t address) const {
    return ::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(address)) < 0 ? errno : 0;
}

bool I2cDevBus::ThroughRdwr(std::span<const I2cMessage> messages) const {
    if (!PlainI2c() || IsProbe(messages)) return false;
    const bool pair = messages.size() == 2 && !messages[0].read && messages[1].read &&
                      messages[0].address == messages[1].address;
    if (limits_.writeThenReadOnly && messages.size() > 1 && !pair) return false;
    return std::ranges::all_of(messages, [this](const I2cMessage& m) {
        return m.read ? m.length > 0 : static_cast<int>(m.data.size()) <= limits_.maxWriteBytes;
    });
}

I2cTransferResult I2cDevBus::Transfer(std::span<const I2cMessage> messages,
                                      const WhileWaiting& whileWaiting) {
    I2cTransferResult result;
    result.messages.resize(messages.size());
    if (messages.empty()) return result;
    if (ThroughRdwr(messages))
        Rdwr(messages, result);
    else
        Smbus(messages, result);
    if (whileWaiting && !whileWaiting()) result.messages.front().status = I2cStatus::Abandoned;
    return result;
}

void I2cDevBus::Rdwr(std::span<const I2cMessage> messages, I2cTransferResult& result) {
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<i2c_msg> wire;
    for (const I2cMessage& m : messages) {
        buffers.push_back(m.read ? std::vector<std::uint8_t>(static_cast<std::size_t>(m.length))
                                 : m.data);
        wire.push_back({.addr = m.address,
                        .flags = static_cast<__u16>(m.read ? I2C_M_RD : 0),
                        .len = static_cast<__u16>(buffers.back().size()),
                        .buf = buffers.back().data()});
    }
    i2c_rdwr_ioctl_data transfer{wire.data(), static_cast<__u32>(wire.size())};
    if (::ioctl(fd_, I2C_RDWR, &transfer) < 0) {
        result.messages.front().status = StatusOfError(errno);
        return;
    }
    for (std::size_t k = 0; k < messages.size(); ++k) {
        I2cMessageResult& done = result.messages[k];
        done.status = I2cStatus::Done;
        done.bytesDone = static_cast<int>(buffers[k].size());
        if (messages[k].read) done.read = std::move(buffers[k]);
    }
}

void I2cDevBus::Smbus(std::span<const I2cMessage> messages, I2cTransferResult& result) {
    const std::optional<SmbusCall> call = SmbusCallFor(messages, functionality_);
    I2cMessageResult& first = result.messages.front();
    if (!call) {
        first.status = I2cStatus::NoAnswer;  // no call of this bus does it
        return;
    }
    if (Claim(call->address) != 0) {
        first.status = I2cStatus::NoAnswer;
        return;
    }
    using Kind = SmbusCall::Kind;
    // Each kind's direction and the ioctl's size, in the order of SmbusCall::Kind.
    static constexpr std::pair<std::uint8_t, std::uint32_t> kWire[] = {
        {I2C_SMBUS_WRITE, I2C_SMBUS_QUICK},         {I2C_SMBUS_READ, I2C_SMBUS_BYTE},
        {I2C_SMBUS_WRITE, I2C_SMBUS_BYTE},          {I2C_SMBUS_WRITE, I2C_SMBUS_BYTE_DATA},
        {I2C_SMBUS_READ, I2C_SMBUS_BYTE_DATA},      {I2C_SMBUS_READ, I2C_SMBUS_I2C_BLOCK_DATA},
        {I2C_SMBUS_WRITE, I2C_SMBUS_I2C_BLOCK_DATA}};
    const auto [direction, size] = kWire[static_cast<int>(call->kind)];
    i2c_smbus_data data{};
    i2c_smbus_ioctl_data args{direction, call->command, size, &data};
    if (call->kind == Kind::WriteByteData) data.byte = call->data[0];
    if (call->kind == Kind::ReadI2cBlock) data.block[0] = static_cast<__u8>(call->length);
    if (call->kind == Kind::WriteI2cBlock) {
        data.block[0] = static_cast<__u8>(call->data.size());
        std::ranges::copy(call->data, data.block + 1);
    }
    if (::ioctl(fd_, I2C_SMBUS, &args) < 0) {
        first.status = StatusOfError(errno);
        return;
    }
    for (std::size_t k = 0; k < messages.size(); ++k) {
        I2cMessageResult& done = result.messages[k];
        done.status = I2cStatus::Done;
        done.bytesDone = messages[k].read ? messages[k].length : int(messages[k].data.size());
    }
    if (call->kind == Kind::ReadByteData) result.messages.back().read = {data.byte};
    if (call->kind == Kind::ReadI2cBlock) {
        if (data.block[0] < call->length) {  // came short
            result.messages.back().status = I2cStatus::ByteRefused;
            return;
        }
        result.messages.back().read.assign(data.block + 1, data.block + 1 + call->length);
    }
}

}  // namespace quillon::i2cdev
