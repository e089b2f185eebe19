// The emulated target's bus side: presence, sessions, configuration, the
// transport checks of each request and the wire trace. What the target does
// with a command that reaches it is in emulated_target_commands.cpp.
#include "emulator/emulated_target.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

const char kFlashLoaderMarker[16] = {'V', 'A', 'N', 'E', '-', 'F', 'L', 'A', 'S', 'H', 'L', 'O', 'A', 'D', 'E', 'R'};
const char kEmuDefaultIdentity[] = "Vane_TX_V1020.fir";

namespace {

// Keeps flash addresses inside 32 bits with room to spare.
constexpr uint32_t kEmuMaxFlashSize = 0x40000000;
constexpr uint32_t kIdentityTextOffset = 16;
constexpr uint32_t kIdentityTextRoom = 240;

uint32_t UsableFlashSize(uint32_t requested) { return std::min(requested, kEmuMaxFlashSize); }

} // namespace

TimingModel TimingModel::Realistic()
{
    TimingModel t;
    t.commandLatencyUs = 1000;
    t.eraseBlockMs = 150;
    t.pageProgramUs = 700;
    t.busBytesPerMs = 35000;
    return t;
}

EmulatedTarget::EmulatedTarget(IClock& clock, uint32_t flashSize)
    : clock_(clock), flashSize_(UsableFlashSize(flashSize)), sram_(kEmuSramSize, 0x00), flash_(flashSize_, 0xFF)
{
    SetIdentityText(kEmuDefaultIdentity);
}

template <typename Action>
auto EmulatedTarget::WithPresence(Action action) -> decltype(action())
{
    std::unique_lock<std::mutex> lock(mutex_);
    UpdatePresenceLocked();
    if constexpr (std::is_void_v<decltype(action())>) {
        action();
        lock.unlock();
        DispatchNotices();
    } else {
        auto result = action();
        lock.unlock();
        DispatchNotices();
        return result;
    }
}

// One thread at a time delivers the queued notices, so listeners see them in
// the order they happened; a listener that calls back into the target only
// queues more, which the running loop delivers.
void EmulatedTarget::DispatchNotices()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (dispatching_) return;
    dispatching_ = true;
    while (!notices_.empty()) {
        std::function<void()> notice = std::move(notices_.front());
        notices_.pop_front();
        lock.unlock();
        notice();
        lock.lock();
    }
    dispatching_ = false;
}

// --- presence -------------------------------------------------------------

void EmulatedTarget::UpdatePresenceLocked()
{
    if (!present_ && returnPending_ && clock_.NowMs() >= returnAtMs_) ArriveLocked(stateOnReturn_);
}

void EmulatedTarget::LeaveLocked(bool comeBack, uint8_t stateOnReturn)
{
    if (!present_) return;
    present_ = false;
    PostBusEventLocked({BusEvent::Removal, generation_});
    returnPending_ = comeBack;
    returnAtMs_ = clock_.NowMs() + timing_.reenumerateMs;
    stateOnReturn_ = stateOnReturn;
}

// The controller restarts: only the memories survive.
void EmulatedTarget::ArriveLocked(uint8_t state)
{
    present_ = true;
    returnPending_ = false;
    ++generation_;
    arrivedAtMs_ = clock_.NowMs();
    bootState_ = state;
    address_ = 0;
    eraseBusy_ = false;
    lastWasWrite_ = false;
    PostBusEventLocked({BusEvent::Arrival, generation_});
}

void EmulatedTarget::PostBusEventLocked(BusEvent event)
{
    pendingEvents_.push_back(event);
    if (busListener_) notices_.push_back([listener = busListener_, event] { listener(event); });
}

bool EmulatedTarget::Present()
{
    return WithPresence([this] { return present_; });
}

uint32_t EmulatedTarget::Generation()
{
    return WithPresence([this] { return generation_; });
}

uint64_t EmulatedTarget::MsOnBus()
{
    return WithPresence([this]() -> uint64_t {
        if (!present_) return 0;
        if (generation_ == 1) return UINT64_MAX;
        return clock_.NowMs() - arrivedAtMs_;
    });
}

DeviceHandle EmulatedTarget::Open()
{
    return WithPresence([this]() -> DeviceHandle {
        if (!present_) return nullptr;
        if (failingOpens_ > 0) {
            --failingOpens_;
            return nullptr;
        }
        auto session = std::make_unique<Session>(Session{generation_});
        DeviceHandle handle = session.get();
        sessions_.emplace(handle, std::move(session));
        return handle;
    });
}

std::vector<BusEvent> EmulatedTarget::TakeBusEvents()
{
    return WithPresence([this] { return std::exchange(pendingEvents_, {}); });
}

void EmulatedTarget::SetBusListener(std::function<void(const BusEvent&)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    busListener_ = std::move(listener);
}

void EmulatedTarget::Unplug()
{
    WithPresence([this] {
        if (present_) LeaveLocked(false, kBootRomState);
        returnPending_ = false;
    });
}

void EmulatedTarget::Plug()
{
    WithPresence([this] {
        if (present_) return;
        std::fill(sram_.begin(), sram_.end(), 0x00);
        ArriveLocked(kBootRomState);
    });
}

// --- configuration and memories ---------------------------------------------

void EmulatedTarget::SetTiming(const TimingModel& timing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    timing_ = timing;
}

void EmulatedTarget::SetFaults(const FaultPlan& faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

FaultPlan& EmulatedTarget::Faults() { return faults_; }

void EmulatedTarget::SetBootState(uint8_t state)
{
    WithPresence([this, state] { bootState_ = state; });
}

uint8_t EmulatedTarget::BootState()
{
    return WithPresence([this] { return bootState_; });
}

std::vector<uint8_t> EmulatedTarget::Flash()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

std::vector<uint8_t> EmulatedTarget::FlashRange(uint32_t offset, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t begin = std::min<size_t>(offset, flash_.size());
    const size_t end = begin + std::min(length, flash_.size() - begin);
    return {flash_.begin() + static_cast<long>(begin), flash_.begin() + static_cast<long>(end)};
}

std::vector<uint8_t> EmulatedTarget::Sram()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sram_;
}

void EmulatedTarget::LoadFlash(uint32_t offset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (offset >= flashSize_) return;
    const size_t count = std::min<size_t>(bytes.size(), flashSize_ - offset);
    std::copy_n(bytes.begin(), count, flash_.begin() + offset);
}

void EmulatedTarget::SetIdentityText(const std::string& text)
{
    // Stored without a terminator: bytes behind a shorter text keep their contents.
    const size_t length = std::min<size_t>(text.size(), kIdentityTextRoom);
    LoadFlash(kEmuIdBlockOffset + kIdentityTextOffset, std::vector<uint8_t>(text.begin(), text.begin() + length));
}

uint32_t EmulatedTarget::CurrentAddress()
{
    return WithPresence([this] { return address_; });
}

// --- requests -----------------------------------------------------------------

std::string EmulatedTarget::ErrorText(uint32_t systemError)
{
    switch (systemError) {
    case 0: return "The operation completed successfully.";
    case kEmuErrorInvalidHandle: return "The handle is invalid.";
    case kEmuErrorDeviceFailure: return "A device attached to the system is not functioning.";
    case kEmuErrorInvalidParameter: return "The parameter is incorrect.";
    case kEmuErrorNotConnected: return "The device is not connected.";
    default: return "Unknown error " + std::to_string(systemError) + ".";
    }
}

PassThroughResult EmulatedTarget::Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer)
{
    return WithPresence([&] {
        Request request{};
        request.number = ++commandCount_;
        std::memcpy(request.cdb, block.spt.Cdb, sizeof request.cdb);
        request.dataIn = block.spt.DataIn;
        request.length = block.spt.DataTransferLength;
        request.timeoutSeconds = block.spt.TimeOutValue;
        request.data = static_cast<uint8_t*>(dataBuffer);
        const uint64_t nthOfSubCode = ++subCodeCounts_[request.cdb[1]];

        if (faults_.leaveBeforeCommand == request.number) LeaveLocked(!faults_.leaveForever, kBootRomState);
        PassThroughResult result;
        result.systemError = TransportErrorLocked(device, request, nthOfSubCode);
        result.completed = result.systemError == 0;
        if (result.completed) ServeLocked(request, block);
        TraceLocked(request, result.completed);
        return result;
    });
}

// Why the system would not carry this request to the target, or 0.
uint32_t EmulatedTarget::TransportErrorLocked(DeviceHandle device, const Request& request, uint64_t nthOfSubCode) const
{
    const auto session = sessions_.find(device);
    if (session == sessions_.end()) return kEmuErrorInvalidHandle;
    if (!present_ || session->second->generation != generation_) return kEmuErrorNotConnected;
    if (request.data == nullptr && request.length > 0) return kEmuErrorInvalidParameter;
    if (faults_.failCommand == request.number) return kEmuErrorDeviceFailure;
    const bool chosenSubCode = request.cdb[1] == faults_.failSubCode;
    const bool nthOfIt = faults_.failSubCodeNth != 0 && nthOfSubCode == faults_.failSubCodeNth;
    if (chosenSubCode && (faults_.failSubCodeEvery || nthOfIt)) return kEmuErrorDeviceFailure;
    return 0;
}

// --- trace --------------------------------------------------------------------

void EmulatedTarget::TraceLocked(const Request& request, bool completed)
{
    std::string line = FormatTraceLine(request.cdb, request.dataIn != kIbrDataOut, request.length,
                                       request.timeoutSeconds, completed);
    if (traceListener_) notices_.push_back([listener = traceListener_, line] { listener(line); });
    trace_.push_back(std::move(line));
}

std::vector<std::string> EmulatedTarget::Trace()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

void EmulatedTarget::ClearTrace()
{
    std::lock_guard<std::mutex> lock(mutex_);
    trace_.clear();
}

void EmulatedTarget::SetTraceListener(std::function<void(const std::string& line)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    traceListener_ = std::move(listener);
}

uint64_t EmulatedTarget::CommandCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commandCount_;
}
