#include "emulated_bridges.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace quillon::testing {

namespace {

using Bytes = std::vector<std::uint8_t>;

// AN495's reports (the numbers hid-cp2112 uses too): those the probe asks for and the transfers.
enum : std::uint8_t {
    kCpVersion = 0x05, kCpSmbusConfig = 0x06, kCpReadRequest = 0x10, kCpWriteReadRequest = 0x11,
    kCpReadForceSend = 0x12, kCpReadResponse = 0x13, kCpWriteRequest = 0x14,
    kCpStatusRequest = 0x15, kCpStatusResponse = 0x16, kCpCancel = 0x17, kCpLockByte = 0x20,
};
// A transfer's status 0 and 1 (AN495: complete; error with the address not acknowledged).
constexpr std::uint8_t kCpComplete = 0x02, kCpError = 0x03, kCpNack = 0x00, kCpSucceeded = 0x05;
constexpr int kCpReadChunkBytes = 61;

// The MCP2221A's I2C commands and what its I2C engine reports (DS20005565, section 3.1); the
// others (GPIO, SRAM, flash) are answered as done, every pin a GPIO input.
enum : std::uint8_t {
    kMcStatus = 0x10, kMcGetData = 0x40, kMcGpioGet = 0x51, kMcWrite = 0x90, kMcRead = 0x91,
    kMcWriteRepeatedStart = 0x92, kMcReadRepeatedStart = 0x93, kMcWriteNoStop = 0x94,
};
constexpr std::uint8_t kMcCancel = 0x10, kMcSetSpeed = 0x20, kMcAddressNacked = 0x25,
                       kMcReadComplete = 0x55, kMcNackFlag = 0x40;
constexpr int kMcReportBytes = 64, kMcChunkBytes = 60;

// A vendor-defined descriptor with the input reports the host takes: the CP2112's two, 63
// bytes after their number, or the MCP2221's one of 64. Output and feature reports pass uhid
// as they are.
Bytes Descriptor(EmulatedBridge::Kind kind) {
    Bytes d{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    if (kind == EmulatedBridge::Kind::Cp2112)
        for (std::uint8_t n : {kCpReadResponse, kCpStatusResponse})
            d.insert(d.end(), {0x85, n, 0x95, 63, 0x09, 0x01, 0x81, 0x02});
    else
        d.insert(d.end(), {0x95, kMcReportBytes, 0x09, 0x01, 0x81, 0x02});
    d.push_back(0xC0);
    return d;
}

std::set<int> BusNumbersNamed(const std::string& prefix) {
    std::set<int> numbers;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/sys/bus/i2c/devices", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("i2c-")) continue;
        std::ifstream in(entry.path() / "name");
        std::string line;
        std::getline(in, line);
        if (line.starts_with(prefix)) numbers.insert(std::stoi(name.substr(4)));
    }
    return numbers;
}

}  // namespace

// --- The bus behind the bridge ---

iow::I2cDevice* BridgeBus::Addressed(std::uint8_t addressByte) {
    const auto now = iow::Clock::now();
    return eeprom_.Acknowledges(addressByte, now) ? &eeprom_ : nullptr;
}

void BridgeBus::Stop() {
    if (current_ != nullptr) current_->Stop(iow::Clock::now());
    current_ = nullptr;
    eeprom_.BusStop();
}

bool BridgeBus::Begin(std::uint8_t addressByte) {
    if (current_ != nullptr) current_->Stop(iow::Clock::now());  // a repeated start ends it
    current_ = Addressed(addressByte);
    if (current_ == nullptr) return Stop(), false;
    current_->Start(addressByte);
    return true;
}

bool BridgeBus::Write(std::uint8_t address, const Bytes& bytes, bool stop) {
    if (!Begin(static_cast<std::uint8_t>(address << 1))) return false;
    for (std::uint8_t byte : bytes)
        if (!current_->Write(byte)) return Stop(), false;
    if (stop) Stop();
    return true;
}

std::optional<Bytes> BridgeBus::Read(std::uint8_t address, int count) {
    if (!Begin(static_cast<std::uint8_t>(address << 1 | 1))) return std::nullopt;
    Bytes bytes;
    for (int k = 0; k < count; ++k) bytes.push_back(current_->Read());
    Stop();
    return bytes;
}

// --- The bridge on uhid ---

bool EmulatedBridge::Plug(std::string& error) {
    const bool cp2112 = kind_ == Kind::Cp2112;
    const std::string adapterName = cp2112 ? "CP2112 SMBus Bridge" : "MCP2221 usb-i2c bridge";
    const std::set<int> before = BusNumbersNamed(adapterName);
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return error = "cannot open /dev/uhid: " + std::string(std::strerror(errno)), false;
    uhid_event create{};
    create.type = UHID_CREATE2;
    auto& c = create.u.create2;
    std::snprintf(reinterpret_cast<char*>(c.name), sizeof c.name, "%s",
                  cp2112 ? "Silicon Labs CP2112 HID USB-to-SMBus Bridge"
                         : "Microchip MCP2221 USB-I2C/UART Combo");
    const Bytes descriptor = Descriptor(kind_);
    std::memcpy(c.rd_data, descriptor.data(), descriptor.size());
    c.rd_size = static_cast<__u16>(descriptor.size());
    c.bus = BUS_USB;
    c.vendor = cp2112 ? 0x10C4 : 0x04D8;
    c.product = cp2112 ? 0xEA90 : 0x00DD;
    c.version = 0x0100;
    running_ = true;
    loop_ = std::thread([this] { Loop(); });
    if (::write(fd_, &create, sizeof create) != sizeof create)
        return error = "UHID_CREATE2 failed: " + std::string(std::strerror(errno)), false;
    // Under TCG the driver's probe and i2c-dev's node take a while.
    for (int tenth = 0; tenth < 200; ++tenth) {
        for (int number : BusNumbersNamed(adapterName))
            if (!before.contains(number) &&
                std::filesystem::exists("/dev/i2c-" + std::to_string(number))) {
                busNumber_ = number;
                return true;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return error = std::string("no I2C bus of the ") + Name() + " appeared", false;
}

void EmulatedBridge::Unplug() {
    if (fd_ < 0) return;
    if (unplugging_.joinable()) {
        unplugging_.join();
    } else {
        uhid_event destroy{};
        destroy.type = UHID_DESTROY;
        (void)::write(fd_, &destroy, sizeof destroy);
    }
    running_ = false;
    if (loop_.joinable()) loop_.join();
    ::close(fd_);
    fd_ = -1;
    busNumber_ = -1;
}

void EmulatedBridge::CountTransfer() {
    if (unplugAfter_ == 0 || --unplugAfter_ != 0) return;
    // The kernel's removal waits until the program closes the bus; the loop goes on meanwhile.
    unplugging_ = std::thread([this] {
        uhid_event destroy{};
        destroy.type = UHID_DESTROY;
        (void)::write(fd_, &destroy, sizeof destroy);
    });
}

void EmulatedBridge::Loop() {
    uhid_event event{};
    while (running_) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        if (::read(fd_, &event, sizeof event) <= 0) continue;
        Handle(&event);
    }
}

void EmulatedBridge::Reply(std::uint32_t type, std::uint32_t id, std::uint16_t error,
                           const Bytes& data) {
    uhid_event reply{};
    reply.type = type;
    if (type == UHID_GET_REPORT_REPLY) {
        reply.u.get_report_reply.id = id;
        reply.u.get_report_reply.err = error;
        reply.u.get_report_reply.size = static_cast<__u16>(data.size());
        std::memcpy(reply.u.get_report_reply.data, data.data(), data.size());
    } else {
        reply.u.set_report_reply.id = id;
        reply.u.set_report_reply.err = error;
    }
    (void)::write(fd_, &reply, sizeof reply);
}

void EmulatedBridge::Input(Bytes report) {
    report.resize(kMcReportBytes);
    uhid_event input{};
    input.type = UHID_INPUT2;
    input.u.input2.size = static_cast<__u16>(report.size());
    std::memcpy(input.u.input2.data, report.data(), report.size());
    (void)::write(fd_, &input, sizeof input);
}

void EmulatedBridge::Handle(const void* raw) {
    const auto& event = *static_cast<const uhid_event*>(raw);
    switch (event.type) {
        case UHID_GET_REPORT: {
            const Bytes report = FeatureReport(event.u.get_report.rnum);
            Reply(UHID_GET_REPORT_REPLY, event.u.get_report.id, report.empty() ? EIO : 0, report);
            break;
        }
        case UHID_SET_REPORT:  // the SMBus configuration, GPIO: taken
            Reply(UHID_SET_REPORT_REPLY, event.u.set_report.id, 0, {});
            break;
        case UHID_OUTPUT:
            if (kind_ == Kind::Cp2112)
                Cp2112Output(event.u.output.data, event.u.output.size);
            else
                Mcp2221Output(event.u.output.data, event.u.output.size);
            break;
        default:
            break;
    }
}

std::vector<std::uint8_t> EmulatedBridge::FeatureReport(std::uint8_t number) const {
    switch (number) {
        case kCpVersion: return {kCpVersion, 0x0C, 0x02};  // part 0x0C, version 2: repeated start
        case kCpSmbusConfig:  // 100 kHz, no time-outs, no retries
            return {kCpSmbusConfig, 0x00, 0x01, 0x86, 0xA0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
        case kCpLockByte: return {kCpLockByte, 0x00};
        default: return {};
    }
}

void EmulatedBridge::Cp2112Output(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return;
    const auto address = static_cast<std::uint8_t>(data[1] >> 1);
    const auto startRead = [&](int length) {
        const auto read = bus_.Read(address, length);
        nacked_ = !read;
        readData_ = read.value_or(Bytes{});
        readDelivered_ = 0;
        lastLength_ = static_cast<int>(readData_.size());
    };
    switch (data[0]) {
        case kCpReadRequest:
            CountTransfer();
            startRead(data[2] << 8 | data[3]);
            break;
        case kCpWriteReadRequest: {
            CountTransfer();
            const Bytes target(data + 5, data + 5 + data[4]);
            readData_.clear();
            if (bus_.Write(address, target, false))
                startRead(data[2] << 8 | data[3]);
            else
                nacked_ = true;
            break;
        }
        case kCpWriteRequest:
            CountTransfer();
            nacked_ = !bus_.Write(address, Bytes(data + 3, data + 3 + data[2]), true);
            readData_.clear();
            lastLength_ = data[2];
            break;
        case kCpStatusRequest:
            Input({kCpStatusResponse, nacked_ ? kCpError : kCpComplete,
                   nacked_ ? kCpNack : kCpSucceeded, 0, 0,
                   static_cast<std::uint8_t>(lastLength_ >> 8),
                   static_cast<std::uint8_t>(lastLength_)});
            break;
        case kCpReadForceSend: {
            const std::size_t asked = data[1] << 8 | data[2];
            const std::size_t n = std::min({asked, std::size_t(kCpReadChunkBytes),
                                            readData_.size() - readDelivered_});
            Bytes report{kCpReadResponse, kCpComplete, static_cast<std::uint8_t>(n)};
            report.insert(report.end(), readData_.begin() + long(readDelivered_),
                          readData_.begin() + long(readDelivered_ + n));
            readDelivered_ += n;
            Input(report);
            break;
        }
        case kCpCancel:
            bus_.Stop();
            nacked_ = false;
            break;
        default:
            break;
    }
}

void EmulatedBridge::Mcp2221Output(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return;
    const std::uint8_t command = data[0];
    Bytes response(kMcReportBytes, 0);
    response[0] = command;
    const int length = size >= 3 ? data[1] | data[2] << 8 : 0;
    const auto address = static_cast<std::uint8_t>(size >= 4 ? data[3] >> 1 : 0);
    switch (command) {
        case kMcStatus:
            if (size > 2 && data[2] == kMcCancel) {
                bus_.Stop();
                nacked_ = false;
                response[2] = kMcCancel;
            }
            if (size > 3 && data[3] == kMcSetSpeed) response[3] = kMcSetSpeed, response[4] = data[4];
            response[8] = nacked_ ? kMcAddressNacked : 0;
            response[20] = nacked_ ? kMcNackFlag : 0;
            response[46] = 'A', response[47] = '6', response[48] = '1', response[49] = '2';
            break;
        case kMcWrite:
        case kMcWriteRepeatedStart:
        case kMcWriteNoStop: {
            CountTransfer();
            const std::size_t n = std::min<std::size_t>(length, size > 4 ? size - 4 : 0);
            nacked_ = !bus_.Write(address, Bytes(data + 4, data + 4 + n), command != kMcWriteNoStop);
            readData_.clear();
            break;
        }
        case kMcRead:
        case kMcReadRepeatedStart: {
            CountTransfer();
            if (command == kMcRead || !nacked_) {
                const auto read = bus_.Read(address, length);
                nacked_ = !read;
                readData_ = read.value_or(Bytes{});
                readDelivered_ = 0;
            }
            break;
        }
        case kMcGetData: {
            const std::size_t n =
                std::min(std::size_t(kMcChunkBytes), readData_.size() - readDelivered_);
            response[2] = nacked_ ? kMcAddressNacked : n > 0 ? kMcReadComplete : 0;
            response[3] = nacked_ ? 0 : static_cast<std::uint8_t>(n);
            if (!nacked_) {
                std::copy_n(readData_.begin() + long(readDelivered_), n, response.begin() + 4);
                readDelivered_ += n;
            }
            break;
        }
        case kMcGpioGet:  // every pin an input at 0
            for (int pin = 0; pin < 4; ++pin) response[3 + 2 * pin] = 1;
            break;
        default:  // GPIO set, SRAM and flash: taken, every pin a GPIO
            break;
    }
    Input(response);
}

}  // namespace quillon::testing
