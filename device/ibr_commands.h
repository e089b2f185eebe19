#pragma once
// The vendor command set of the target's boot ROM and flash loader.
//
// Twelve operations, each building one request block and handing it to the
// pass-through port. Each returns only whether the system completed the
// request; retries, waits and messages belong to the callers.
#include <cstdint>

#include "device/scsi_pass_through.h"

constexpr uint8_t kIbrOpcode = 0x06;

// Sub-codes (CDB byte 1).
enum IbrSubCode : uint8_t {
    kIbrSubPing = 0x51,
    kIbrSubGetChipId = 0x85,
    kIbrSubRead = 0x71,
    kIbrSubSetAddress = 0x55,
    kIbrSubBlockErase = 0x8B,
    kIbrSubWrite = 0x72,
    kIbrSubExecute = 0x60,
    kIbrSubGetStatus = 0x89,
    kIbrSubGetState = 0x91,
};

constexpr uint32_t kIbrFlashBase = 0x40000000;
constexpr uint8_t kIbrStateFlash = 6;
constexpr uint32_t kIbrShortReplyLength = 8;
constexpr uint32_t kIbrLongReplyLength = 3583; // 0xDFF, not 3584
constexpr uint32_t kIbrMaxWriteLength = 65535; // the CDB carries 16 bits of length
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;

// One command as the table defines it: the CDB, direction, length and timeout.
struct IbrCommand {
    uint8_t cdb[10] = {};
    uint8_t dataIn = kIbrDataIn;
    uint32_t transferLength = 0;
    uint32_t timeoutSeconds = 0;
};

// Pure builders of the command table (tested on their own).
IbrCommand MakePing();
IbrCommand MakeGetChipId();
IbrCommand MakeRead(uint32_t length);
IbrCommand MakeSetAddress(uint32_t address);     // any address, long reply, 5 s
IbrCommand MakeSetAddressFlashShort();            // flash base, 8-byte reply, 2 s
IbrCommand MakeSetAddressFlashLong();             // flash base, 3583-byte reply, 2 s
IbrCommand MakeSetAddressSram();                  // address 0, long reply, 2 s
IbrCommand MakeBlockErase();
IbrCommand MakeWrite(uint32_t length);
IbrCommand MakeExecute();
IbrCommand MakeGetStatus();
IbrCommand MakeGetState();

// Fills the whole block with zeros, then sets every field for the command.
void BuildRequestBlock(IbrRequestBlock& block, const IbrCommand& command, void* buffer);

// The command link: the twelve operations on one pass-through port.
// Buffers: at least 8 bytes for short replies, 3583 for the long set-address
// form and Execute, L for Read and Write.
class IbrLink {
public:
    explicit IbrLink(IScsiPassThrough& port) : port_(port) {}

    bool CMD_IbrPing(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrGetChipID(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrRead(DeviceHandle device, uint8_t* buffer, uint32_t length);
    bool CMD_IbrSetAddress(DeviceHandle device, uint8_t* buffer, uint32_t address);
    bool CMD_IbrSetAddressFlashShort(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrSetAddressFlashLong(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrSetAddressSram(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrBlockErase(DeviceHandle device, uint8_t* buffer);
    // Refused with false (and its diagnostic line) above 65535 bytes.
    bool CMD_IbrWrite(DeviceHandle device, const uint8_t* buffer, uint32_t length);
    bool CMD_IbrExecute(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrGetSTS(DeviceHandle device, uint8_t* buffer);
    bool CMD_IbrGetState(DeviceHandle device, uint8_t* buffer);

    IScsiPassThrough& Port() { return port_; }

private:
    PassThroughResult Send(DeviceHandle device, const IbrCommand& command, void* buffer);
    void WriteResultLine(int number, uint32_t systemError);

    IScsiPassThrough& port_;
};

// The system-error diagnostic line "\n%s %d Result: %s\n" shared with discovery.
void WriteSystemErrorLine(int number, const std::string& messageText);
