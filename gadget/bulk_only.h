#pragma once
// Bulk-Only Transport framing of the USB gadget: the command block wrapper the
// host sends, the status wrapper the device returns, and how the host's
// expectation of a data phase is reconciled with what the device has to move
// (the thirteen host/device cases). Pure: no endpoint I/O here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

constexpr uint32_t kCbwSignature = 0x43425355; // "USBC", little-endian on the wire
constexpr uint32_t kCswSignature = 0x53425355; // "USBS"
constexpr size_t kCbwLength = 31;
constexpr size_t kCswLength = 13;
constexpr uint8_t kCbwFlagDataIn = 0x80;

// Class requests on the control endpoint.
constexpr uint8_t kRequestTypeClassInterfaceIn = 0xA1;
constexpr uint8_t kRequestTypeClassInterfaceOut = 0x21;
constexpr uint8_t kRequestGetMaxLun = 0xFE;
constexpr uint8_t kRequestBulkOnlyReset = 0xFF;

enum class DataDirection { None, In, Out }; // In: device to host

struct CommandBlockWrapper {
    uint32_t tag = 0;
    uint32_t dataLength = 0;
    DataDirection direction = DataDirection::None; // None when dataLength is 0
    bool flagIn = false;                           // the direction bit as sent, even for no data
    uint8_t lun = 0;
    uint8_t cdbLength = 0;
    uint8_t cdb[16] = {};
};

enum class CbwProblem { None, NotValid, NotMeaningful };

// A CBW is valid when it is 31 bytes with the signature, and meaningful when
// its reserved bits are clear, the LUN exists and the CDB length is 1 to 16.
// Either failure makes the device stall both bulk endpoints until a reset.
CbwProblem CheckCbw(const uint8_t* bytes, size_t length, uint8_t maxLun);
std::optional<CommandBlockWrapper> ParseCbw(const uint8_t* bytes, size_t length, uint8_t maxLun);
std::array<uint8_t, kCbwLength> BuildCbw(const CommandBlockWrapper& cbw); // for tests and tools

enum class CswStatus : uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };
std::array<uint8_t, kCswLength> BuildCsw(uint32_t tag, uint32_t residue, CswStatus status);

// What the device made of one command: its status and the data phase it wants.
struct DeviceResult {
    bool commandFailed = false;                     // CHECK CONDITION
    bool transportFailed = false;                   // the device could not carry the command out at all
    DataDirection direction = DataDirection::None;  // of the data the device wants to move
    uint32_t length = 0;                            // Di (bytes to send) or Do (bytes wanted)
};

// How the gadget ends the command on the bus.
struct PhaseResolution {
    uint32_t sendBytes = 0;   // Hi: bytes of the device's data to send
    bool stallIn = false;     // Hi: halt bulk-in after sending (the host clears it, then reads the CSW)
    uint32_t residue = 0;     // dCSWDataResidue
    CswStatus status = CswStatus::Passed;
};

// Reconciles the host's expectation (direction and dCBWDataTransferLength)
// with the device's result. Data-out from the host is always accepted whole
// before the command runs, so the host never waits on a halted bulk-out.
PhaseResolution ResolvePhases(DataDirection hostDirection, uint32_t hostLength, const DeviceResult& device);
