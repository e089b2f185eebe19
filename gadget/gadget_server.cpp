#include "gadget/gadget_server.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "gadget/function_fs.h"

namespace {

constexpr size_t kCbwReadSize = kHighSpeedBulkPacket; // a whole packet: a longer CBW shows as invalid
constexpr size_t kOutChunk = 64 * 1024;
constexpr int kControlPollMs = 100;
// How long the host may take to read what waits in the bulk-in FIFO.
constexpr uint32_t kHaltWaitMs = 2000;

const char* DirectionName(DataDirection direction)
{
    switch (direction) {
    case DataDirection::In: return "in";
    case DataDirection::Out: return "out";
    default: return "none";
    }
}

const char* EventName(int type)
{
    switch (type) {
    case FUNCTIONFS_BIND: return "bind";
    case FUNCTIONFS_UNBIND: return "unbind";
    case FUNCTIONFS_ENABLE: return "enable";
    case FUNCTIONFS_DISABLE: return "disable";
    case FUNCTIONFS_SETUP: return "setup";
    case FUNCTIONFS_SUSPEND: return "suspend";
    case FUNCTIONFS_RESUME: return "resume";
    default: return "unknown";
    }
}

bool WriteWhole(int fd, const std::vector<uint8_t>& bytes)
{
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

} // namespace

GadgetServer::GadgetServer(EmulatedTarget& target, ScsiDisk& disk, GadgetConfig config)
    : target_(target), disk_(disk), device_(target, disk), config_(std::move(config))
{
    startMs_ = logClock_.NowMs();
    if (config_.trace != nullptr) {
        std::FILE* trace = config_.trace;
        target_.SetTraceListener([trace](const std::string& line) {
            std::fprintf(trace, "%s\n", line.c_str());
            std::fflush(trace);
        });
    }
}

GadgetServer::~GadgetServer()
{
    quitControl_ = true;
    if (control_.joinable()) control_.join();
    target_.SetTraceListener(nullptr);
    for (int fd : {in_, out_, ep0_})
        if (fd >= 0) close(fd);
}

void GadgetServer::Log(const char* format, ...)
{
    if (config_.log == nullptr) return;
    std::lock_guard<std::mutex> lock(logMutex_);
    std::fprintf(config_.log, "%8.3f ", static_cast<double>(logClock_.NowMs() - startMs_) / 1000.0);
    va_list args;
    va_start(args, format);
    std::vfprintf(config_.log, format, args);
    va_end(args);
    std::fputc('\n', config_.log);
    std::fflush(config_.log);
}

bool GadgetServer::Start(std::string& error)
{
    const std::string ep0Path = config_.ffsDir + "/ep0";
    ep0_ = open(ep0Path.c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) {
        error = ep0Path + ": " + std::strerror(errno);
        return false;
    }
    if (!WriteWhole(ep0_, BuildFunctionDescriptors()) || !WriteWhole(ep0_, BuildFunctionStrings())) {
        error = ep0Path + ": descriptors refused: " + std::strerror(errno);
        return false;
    }
    // The endpoint files exist once the descriptors are in.
    const std::string inPath = config_.ffsDir + "/" + kBulkInFile;
    const std::string outPath = config_.ffsDir + "/" + kBulkOutFile;
    in_ = open(inPath.c_str(), O_RDWR | O_CLOEXEC);
    out_ = open(outPath.c_str(), O_RDWR | O_CLOEXEC);
    if (in_ < 0 || out_ < 0) {
        error = "endpoint files in " + config_.ffsDir + ": " + std::strerror(errno);
        return false;
    }
    loopThread_ = pthread_self();
    control_ = std::thread([this] { ControlLoop(); });
    device_.Connect();
    generation_ = target_.Generation();
    // A gadget left bound by an earlier run is taken off the bus first.
    std::string ignored;
    UnbindGadget(config_.udcFile, ignored);
    if (!Bind()) {
        error = "cannot bind the gadget to " + config_.controller;
        return false;
    }
    if (!config_.readyFile.empty()) {
        if (std::FILE* ready = std::fopen(config_.readyFile.c_str(), "w")) std::fclose(ready);
    }
    return true;
}

bool GadgetServer::Bind()
{
    std::string error;
    bound_ = BindGadget(config_.udcFile, config_.controller, error);
    if (bound_) Log("bound to %s (target generation %u)", config_.controller.c_str(), generation_);
    else Log("bind failed: %s", error.c_str());
    return bound_;
}

void GadgetServer::Unbind()
{
    if (!bound_) return;
    std::string error;
    if (!UnbindGadget(config_.udcFile, error)) Log("unbind failed: %s", error.c_str());
    else Log("unbound");
    bound_ = false;
}

// --- control endpoint ---------------------------------------------------------

void GadgetServer::ControlLoop()
{
    // Signals are for the command loop: this thread only sends them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    while (!quitControl_) {
        pollfd ready{ep0_, POLLIN, 0};
        const int polled = poll(&ready, 1, kControlPollMs);
        // A reset must reach the loop even when it entered its I/O just after the first nudge.
        if (resetPending_ && loopInIo_) pthread_kill(loopThread_, kInterruptSignal);
        if (polled <= 0 || (ready.revents & POLLIN) == 0) continue;
        usb_functionfs_event events[4];
        const ssize_t n = read(ep0_, events, sizeof events);
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN) {
                Log("control endpoint: %s", std::strerror(errno));
                usleep(10000);
            }
            continue;
        }
        for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) {
            if (events[i].type == FUNCTIONFS_SETUP) HandleSetup(events[i].u.setup);
            else Log("event %s", EventName(events[i].type));
        }
    }
}

void GadgetServer::HandleSetup(const usb_ctrlrequest& setup)
{
    const uint16_t value = le16toh(setup.wValue);
    const uint16_t length = le16toh(setup.wLength);
    uint8_t scratch[1] = {0};
    if (setup.bRequestType == kRequestTypeClassInterfaceIn && setup.bRequest == kRequestGetMaxLun && value == 0 &&
        length >= 1) {
        const uint8_t maxLun = kGadgetMaxLun;
        if (write(ep0_, &maxLun, 1) != 1) Log("get max lun: reply failed: %s", std::strerror(errno));
        else Log("get max lun -> %u", maxLun);
        return;
    }
    if (setup.bRequestType == kRequestTypeClassInterfaceOut && setup.bRequest == kRequestBulkOnlyReset && value == 0 &&
        length == 0) {
        if (read(ep0_, nullptr, 0) < 0) Log("bulk-only reset: status stage failed: %s", std::strerror(errno));
        Log("bulk-only reset");
        // Whatever the command loop was doing is over: it waits for a new CBW.
        resetPending_ = true;
        pthread_kill(loopThread_, kInterruptSignal);
        return;
    }
    // Any other request is not this function's: stall it (the I/O in the
    // direction opposite to the request's data stage does that).
    Log("setup %02x %02x value %04x length %u: stalled", setup.bRequestType, setup.bRequest, value, length);
    if ((setup.bRequestType & USB_DIR_IN) != 0) (void)!read(ep0_, scratch, 0);
    else (void)!write(ep0_, scratch, 0);
}

// --- bulk endpoints -------------------------------------------------------------

bool GadgetServer::Aborted() const { return resetPending_ || (stop_ != nullptr && *stop_); }

bool GadgetServer::ReceiveOut(uint32_t length, std::vector<uint8_t>& out)
{
    out.clear();
    out.reserve(std::min(length, kGadgetMaxDataLength));
    std::vector<uint8_t> chunk(kOutChunk);
    uint32_t received = 0;
    while (received < length) {
        const size_t want = std::min<size_t>(kOutChunk, length - received);
        loopInIo_ = true;
        const ssize_t n = Aborted() ? -1 : read(out_, chunk.data(), want);
        loopInIo_ = false;
        if (n < 0) {
            if (!Aborted()) Log("bulk-out: %s", std::strerror(errno));
            return false;
        }
        // Beyond what the device holds the bytes are taken and dropped.
        const size_t room = out.size() < kGadgetMaxDataLength ? kGadgetMaxDataLength - out.size() : 0;
        const size_t keep = std::min(static_cast<size_t>(n), room);
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(keep));
        received += static_cast<uint32_t>(n);
        if (static_cast<size_t>(n) < want) break; // a short packet: the host sent less
    }
    return true;
}

bool GadgetServer::SendIn(const uint8_t* data, size_t length)
{
    size_t sent = 0;
    do {
        loopInIo_ = true;
        const ssize_t n = Aborted() ? -1 : write(in_, data + sent, length - sent);
        loopInIo_ = false;
        if (n < 0) {
            if (!Aborted()) Log("bulk-in: %s", std::strerror(errno));
            return false;
        }
        sent += static_cast<size_t>(n);
    } while (sent < length);
    return true;
}

// FunctionFS halts an endpoint when it is asked for I/O against its direction.
// A controller refuses to halt bulk-in while data still waits in its FIFO
// (dummy_hcd completes short writes at once and keeps a copy until the host
// reads it): the halt is repeated until the host has taken that data.
bool GadgetServer::HaltIn()
{
    uint8_t scratch = 0;
    for (uint32_t waitedMs = 0;; ++waitedMs) {
        if (read(in_, &scratch, 1) < 0 && errno == EBADMSG) return true;
        if (errno != EAGAIN || waitedMs >= kHaltWaitMs || Aborted()) break;
        logClock_.Sleep(1);
    }
    Log("bulk-in: halt failed: %s", std::strerror(errno));
    return false;
}

void GadgetServer::HaltOut()
{
    const uint8_t scratch = 0;
    if (write(out_, &scratch, 1) >= 0 || errno != EBADMSG) Log("bulk-out: halt failed: %s", std::strerror(errno));
}

void GadgetServer::ServeCommand(const CommandBlockWrapper& cbw)
{
    std::vector<uint8_t> out;
    if (cbw.direction == DataDirection::Out && !ReceiveOut(cbw.dataLength, out)) return;
    CommandResponse response = device_.Run(cbw, out);
    const PhaseResolution phases = ResolvePhases(cbw.direction, cbw.dataLength, response.result);
    if (cbw.direction == DataDirection::In) {
        if (phases.sendBytes > 0 && !SendIn(response.data.data(), phases.sendBytes)) return;
        if (phases.stallIn) HaltIn();
    }
    const auto csw = BuildCsw(cbw.tag, phases.residue, phases.status);
    const bool sent = SendIn(csw.data(), csw.size());

    char cdbText[3 * 16 + 1] = {};
    for (uint8_t i = 0; i < cbw.cdbLength; ++i) std::snprintf(cdbText + 3 * i, 4, "%02x ", cbw.cdb[i]);
    Log("cbw %08x %s%s %u -> %s sent %u residue %u status %u%s%s", cbw.tag, cdbText, DirectionName(cbw.direction),
        cbw.dataLength, DirectionName(response.result.direction), phases.sendBytes, phases.residue,
        static_cast<unsigned>(phases.status), phases.stallIn ? " stall" : "", sent ? "" : " (csw not taken)");
    if (response.result.transportFailed) Log("the target failed at the transport (error %u)", device_.LastTransportError());
}

// After each command: when the target left the bus (its code started), the
// gadget leaves too, and comes back once the target is back.
void GadgetServer::FollowPresence()
{
    if (target_.Present() && target_.Generation() == generation_) return;
    // The status of the last command must reach the host before the target
    // drops off: once bulk-in can be halted, nothing of it is left in the FIFO.
    HaltIn();
    Log("the target left the bus");
    Unbind();
    while (!*stop_ && !target_.Present()) logClock_.Sleep(config_.presencePollMs);
    if (*stop_) return;
    device_.Connect();
    generation_ = target_.Generation();
    Log("the target is back (state %u)", target_.BootState());
    Bind();
}

void GadgetServer::Run(const std::atomic<bool>& stop)
{
    stop_ = &stop;
    bool waitForReset = false;
    std::vector<uint8_t> raw(kCbwReadSize);
    while (!stop) {
        if (resetPending_.exchange(false)) waitForReset = false;
        if (waitForReset || !bound_) {
            logClock_.Sleep(10);
            if (!bound_ && target_.Present()) Bind();
            continue;
        }
        loopInIo_ = true;
        const ssize_t n = Aborted() ? -1 : read(out_, raw.data(), raw.size());
        loopInIo_ = false;
        if (n < 0) {
            // Interrupted, or the endpoint went away (unbind, reconfiguration).
            if (errno != EINTR && errno != ESHUTDOWN && errno != ECONNRESET) Log("bulk-out: %s", std::strerror(errno));
            if (errno != EINTR) logClock_.Sleep(5);
            continue;
        }
        const CbwProblem problem = CheckCbw(raw.data(), static_cast<size_t>(n), kGadgetMaxLun);
        if (problem != CbwProblem::None) {
            // No CSW for such a block: both endpoints halt until the host resets the device.
            Log("%s CBW of %zd bytes: halting until reset", problem == CbwProblem::NotValid ? "invalid" : "meaningless", n);
            HaltIn();
            HaltOut();
            waitForReset = true;
            continue;
        }
        ServeCommand(*ParseCbw(raw.data(), static_cast<size_t>(n), kGadgetMaxLun));
        FollowPresence();
    }
    Unbind();
    quitControl_ = true;
    if (control_.joinable()) control_.join();
}
