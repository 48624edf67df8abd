#include "emulated_iowarrior.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>
#include <utility>
#include <vector>

namespace quillon::iow {

namespace {

using Descriptor = std::vector<std::uint8_t>;
constexpr std::uint32_t kProductIow56 = 0x1503;
// dummy_udc's endpoints: two fixed interrupt-in ones, two generic ones that take interrupt-out.
constexpr const char* kEndpointFiles[4] = {"/dev/gadget/ep5in-int", "/dev/gadget/ep10in-int",
                                           "/dev/gadget/ep-aout", "/dev/gadget/ep-cout"};
constexpr std::uint8_t kEndpointAddresses[4] = {USB_DIR_IN | 5, USB_DIR_IN | 10, 3, 4};
constexpr std::uint8_t kHidClass = 3, kHidSetReport = 0x09, kHidSetIdle = 0x0A;

void Put16(Descriptor& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

Descriptor Endpoint(int index, int maxPacket) {
    Descriptor d{USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kEndpointAddresses[index],
                 USB_ENDPOINT_XFER_INT};
    Put16(d, maxPacket);
    d.push_back(1);  // bInterval, ms
    return d;
}

// The report sizes of endpoint `index` (in 0, in 1, out 0, out 1): IOW24 4 and 8, IOW56 64.
int MaxPacket(bool iow56, int index) { return iow56 ? 64 : index == 0 ? 4 : 8; }

// tag 0, the full-speed configuration, the device descriptor.
Descriptor DeviceConfiguration(std::uint32_t productId) {
    const bool iow56 = productId == kProductIow56;
    const std::uint8_t perInterface = iow56 ? 2 : 1;
    Descriptor body;
    for (std::uint8_t number : {0, 1}) {
        body.insert(body.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, number, 0, perInterface,
                                 kHidClass, 0, 0, 0});
        for (int index = number; index < 2 * perInterface; index += 2) {
            const Descriptor e = Endpoint(index, MaxPacket(iow56, index));
            body.insert(body.end(), e.begin(), e.end());
        }
    }
    Descriptor out{0, 0, 0, 0, USB_DT_CONFIG_SIZE, USB_DT_CONFIG};
    Put16(out, USB_DT_CONFIG_SIZE + body.size());
    out.insert(out.end(), {2, 1, 0, USB_CONFIG_ATT_ONE, 50});
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), {USB_DT_DEVICE_SIZE, USB_DT_DEVICE});
    Put16(out, 0x0110);
    out.insert(out.end(), {0, 0, 0, 8});
    Put16(out, 0x07C0);
    Put16(out, productId);
    Put16(out, VirtualAdapter::kRevision);
    out.insert(out.end(), {1, 2, 3, 1});
    return out;
}

Descriptor StringDescriptor(int index, const std::string& serial, bool iow56) {
    if (index == 0) return {4, USB_DT_STRING, 0x09, 0x04};  // English (US)
    const std::string text = index == 1   ? "Code Mercenaries"
                             : index == 2 ? (iow56 ? "IOWarrior56" : "IOWarrior24")
                                          : serial;
    Descriptor d{static_cast<std::uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
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

bool EmulatedIowarrior::Iow56() const { return productId_ == kProductIow56; }

bool EmulatedIowarrior::Plug(std::string& error) {
    if (Plugged()) return true;
    ep0_ = open("/dev/gadget/dummy_udc", O_RDWR);
    if (ep0_ < 0)
        return error = std::string("cannot open dummy_udc: ") + std::strerror(errno), false;
    const Descriptor config = DeviceConfiguration(productId_);
    if (write(ep0_, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
        error = std::string("gadgetfs refused the descriptors: ") + std::strerror(errno);
        close(ep0_);
        return ep0_ = -1, false;
    }
    struct sigaction wake {};  // no SA_RESTART: a read it interrupts ends with EINTR
    wake.sa_handler = [](int) {};
    sigaction(SIGUSR1, &wake, nullptr);
    running_ = true;
    lostByModel_ = false;
    controllerClosed_ = false;
    control_ = std::thread([this] { prctl(PR_SET_NAME, "iow-control"), ControlLoop(); });
    replies_ = std::thread([this] { prctl(PR_SET_NAME, "iow-replies"), ReplyLoop(); });
    if (Iow56())
        reports_ = std::thread([this] { prctl(PR_SET_NAME, "iow-reports"), ReportLoop(); });
    if (!WaitForNodes(2, 5000)) {
        error = "the iowarrior driver made no nodes for the emulated adapter";
        Unplug();
        return false;
    }
    return true;
}

void EmulatedIowarrior::Unplug() {
    if (!Plugged()) return;
    running_ = false;
    wake_.notify_all();
    StopReading();
    CloseController();
    for (std::thread* t : {&control_, &replies_, &reports_})
        if (t->joinable()) t->join();
    ep0_ = -1;
    for (auto& fd : endpoints_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    queue_.clear();
    WaitForNodes(0, 5000);
}

// Gets the report thread out of a read that waits for the host: closing the controller while
// it waits there deadlocks gadgetfs (the unbind waits for the endpoint, the read for the
// unbind). A signal ends the read; it is sent until the thread is out, since one that comes
// just before the read starts is lost.
void EmulatedIowarrior::StopReading() {
    running_ = false;
    while (reading_) {
        pthread_kill(reports_.native_handle(), SIGUSR1);
        usleep(1000);
    }
}

// Closing the controller unbinds the gadget: the host sees a disconnect, and an endpoint
// read or write that waits for the host ends.
void EmulatedIowarrior::CloseController() {
    std::lock_guard<std::mutex> lock(closeMutex_);
    if (ep0_ >= 0 && !controllerClosed_) close(ep0_);
    controllerClosed_ = true;
}

// On an IOW56 a report the program wrote reaches the endpoint a frame or two after its write
// returned: idle there is the report thread waiting in its read, with no report handled, for
// a while.
void EmulatedIowarrior::WaitIdle() {
    constexpr int kQuietMsIow56 = 20;
    int quietMs = 0;
    unsigned handled = reportsHandled_;
    for (int waited = 0; waited < 5000 && OnBus(); ++waited) {
        pollfd p{ep0_, POLLIN, 0};
        bool busy = handling_ != 0 || poll(&p, 1, 0) != 0;
        if (Iow56() && model_.TakingReports())
            busy = busy || !reading_ || reportsHandled_ != std::exchange(handled, reportsHandled_);
        quietMs = busy ? 0 : quietMs + 1;
        if (quietMs >= (Iow56() ? kQuietMsIow56 : 1)) return;
        usleep(1000);
    }
}

bool EmulatedIowarrior::EnableEndpoints() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int index = 0; index < (Iow56() ? 4 : 2); ++index) {
        if (endpoints_[index] >= 0) continue;
        const int fd = open(kEndpointFiles[index], O_RDWR);
        Descriptor config{1, 0, 0, 0};  // tag 1, then the full-speed descriptor
        const Descriptor d = Endpoint(index, MaxPacket(Iow56(), index));
        config.insert(config.end(), d.begin(), d.end());
        if (fd >= 0 && write(fd, config.data(), config.size()) < 0)
            close(fd);
        else
            endpoints_[index] = fd;
    }
    wake_.notify_all();
    return endpoints_[0] >= 0 && endpoints_[1] >= 0;
}

void EmulatedIowarrior::ControlLoop() {
    usb_gadgetfs_event events[5];
    while (running_) {
        pollfd p{ep0_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ++handling_;
        const ssize_t got = read(ep0_, events, sizeof events);
        if (got < 0) {
            --handling_;
            if (errno == EAGAIN || errno == EINTR) continue;
            return;
        }
        for (std::size_t k = 0; k < static_cast<std::size_t>(got) / sizeof events[0]; ++k)
            if (events[k].type == GADGETFS_SETUP) HandleSetup(&events[k].u.setup);
        --handling_;
        if (lostByModel_) return StopReading(), CloseController();
    }
}

void EmulatedIowarrior::HandleSetup(const void* raw) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(raw);
    const unsigned value = setup.wValue, length = setup.wLength;
    std::uint8_t buffer[256];
    const auto acknowledge = [&] { (void)!read(ep0_, buffer, 0); };
    // A transfer in the wrong direction stalls the request.
    const auto stall = [&] {
        if (setup.bRequestType & USB_DIR_IN) return (void)!read(ep0_, buffer, 0);
        (void)!write(ep0_, buffer, 0);
    };
    const std::uint8_t classOut = USB_TYPE_CLASS | USB_RECIP_INTERFACE;
    if (setup.bRequestType == USB_DIR_IN && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
        (value >> 8) == USB_DT_STRING) {
        const auto d = StringDescriptor(value & 0xFF, model_.SerialNumber(), Iow56());
        (void)!write(ep0_, d.data(), std::min<std::size_t>(d.size(), length));
    } else if (setup.bRequestType == 0 && setup.bRequest == USB_REQ_SET_CONFIGURATION) {
        if ((value & 0xFF) != 0) EnableEndpoints();
        acknowledge();
    } else if ((setup.bRequestType == USB_RECIP_INTERFACE &&
                setup.bRequest == USB_REQ_SET_INTERFACE) ||
               (setup.bRequestType == classOut && setup.bRequest == kHidSetIdle)) {
        acknowledge();
    } else if (setup.bRequestType == classOut && setup.bRequest == kHidSetReport && !Iow56() &&
               length > 0 && length <= sizeof buffer) {
        if (read(ep0_, buffer, length) == static_cast<ssize_t>(length) && setup.wIndex == 1)
            HandleReport(buffer, length);
    } else {
        stall();
    }
}

// An I2C report for the model; its reply goes into the queue.
void EmulatedIowarrior::HandleReport(std::uint8_t* bytes, std::size_t length) {
    std::vector<std::uint8_t> report(bytes, bytes + length);
    report.resize(static_cast<std::size_t>(model_.ReportBytes(1)), 0);
    std::vector<VirtualAdapter::Reply> replies;
    std::lock_guard<std::mutex> lock(mutex_);
    if (model_.TakingReports())
        model_.Receive(1, report.data(), report.size(), Clock::now(), replies);
    if (!model_.Connected()) {
        lostByModel_ = true;  // the model pulled its plug: so does the gadget
        running_ = false;
    } else {
        for (auto& reply : replies) queue_.push_back(std::move(reply));
    }
    wake_.notify_all();
}

// The IOW56's I2C reports: read only while the model takes reports, so that the driver's
// writes stay in flight while it does not.
void EmulatedIowarrior::ReportLoop() {
    std::uint8_t buffer[64];
    while (running_) {
        if (endpoints_[3] < 0 || !model_.TakingReports()) {
            usleep(2000);
            continue;
        }
        reading_ = true;  // before the check, so that StopReading sees either
        if (!running_) return void(reading_ = false);
        const ssize_t got = read(endpoints_[3], buffer, sizeof buffer);
        reading_ = false;
        if (got <= 0) {
            if (!running_) return;
            usleep(2000);
            continue;
        }
        ++handling_;
        HandleReport(buffer, static_cast<std::size_t>(got));
        ++reportsHandled_;
        --handling_;
        if (lostByModel_) return CloseController();
    }
}

void EmulatedIowarrior::ReplyLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint8_t padded[64] = {};
    while (running_) {
        wake_.wait(lock, [this] { return !running_ || (!queue_.empty() && endpoints_[1] >= 0); });
        if (!running_) return;
        const VirtualAdapter::Reply reply = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(reply.readyAt);
        std::memcpy(padded, reply.bytes.data(), reply.bytes.size());
        const ssize_t sent = write(endpoints_[1], padded, MaxPacket(Iow56(), 1));
        lock.lock();
        if (sent < 0 && !running_) return;
    }
}

}  // namespace quillon::iow
