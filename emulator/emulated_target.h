#pragma once
// A software model of the target's boot ROM and flash loader, behind the same
// pass-through port as a real device. It decodes the request block it is
// handed, acts on its memories and answers as the device does.
//
// What it models (the host relies on exactly this):
//  - SRAM of 64 KiB at 0x00000000, SPI flash at 0x40000000 (default 4 MiB),
//    the identity block at 0x40040000; one current address that reads, writes
//    and block erases advance by what they covered.
//  - NOR flash: an erase sets a 64 KiB block to 0xFF (an unaligned address
//    erases the block that holds it and moves the address to the next block
//    boundary); programming only clears bits (AND).
//  - Erase busy: CMD_IbrGetSTS byte 0 stays non-zero for a configured time or
//    number of polls; a write or erase sent meanwhile is lost (the address
//    still advances, as the loader counts it).
//  - Boot state: plain boot ROM (state kBootRomState) or 6 once the flash
//    loader runs. In the plain state flash erase and write are refused with a
//    SCSI error status (the transport completes). Execute of SRAM code makes
//    the target leave the bus and come back after a delay: in state 6 when the
//    code starts with the flash-loader marker, in the plain state otherwise.
//  - Out-of-range reads, writes and erases complete with a SCSI error status
//    and change nothing (reads return 0xFF). Unknown CDBs too.
//  - Requests from several threads are served one at a time.
//  - Fault injection, a wire trace and a timing model on an injected clock.
//
// Transport failures (completed false): an unknown or null handle (6), a stale
// handle or an absent target (1167), a null buffer for a non-empty transfer
// (87), an injected fault (31). A return to the bus is noticed when the
// target is next asked (any call evaluates the clock); there is no timer.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/scsi_pass_through.h"
#include "ports/clock.h"

constexpr uint32_t kEmuSramSize = 64 * 1024;
constexpr uint32_t kEmuDefaultFlashSize = 4 * 1024 * 1024;
constexpr uint32_t kEmuIdBlockOffset = 0x40000;
constexpr uint8_t kBootRomState = 2;
constexpr uint8_t kFlashLoaderState = 6;
constexpr uint8_t kEmuCompanyId = 0x4A;
constexpr uint8_t kEmuChipId = 0x21;
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
// Sense key of every refusal (fixed-format sense data, key at byte 2, code at 12).
constexpr uint8_t kSenseIllegalRequest = 0x05;
// CMD_IbrGetSTS byte 0 while an erase runs.
constexpr uint8_t kEmuEraseBusyStatus = 0x01;
constexpr uint32_t kEmuEraseBlockSize = 64 * 1024;
// Longest data transfer the emulated bus carries; longer requests are refused.
constexpr uint32_t kEmuMaxTransferLength = 64 * 1024;
// System error codes of the emulated transport (the Windows values).
constexpr uint32_t kEmuErrorInvalidHandle = 6;
constexpr uint32_t kEmuErrorDeviceFailure = 31;
constexpr uint32_t kEmuErrorInvalidParameter = 87;
constexpr uint32_t kEmuErrorNotConnected = 1167;
// The first bytes of the flash loader image: the emulated boot ROM starts the
// flash loader only for code that begins with them.
extern const char kFlashLoaderMarker[16];
// Default identity text of a fresh emulated device.
extern const char kEmuDefaultIdentity[];

struct TimingModel {
    uint32_t commandLatencyUs = 0;   // per command
    uint32_t eraseBlockMs = 0;       // 64 KiB erase; 0 = use erasePolls
    uint32_t erasePolls = 1;         // GetSTS polls that answer busy after an erase (when eraseBlockMs is 0)
    uint32_t pageProgramUs = 0;      // per 256-byte page written to flash
    uint32_t busBytesPerMs = 0;      // 0 = transfers take no time
    uint32_t reenumerateMs = 1500;   // off the bus after Execute
    // A realistic device: 150 ms erase, 0.7 ms page, 35 MB/s, 1 ms per command.
    static TimingModel Realistic();
};

// Faults; command numbers count from 1 over the target's life, as in the trace.
struct FaultPlan {
    uint64_t failCommand = 0;          // the k-th command fails at the transport
    uint8_t failSubCode = 0;           // with failSubCodeNth: the k-th command of this sub-code fails
    uint64_t failSubCodeNth = 0;
    bool failSubCodeEvery = false;     // with failSubCode: every command of this sub-code fails
    uint64_t leaveBeforeCommand = 0;   // the target leaves the bus before the k-th command (it fails)
    bool leaveForever = true;          // ... and does not come back (else after reenumerateMs,
                                       //     restarted in the boot-ROM state)
    uint64_t eraseNeverFinishesAt = 0; // the erase of the k-th command never finishes (0: none)
    bool everyEraseNeverFinishes = false;
    uint64_t flipReadAt = 0;           // one byte of the k-th command's reply is flipped
    uint32_t flipOffset = 0;           //   at this offset (clamped to the reply)
    int finalStatus = -1;              // status after a write sequence (-1: 0)
    // Replies of chosen bytes: for sub-code replySubCode every reply starts with replyBytes.
    uint8_t replySubCode = 0;
    std::vector<uint8_t> replyBytes;
    bool neverReturnAfterExecute = false; // Execute of the loader: leaves and never comes back
    // Back after the loader's Execute, the volume is listed but the first N
    // opens fail, as while the system still sets up the new node.
    unsigned failOpensAfterLoader = 0;
};

struct BusEvent {
    enum Kind { Arrival, Removal } kind;
    uint32_t generation; // enumeration generation the event concerns
};

class EmulatedTarget final : public IScsiPassThrough {
public:
    explicit EmulatedTarget(IClock& clock, uint32_t flashSize = kEmuDefaultFlashSize);

    // --- IScsiPassThrough ---
    PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) override;
    std::string ErrorText(uint32_t systemError) override;
    uint32_t InvalidHandleError() override { return 6; }
    uint32_t InvalidParameterError() override { return kEmuErrorInvalidParameter; }

    // --- bus presence and sessions ---
    // Whether the target is on the bus now (evaluated against the clock).
    bool Present();
    // Increases each time the target comes back on the bus as a new volume.
    uint32_t Generation();
    // How long the current enumeration has been on the bus: 0 when the
    // target is not present, UINT64_MAX for the first one (there from the start).
    uint64_t MsOnBus();
    // Opens a session on the current enumeration; null when not present.
    // A handle of an earlier generation is stale: every command on it fails.
    DeviceHandle Open();
    // Arrival and removal events since the last call (evaluated against the clock).
    std::vector<BusEvent> TakeBusEvents();
    // Called (outside the target's lock) whenever presence changes.
    void SetBusListener(std::function<void(const BusEvent&)> listener);
    // Takes the target off the bus (unplug; cancels a pending return) / puts it
    // back as a new volume (plug): powered up anew in the boot-ROM state with
    // SRAM cleared; the flash keeps its contents.
    void Unplug();
    void Plug();

    // --- configuration ---
    void SetTiming(const TimingModel& timing);
    void SetFaults(const FaultPlan& faults);
    FaultPlan& Faults();              // for tweaking between steps (not thread-safe while running)
    void SetBootState(uint8_t state);
    uint8_t BootState();

    // --- memories (copies, taken under the lock) ---
    uint32_t FlashSize() const { return flashSize_; }
    std::vector<uint8_t> Flash();
    // length bytes from offset, clamped to the flash.
    std::vector<uint8_t> FlashRange(uint32_t offset, size_t length);
    std::vector<uint8_t> Sram();
    void LoadFlash(uint32_t offset, const std::vector<uint8_t>& bytes); // raw, bypasses NOR rules
    void SetIdentityText(const std::string& text);                     // at identity block + 16
    uint32_t CurrentAddress();

    // --- wire trace ---
    // One line per command: ten CDB bytes in lower-case hex, "in"/"out", the
    // transfer length, the timeout in seconds, "ok"/"fail".
    std::vector<std::string> Trace();
    void ClearTrace();
    // Called outside the target's lock, in command order.
    void SetTraceListener(std::function<void(const std::string& line)> listener);
    uint64_t CommandCount();

private:
    struct Session {
        uint32_t generation;
    };
    // One command as the target sees it, copied out of the request block.
    struct Request {
        uint64_t number;
        uint8_t cdb[10];
        uint8_t dataIn;
        uint32_t length;
        uint32_t timeoutSeconds;
        uint8_t* data;
    };
    // What the target does once its reply is on the wire.
    enum class Aftermath { Stay, LeaveForLoader, LeaveForBootRom };
    struct Outcome {
        uint8_t status = kScsiGood;
        uint8_t senseCode = 0; // additional sense code of a check condition
        std::vector<uint8_t> reply;
        uint32_t programmedPages = 0;
        Aftermath aftermath = Aftermath::Stay;
    };

    // Locks, brings pending returns up to date, runs action, then delivers
    // the listener notices outside the lock.
    template <typename Action> auto WithPresence(Action action) -> decltype(action());
    void DispatchNotices();

    // Presence (all *Locked members run with mutex_ held).
    void UpdatePresenceLocked();
    void LeaveLocked(bool comeBack, uint8_t stateOnReturn);
    void ArriveLocked(uint8_t state);
    void PostBusEventLocked(BusEvent event);
    uint32_t TransportErrorLocked(DeviceHandle device, const Request& request, uint64_t nthOfSubCode) const;

    // Serving one command that reached the target.
    void ServeLocked(const Request& request, IbrRequestBlock& block);
    Outcome RunLocked(const Request& request);
    static Outcome Refusal(uint8_t senseCode);
    Outcome PingReply() const;
    Outcome ChipIdReply() const;
    Outcome ReadLocked(const Request& request);
    Outcome SetAddressLocked(const Request& request);
    Outcome BlockEraseLocked(const Request& request);
    Outcome WriteLocked(const Request& request);
    Outcome ExecuteLocked() const;
    Outcome StatusLocked();
    Outcome StateReply() const;
    void ApplyReplyFaults(const Request& request, std::vector<uint8_t>& reply) const;
    void SpendTimeLocked(uint32_t bytesMoved, uint32_t programmedPages);
    void TraceLocked(const Request& request, bool completed);

    // Memories and the erase-busy state.
    bool InFlash(uint32_t address, uint32_t length) const;
    bool InSram(uint32_t address, uint32_t length) const;
    uint8_t* MemoryAt(uint32_t address, uint32_t length);
    bool SramHoldsFlashLoader() const;
    bool EraseBusyLocked();
    void StartEraseBusyLocked(uint64_t commandNumber);

    IClock& clock_;
    const uint32_t flashSize_;
    std::mutex mutex_;
    std::vector<uint8_t> sram_;
    std::vector<uint8_t> flash_;
    uint32_t address_ = 0;
    uint8_t bootState_ = kBootRomState;
    TimingModel timing_;
    FaultPlan faults_;
    uint64_t commandCount_ = 0;
    std::vector<uint64_t> subCodeCounts_ = std::vector<uint64_t>(256, 0);
    uint64_t pendingNs_ = 0; // modelled time not yet slept (below one millisecond)
    // Erase busy state.
    bool eraseBusy_ = false;
    bool eraseForever_ = false;
    bool eraseTimed_ = false;
    uint64_t eraseDoneAtMs_ = 0;
    uint32_t erasePollsLeft_ = 0;
    bool lastWasWrite_ = false; // the status byte reports a write sequence
    // Presence.
    bool present_ = true;
    bool returnPending_ = false;
    unsigned failingOpens_ = 0; // opens still to fail after the loader came back
    uint64_t returnAtMs_ = 0;
    uint8_t stateOnReturn_ = kBootRomState;
    uint32_t generation_ = 1;
    uint64_t arrivedAtMs_ = 0;         // clock time of the current enumeration's arrival
    std::vector<BusEvent> pendingEvents_;
    std::function<void(const BusEvent&)> busListener_;
    std::unordered_map<DeviceHandle, std::unique_ptr<Session>> sessions_;
    // Listener calls queued under the lock, delivered in order outside it.
    std::deque<std::function<void()>> notices_;
    bool dispatching_ = false;
    // Trace.
    std::vector<std::string> trace_;
    std::function<void(const std::string&)> traceListener_;
};

// Formats one trace line (also used by the Linux --trace option).
std::string FormatTraceLine(const uint8_t cdb[10], bool dataIn, uint32_t length, uint32_t timeoutSeconds, bool ok);
