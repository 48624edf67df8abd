#include "emulated_iowarrior.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace quillon::iow {

namespace {

using Descriptor = std::vector<std::uint8_t>;
constexpr std::uint32_t kProductIow24 = 0x1501;
constexpr std::uint8_t kEndpointAddresses[4] = {USB_DIR_IN | 1, USB_DIR_IN | 2, 3, 4};
constexpr std::uint8_t kHidClass = 3, kHidSetReport = 0x09, kHidSetIdle = 0x0A;

void Put16(Descriptor& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}
void Put32(Descriptor& out, unsigned value) { Put16(out, value & 0xFFFF), Put16(out, value >> 16); }

// The report sizes of endpoint `index` (in 0, in 1, out 0, out 1): IOW24 4 and 8, IOW56 64.
int MaxPacket(bool iow56, int index) { return iow56 ? 64 : index == 0 ? 4 : 8; }

// The endpoints in the order of the descriptors, which is the order of FunctionFS's ep1, ep2...
std::vector<int> EndpointOrder(bool iow56) {
    return iow56 ? std::vector<int>{0, 2, 1, 3} : std::vector<int>{0, 1};
}

// FunctionFS's descriptor block: both interfaces and their endpoints, the same at full and high
// speed, with the eventfd that tells of every event.
Descriptor FunctionDescriptors(bool iow56, int eventfd) {
    Descriptor body;
    int count = 0;
    for (std::uint8_t number : {0, 1}) {
        body.insert(body.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, number, 0,
                                 std::uint8_t(iow56 ? 2 : 1), kHidClass, 0, 0, 0});
        ++count;
        for (int index : EndpointOrder(iow56)) {
            if (index % 2 != number) continue;
            body.insert(body.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT,
                                     kEndpointAddresses[index], USB_ENDPOINT_XFER_INT});
            Put16(body, MaxPacket(iow56, index));
            body.push_back(1);  // bInterval, ms
            ++count;
        }
    }
    Descriptor out;
    Put32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Put32(out, 24 + 2 * body.size());
    Put32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_EVENTFD);
    Put32(out, eventfd);
    Put32(out, count);
    Put32(out, count);
    for (int speed = 0; speed < 2; ++speed) out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool WriteFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0) close(fd);
    return ok;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace

// The driver writes to every product but the IOW24 family through an interrupt-out endpoint,
// as to the IOW56 (an IOW28 too, whose I2C function this program never drives).
bool EmulatedIowarrior::Iow56() const { return productId_ != kProductIow24; }

// The adapter's nodes that exist now: those of the driver whose device sits on our controller.
int EmulatedIowarrior::NodeCount() const {
    int count = 0;
    const std::string hcd = "/dummy_hcd." + std::to_string(udc_) + "/";
    if (DIR* dir = opendir("/sys/class/usbmisc")) {
        while (const dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, "iowarrior", 9) != 0) continue;
            char path[PATH_MAX];
            const std::string link = std::string("/sys/class/usbmisc/") + entry->d_name + "/device";
            count += realpath(link.c_str(), path) && std::strstr(path, hcd.c_str());
        }
        closedir(dir);
    }
    return count;
}

// The gadget in configfs (once per controller; the product and serial number on every plug),
// its function's file system mounted, and the function's descriptors written.
bool EmulatedIowarrior::SetUpGadget(std::string& error) {
    const std::string name = "iow" + std::to_string(udc_);
    gadget_ = "/sys/kernel/config/usb_gadget/" + name;
    mount_ = "/dev/ffs-" + name;
    const std::string function = gadget_ + "/functions/ffs." + name;
    if (access(gadget_.c_str(), F_OK) != 0) {
        for (const std::string& dir :
             {gadget_, gadget_ + "/strings/0x409", gadget_ + "/configs/c.1", function, mount_})
            if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                return error = "cannot make " + dir + ": " + std::strerror(errno), false;
        if (symlink(function.c_str(), (gadget_ + "/configs/c.1/ffs." + name).c_str()) != 0 ||
            mount(name.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0)
            return error = std::string("cannot set up FunctionFS: ") + std::strerror(errno), false;
    }
    const bool set =
        WriteFile(gadget_ + "/idVendor", "0x07C0") &&
        WriteFile(gadget_ + "/idProduct", Hex(productId_)) &&
        WriteFile(gadget_ + "/bcdDevice", Hex(VirtualAdapter::kRevision)) &&
        WriteFile(gadget_ + "/bcdUSB", "0x0110") &&
        WriteFile(gadget_ + "/strings/0x409/manufacturer", "Code Mercenaries") &&
        WriteFile(gadget_ + "/strings/0x409/product", Iow56() ? "IOWarrior56" : "IOWarrior24") &&
        WriteFile(gadget_ + "/strings/0x409/serialnumber", link_.Model().SerialNumber()) &&
        WriteFile(gadget_ + "/configs/c.1/MaxPower", "100");
    if (!set)
        return error = std::string("configfs refused the gadget: ") + std::strerror(errno), false;
    ep0_ = open((mount_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    events_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const Descriptor descriptors = FunctionDescriptors(Iow56(), events_);
    Descriptor strings;
    for (unsigned word : {unsigned(FUNCTIONFS_STRINGS_MAGIC), 16u, 0u, 0u}) Put32(strings, word);
    if (ep0_ < 0 ||
        write(ep0_, descriptors.data(), descriptors.size()) != ssize_t(descriptors.size()) ||
        write(ep0_, strings.data(), strings.size()) != ssize_t(strings.size()))
        return error = std::string("FunctionFS refused the descriptors: ") + std::strerror(errno),
               false;
    return true;
}

// Binds the gadget to its controller (the host sees the adapter plugged in), or unbinds it (the
// host sees it go, and endpoint reads and writes that wait for the host end).
bool EmulatedIowarrior::Bind(bool bound) {
    return WriteFile(gadget_ + "/UDC", bound ? "dummy_udc." + std::to_string(udc_) : "\n");
}

bool EmulatedIowarrior::Plug(std::string& error) {
    if (Plugged()) return true;
    struct sigaction wake {};  // no SA_RESTART: a read it interrupts ends with EINTR
    wake.sa_handler = [](int) {};
    sigaction(SIGUSR1, &wake, nullptr);
    if (!SetUpGadget(error)) return Close(), false;
    running_ = true;
    lostByModel_ = false;
    holding_ = false;
    control_ = std::thread([this] { prctl(PR_SET_NAME, "iow-control"), ControlLoop(); });
    replies_ = std::thread([this] { prctl(PR_SET_NAME, "iow-replies"), ReplyLoop(); });
    if (Iow56())
        reports_ = std::thread([this] { prctl(PR_SET_NAME, "iow-reports"), ReportLoop(); });
    if (!Bind(true)) error = std::string("cannot bind the gadget: ") + std::strerror(errno);
    for (int waited = 0; error.empty() && NodeCount() != 2; waited += 10) {
        if (waited > 5000) error = "the iowarrior driver made no nodes for the emulated adapter";
        usleep(10000);
    }
    if (!error.empty()) Unplug();
    return error.empty();
}

void EmulatedIowarrior::Unplug() {
    if (!Plugged()) return;
    running_ = false;
    wake_.notify_all();
    StopWaiting();
    Bind(false);
    for (std::thread* t : {&control_, &replies_, &reports_})
        if (t->joinable()) t->join();
    Close();
    queue_.clear();
    for (int waited = 0; waited < 5000 && NodeCount() != 0; waited += 10) usleep(10000);
}

void EmulatedIowarrior::Close() {
    for (auto& fd : endpoints_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    for (int* fd : {&ep0_, &events_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

// Gets the report and reply threads out of a read or write that waits for the host, or for an
// endpoint that unbinding disabled. A signal ends the wait; it is sent until the thread is out,
// since one that comes just before the call starts is lost.
void EmulatedIowarrior::StopWaiting() {
    running_ = false;
    while (reading_ || writing_) {
        if (reading_) pthread_kill(reports_.native_handle(), SIGUSR1);
        if (writing_) pthread_kill(replies_.native_handle(), SIGUSR1);
        usleep(1000);
    }
}

// On an IOW56 a report the program wrote reaches the endpoint a frame or two after its write
// returned: idle there is the report thread waiting in its read, with no report handled, for
// a while. A held SET_REPORT is idle too: nothing answers it until the next request comes.
void EmulatedIowarrior::WaitIdle() {
    constexpr int kQuietMsIow56 = 20;
    int quietMs = 0;
    unsigned handled = reportsHandled_;
    for (int waited = 0; waited < 5000 && OnBus(); ++waited) {
        pollfd p{ep0_, POLLIN, 0};
        bool busy = handling_ != 0 || (!holding_ && poll(&p, 1, 0) != 0);
        if (Iow56() && link_.TakingReports())
            busy = busy || !reading_ || reportsHandled_ != std::exchange(handled, reportsHandled_);
        quietMs = busy ? 0 : quietMs + 1;
        if (quietMs >= (Iow56() ? kQuietMsIow56 : 1)) return;
        usleep(1000);
    }
}

// Once the host has set the configuration: the endpoint files, ep1, ep2... in the descriptors'
// order.
void EmulatedIowarrior::EnableEndpoints() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<int> order = EndpointOrder(Iow56());
    for (std::size_t k = 0; k < order.size(); ++k)
        if (endpoints_[order[k]] < 0)
            endpoints_[order[k]] =
                open((mount_ + "/ep" + std::to_string(k + 1)).c_str(), O_RDWR | O_CLOEXEC);
    wake_.notify_all();
}

// Reads FunctionFS's events. While a SET_REPORT is held, ep0 is left alone (a read would take
// the request's data stage) until the eventfd tells of the next event, which cancels it.
void EmulatedIowarrior::ControlLoop() {
    usb_functionfs_event events[4];
    while (running_) {
        pollfd p{holding_ ? events_ : ep0_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        if (holding_) {
            std::uint64_t count;
            (void)!read(events_, &count, sizeof count);
            holding_ = false;
            continue;
        }
        ++handling_;
        const ssize_t got = read(ep0_, events, sizeof events);
        for (ssize_t k = 0; k < got / ssize_t(sizeof events[0]); ++k) {
            if (events[k].type == FUNCTIONFS_ENABLE) EnableEndpoints();
            if (events[k].type == FUNCTIONFS_SETUP) HandleSetup(&events[k].u.setup);
        }
        --handling_;
        if (lostByModel_) return StopWaiting(), void(Bind(false));
    }
}

void EmulatedIowarrior::HandleSetup(const void* raw) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(raw);
    const unsigned length = setup.wLength;
    std::uint8_t buffer[256];
    const std::uint8_t classOut = USB_TYPE_CLASS | USB_RECIP_INTERFACE;
    if (setup.bRequestType == classOut && setup.bRequest == kHidSetIdle) {
        (void)!read(ep0_, buffer, 0);  // the status stage
    } else if (setup.bRequestType == classOut && setup.bRequest == kHidSetReport && !Iow56() &&
               length > 0 && length <= sizeof buffer) {
        if (!link_.TakingReports()) {  // hung: held until the host gives up on it
            std::uint64_t count;
            (void)!read(events_, &count, sizeof count);
            holding_ = true;
            return;
        }
        if (read(ep0_, buffer, length) == ssize_t(length) && setup.wIndex == 1)
            HandleReport(buffer, length);
    } else if (setup.bRequestType & USB_DIR_IN) {  // a transfer in the wrong direction stalls
        (void)!read(ep0_, buffer, 0);
    } else {
        (void)!write(ep0_, buffer, 0);
    }
}

// An I2C report for the model; its reply goes into the queue.
void EmulatedIowarrior::HandleReport(std::uint8_t* bytes, std::size_t length) {
    std::vector<std::uint8_t> report(bytes, bytes + length);
    report.resize(static_cast<std::size_t>(link_.Model().ReportBytes(1)), 0);
    std::vector<AdapterLink::Reply> replies;
    std::lock_guard<std::mutex> lock(mutex_);
    if (link_.TakingReports())
        link_.Receive(1, report.data(), report.size(), Clock::now(), replies);
    if (!link_.Connected()) {
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
        if (endpoints_[3] < 0 || !link_.TakingReports()) {
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
        if (lostByModel_) return void(Bind(false));
    }
}

void EmulatedIowarrior::ReplyLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint8_t padded[64] = {};
    while (running_) {
        wake_.wait(lock, [this] { return !running_ || (!queue_.empty() && endpoints_[1] >= 0); });
        if (!running_) return;
        const AdapterLink::Reply reply = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(reply.readyAt);
        std::memcpy(padded, reply.bytes.data(), reply.bytes.size());
        writing_ = true;  // before the check, so that StopWaiting sees either
        const ssize_t sent =
            running_ ? write(endpoints_[1], padded, MaxPacket(Iow56(), 1)) : ssize_t(-1);
        writing_ = false;
        lock.lock();
        if (sent < 0 && !running_) return;
    }
}

}  // namespace quillon::iow
