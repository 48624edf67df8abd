#include "emulated_iow24.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace quillon::iow {

namespace {

constexpr char kController[] = "/dev/gadget/dummy_udc";
constexpr char kIoPortsEndpoint[] = "/dev/gadget/ep5in-int";  // dummy_udc's fixed names
constexpr char kSpecialEndpoint[] = "/dev/gadget/ep10in-int";
constexpr std::uint8_t kIoPortsAddress = USB_DIR_IN | 5;
constexpr std::uint8_t kSpecialAddress = USB_DIR_IN | 10;
constexpr int kIoPortsReportBytes = 4;
constexpr int kSpecialReportBytes = 8;
constexpr std::uint8_t kHidClass = 3;
constexpr std::uint8_t kHidSetReport = 0x09;
constexpr std::uint8_t kHidSetIdle = 0x0A;

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

std::vector<std::uint8_t> Endpoint(std::uint8_t address, int maxPacket) {
    std::vector<std::uint8_t> d{USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address,
                                USB_ENDPOINT_XFER_INT};
    Put16(d, maxPacket);
    d.push_back(1);  // bInterval, ms
    return d;
}

std::vector<std::uint8_t> Interface(std::uint8_t number) {
    return {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, number, 0, 1, kHidClass, 0, 0, 0};
}

// tag 0, the full-speed configuration, the device descriptor.
std::vector<std::uint8_t> DeviceConfiguration() {
    std::vector<std::uint8_t> body;
    for (auto part : {Interface(0), Endpoint(kIoPortsAddress, kIoPortsReportBytes), Interface(1),
                      Endpoint(kSpecialAddress, kSpecialReportBytes)})
        body.insert(body.end(), part.begin(), part.end());
    std::vector<std::uint8_t> out{0, 0, 0, 0};
    out.insert(out.end(), {USB_DT_CONFIG_SIZE, USB_DT_CONFIG});
    Put16(out, USB_DT_CONFIG_SIZE + body.size());
    out.insert(out.end(), {2, 1, 0, USB_CONFIG_ATT_ONE, 50});
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), {USB_DT_DEVICE_SIZE, USB_DT_DEVICE});
    Put16(out, 0x0110);
    out.insert(out.end(), {0, 0, 0, 8});
    Put16(out, 0x07C0);
    Put16(out, VirtualAdapter::kProductId);
    Put16(out, VirtualAdapter::kRevision);
    out.insert(out.end(), {1, 2, 3, 1});
    return out;
}

std::vector<std::uint8_t> StringDescriptor(int index, const std::string& serial) {
    if (index == 0) return {4, USB_DT_STRING, 0x09, 0x04};  // English (US)
    const std::string text = index == 1 ? "Code Mercenaries" : index == 2 ? "IOWarrior24" : serial;
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (char c : text) Put16(d, static_cast<unsigned char>(c));
    return d;
}

bool WaitForNodes(int count, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (IowarriorNodeCount() == count) return true;
        usleep(10000);
    }
    return false;
}

}  // namespace

int IowarriorNodeCount() {
    int count = 0;
    if (DIR* dir = opendir("/dev/usb")) {
        while (const dirent* entry = readdir(dir))
            count += std::strncmp(entry->d_name, "iowarrior", 9) == 0;
        closedir(dir);
    }
    return count;
}

bool EmulatedIow24::Plug(std::string& error) {
    if (Plugged()) return true;
    ep0_ = open(kController, O_RDWR);
    if (ep0_ < 0) {
        error = std::string("cannot open ") + kController + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<std::uint8_t> config = DeviceConfiguration();
    if (write(ep0_, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
        error = std::string("gadgetfs refused the descriptors: ") + std::strerror(errno);
        close(ep0_);
        ep0_ = -1;
        return false;
    }
    running_ = true;
    lostByModel_ = false;
    controllerClosed_ = false;
    control_ = std::thread([this] { ControlLoop(); });
    replies_ = std::thread([this] { ReplyLoop(); });
    if (!WaitForNodes(2, 5000)) {
        error = "the iowarrior driver made no nodes for the emulated adapter";
        Unplug();
        return false;
    }
    return true;
}

void EmulatedIow24::Unplug() {
    if (!Plugged()) return;
    running_ = false;
    wake_.notify_all();
    CloseController();
    if (control_.joinable()) control_.join();
    if (replies_.joinable()) replies_.join();
    ep0_ = -1;
    for (int* fd : {&epIoPorts_, &epSpecial_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    queue_.clear();
    WaitForNodes(0, 5000);
}

// Closing the controller unbinds the gadget: the host sees a disconnect, and an endpoint
// write that waits for the host ends.
void EmulatedIow24::CloseController() {
    std::lock_guard<std::mutex> lock(closeMutex_);
    if (ep0_ >= 0 && !controllerClosed_) close(ep0_);
    controllerClosed_ = true;
}

void EmulatedIow24::WaitIdle() {
    for (int waited = 0; waited < 5000 && OnBus(); ++waited) {
        pollfd p{ep0_, POLLIN, 0};
        if (!handling_ && poll(&p, 1, 0) == 0) return;
        usleep(1000);
    }
}

bool EmulatedIow24::EnableEndpoints() {
    const auto enable = [](const char* path, const std::vector<std::uint8_t>& descriptor) {
        const int fd = open(path, O_RDWR);
        if (fd < 0) return -1;
        std::vector<std::uint8_t> config{1, 0, 0, 0};  // tag 1, then the full-speed descriptor
        config.insert(config.end(), descriptor.begin(), descriptor.end());
        if (write(fd, config.data(), config.size()) < 0) {
            close(fd);
            return -1;
        }
        return fd;
    };
    if (epIoPorts_ < 0)
        epIoPorts_ = enable(kIoPortsEndpoint, Endpoint(kIoPortsAddress, kIoPortsReportBytes));
    if (epSpecial_ < 0)
        epSpecial_ = enable(kSpecialEndpoint, Endpoint(kSpecialAddress, kSpecialReportBytes));
    wake_.notify_all();
    return epIoPorts_ >= 0 && epSpecial_ >= 0;
}

void EmulatedIow24::ControlLoop() {
    usb_gadgetfs_event events[5];
    while (running_) {
        pollfd p{ep0_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        handling_ = true;
        const ssize_t got = read(ep0_, events, sizeof events);
        if (got < 0) {
            handling_ = false;
            if (errno == EAGAIN || errno == EINTR) continue;
            return;
        }
        for (std::size_t k = 0; k < static_cast<std::size_t>(got) / sizeof events[0]; ++k) {
            if (events[k].type == GADGETFS_SETUP) HandleSetup(&events[k].u.setup);
        }
        handling_ = false;
        if (lostByModel_) {
            CloseController();
            return;
        }
    }
}

void EmulatedIow24::HandleSetup(const void* raw) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(raw);
    const unsigned value = setup.wValue, index = setup.wIndex, length = setup.wLength;
    std::uint8_t buffer[256];
    const auto acknowledge = [&] { (void)!read(ep0_, buffer, 0); };
    const auto stall = [&] {
        if (setup.bRequestType & USB_DIR_IN)
            (void)!read(ep0_, buffer, 0);
        else
            (void)!write(ep0_, buffer, 0);
    };
    if (setup.bRequestType == USB_DIR_IN && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
        (value >> 8) == USB_DT_STRING) {
        const auto d = StringDescriptor(value & 0xFF, model_.SerialNumber());
        (void)!write(ep0_, d.data(), std::min<std::size_t>(d.size(), length));
        return;
    }
    if (setup.bRequestType == 0 && setup.bRequest == USB_REQ_SET_CONFIGURATION) {
        if ((value & 0xFF) != 0) EnableEndpoints();
        acknowledge();
        return;
    }
    if (setup.bRequestType == USB_RECIP_INTERFACE && setup.bRequest == USB_REQ_SET_INTERFACE) {
        acknowledge();
        return;
    }
    const std::uint8_t classOut = USB_TYPE_CLASS | USB_RECIP_INTERFACE;
    if (setup.bRequestType == classOut && setup.bRequest == kHidSetIdle) {
        acknowledge();
        return;
    }
    if (setup.bRequestType == classOut && setup.bRequest == kHidSetReport && length > 0 &&
        length <= sizeof buffer) {
        const ssize_t got = read(ep0_, buffer, length);
        if (got != static_cast<ssize_t>(length) || index > 1) return;
        std::uint8_t report[VirtualAdapter::kReportBytes] = {};
        std::memcpy(report, buffer, std::min<std::size_t>(length, sizeof report));
        std::optional<VirtualAdapter::Reply> reply;
        std::lock_guard<std::mutex> lock(mutex_);
        if (model_.TakingReports())
            model_.Receive(index, report, sizeof report, Clock::now(), reply);
        if (!model_.Connected()) {
            lostByModel_ = true;  // the model pulled its plug: so does the gadget
            running_ = false;
            wake_.notify_all();
            return;
        }
        if (reply && index == 1) {
            queue_.push_back(*reply);
            wake_.notify_all();
        }
        return;
    }
    stall();
}

void EmulatedIow24::ReplyLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        wake_.wait(lock, [this] { return !running_ || (!queue_.empty() && epSpecial_ >= 0); });
        if (!running_) return;
        const VirtualAdapter::Reply reply = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(reply.readyAt);
        const ssize_t sent = write(epSpecial_, reply.bytes.data(), reply.bytes.size());
        lock.lock();
        if (sent < 0 && !running_) return;
    }
}

}  // namespace quillon::iow
