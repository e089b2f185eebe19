#pragma once
// The device behind the gadget's bulk endpoints: one command block wrapper in,
// the device's result and data out. The vendor opcode goes unchanged to the
// emulated target through its pass-through port, as a request block built
// from the wrapper; every other opcode is the disk's. Pure of USB I/O, so the
// whole command path is tested without a kernel.
#include <cstdint>
#include <memory>
#include <vector>

#include "device/ibr_request_block.h"
#include "emulator/emulated_target.h"
#include "gadget/bulk_only.h"
#include "gadget/scsi_disk.h"

constexpr uint8_t kVendorOpcode = 0x06;
constexpr uint8_t kGadgetMaxLun = 0;
// Largest data phase the device holds in memory; the host's disk and generic
// drivers stay far below it.
constexpr uint32_t kGadgetMaxDataLength = 4 * 1024 * 1024;

struct CommandResponse {
    DeviceResult result;
    std::vector<uint8_t> data; // data-in, result.length bytes
};

class TargetDevice {
public:
    TargetDevice(EmulatedTarget& target, ScsiDisk& disk);

    // Opens a session on the target's current enumeration: at start and after
    // every return to the bus.
    void Connect();
    // Runs one command; out holds the host's data-out bytes.
    CommandResponse Run(const CommandBlockWrapper& cbw, const std::vector<uint8_t>& out);

    // The emulated target's last transport error (0: none), for the log.
    uint32_t LastTransportError() const { return lastTransportError_; }

private:
    CommandResponse RunVendor(const CommandBlockWrapper& cbw, const std::vector<uint8_t>& out);

    EmulatedTarget& target_;
    ScsiDisk& disk_;
    DeviceHandle session_ = nullptr;
    std::unique_ptr<IbrRequestBlock> block_; // 64 KiB: kept, not on the stack
    uint32_t lastTransportError_ = 0;
};

// Fills a request block from a command block wrapper: the CDB as sent, the
// direction bit, the length; no timeout, as none crosses the bus.
void BuildRequestBlockFromCbw(IbrRequestBlock& block, const CommandBlockWrapper& cbw, void* buffer);
