#pragma once
// The gadget's place in the kernel: a configfs gadget with the target's USB
// identity and one FunctionFS function, the function's descriptors and
// strings, and the bind and unbind of the gadget to a device controller.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kGadgetVendorId = 0x0416;
constexpr uint16_t kGadgetProductId = 0xB190;
constexpr uint8_t kMassStorageClass = 0x08;
constexpr uint8_t kScsiTransparentSubclass = 0x06;
constexpr uint8_t kBulkOnlyProtocol = 0x50;
constexpr uint16_t kFullSpeedBulkPacket = 64;
constexpr uint16_t kHighSpeedBulkPacket = 512;
// Endpoint files in descriptor order: bulk-in first, then bulk-out.
constexpr const char* kBulkInFile = "ep1";
constexpr const char* kBulkOutFile = "ep2";

// The descriptors FunctionFS takes (format 2): one interface of the
// mass-storage class, Bulk-Only, with a bulk-in and a bulk-out endpoint, at
// full and high speed.
std::vector<uint8_t> BuildFunctionDescriptors();
// The function's strings (US English): the interface name.
std::vector<uint8_t> BuildFunctionStrings();

struct GadgetIdentity {
    std::string manufacturer = "Vane";
    std::string product = "Vane TX";
    std::string serial = "VANE0001";
};

// Creates (or finds, on a later run) the configfs gadget <configfs>/usb_gadget/<name>
// with the function ffs.<name>, and mounts the function's FunctionFS at
// mountPoint. Returns false with a message.
bool SetUpConfigfsGadget(const std::string& configfs, const std::string& name, const GadgetIdentity& identity,
                         const std::string& mountPoint, std::string& error);

// The first device controller the system has ("" when there is none).
std::string FirstDeviceController();

// Binds the gadget to a controller (the host sees an arrival) or unbinds it
// (a removal), through the gadget's UDC attribute.
bool BindGadget(const std::string& udcFile, const std::string& controller, std::string& error);
bool UnbindGadget(const std::string& udcFile, std::string& error);
