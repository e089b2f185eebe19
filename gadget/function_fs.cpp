#include "gadget/function_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kBulkInAddress = 0x81;
constexpr uint8_t kBulkOutAddress = 0x02;
constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr const char* kInterfaceName = "Vane TX mass storage";

void PutLe16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value)
{
    PutLe16(out, static_cast<uint16_t>(value));
    PutLe16(out, static_cast<uint16_t>(value >> 16));
}

void SetLe32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutInterfaceAndEndpoints(std::vector<uint8_t>& out, uint16_t packetSize)
{
    // Interface: number 0 (FunctionFS renumbers), no alternate setting, two endpoints, string 1.
    out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, kMassStorageClass,
                           kScsiTransparentSubclass, kBulkOnlyProtocol, 1});
    for (uint8_t address : {kBulkInAddress, kBulkOutAddress}) {
        out.insert(out.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
        PutLe16(out, packetSize);
        out.push_back(0); // bInterval
    }
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const ssize_t written = write(fd, text.data(), text.size());
    const int writeError = errno;
    close(fd);
    if (written != static_cast<ssize_t>(text.size())) {
        error = path + ": " + std::strerror(writeError);
        return false;
    }
    return true;
}

bool MakeDirectory(const std::string& path, std::string& error)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    error = path + ": " + std::strerror(errno);
    return false;
}

// Whether something is mounted at a path (its device differs from its parent's).
bool IsMountPoint(const std::string& path)
{
    struct stat self {}, parent {};
    if (stat(path.c_str(), &self) != 0 || stat((path + "/..").c_str(), &parent) != 0) return false;
    return self.st_dev != parent.st_dev;
}

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

} // namespace

std::vector<uint8_t> BuildFunctionDescriptors()
{
    std::vector<uint8_t> out;
    PutLe32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    PutLe32(out, 0); // total length, set below
    PutLe32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    PutLe32(out, 3); // full-speed descriptors
    PutLe32(out, 3); // high-speed descriptors
    PutInterfaceAndEndpoints(out, kFullSpeedBulkPacket);
    PutInterfaceAndEndpoints(out, kHighSpeedBulkPacket);
    SetLe32(out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<uint8_t> BuildFunctionStrings()
{
    std::vector<uint8_t> out;
    PutLe32(out, FUNCTIONFS_STRINGS_MAGIC);
    PutLe32(out, 0); // total length, set below
    PutLe32(out, 1); // strings per language
    PutLe32(out, 1); // languages
    PutLe16(out, kLanguageUsEnglish);
    for (const char* c = kInterfaceName; *c != 0; ++c) out.push_back(static_cast<uint8_t>(*c));
    out.push_back(0);
    SetLe32(out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

bool SetUpConfigfsGadget(const std::string& configfs, const std::string& name, const GadgetIdentity& identity,
                         const std::string& mountPoint, std::string& error)
{
    const std::string gadget = configfs + "/usb_gadget/" + name;
    const std::string function = "ffs." + name;
    const std::string config = gadget + "/configs/c.1";
    // Created in the order configfs wants; a later run finds them in place.
    if (!MakeDirectory(gadget, error)) return false;
    const std::pair<std::string, std::string> attributes[] = {
        {"idVendor", Hex16(kGadgetVendorId)}, {"idProduct", Hex16(kGadgetProductId)},
        {"bcdDevice", "0x0100"},              {"bcdUSB", "0x0200"},
        {"bDeviceClass", "0"},                {"bDeviceSubClass", "0"},
        {"bDeviceProtocol", "0"},
    };
    for (const auto& [file, value] : attributes)
        if (!WriteTextFile(gadget + "/" + file, value, error)) return false;
    if (!MakeDirectory(gadget + "/strings/0x409", error)) return false;
    if (!WriteTextFile(gadget + "/strings/0x409/manufacturer", identity.manufacturer, error) ||
        !WriteTextFile(gadget + "/strings/0x409/product", identity.product, error) ||
        !WriteTextFile(gadget + "/strings/0x409/serialnumber", identity.serial, error))
        return false;
    if (!MakeDirectory(config, error) || !MakeDirectory(config + "/strings/0x409", error)) return false;
    if (!WriteTextFile(config + "/strings/0x409/configuration", "Mass storage", error) ||
        !WriteTextFile(config + "/MaxPower", "100", error))
        return false;
    if (!MakeDirectory(gadget + "/functions/" + function, error)) return false;
    if (symlink((gadget + "/functions/" + function).c_str(), (config + "/" + function).c_str()) != 0 && errno != EEXIST) {
        error = config + "/" + function + ": " + std::strerror(errno);
        return false;
    }
    if (!MakeDirectory(mountPoint, error)) return false;
    if (!IsMountPoint(mountPoint) && mount(name.c_str(), mountPoint.c_str(), "functionfs", 0, nullptr) != 0) {
        error = "mount functionfs " + name + " at " + mountPoint + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string FirstDeviceController()
{
    std::string first;
    DIR* dir = opendir("/sys/class/udc");
    if (dir == nullptr) return first;
    while (dirent* entry = readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        if (first.empty() || entryName < first) first = entryName;
    }
    closedir(dir);
    return first;
}

bool BindGadget(const std::string& udcFile, const std::string& controller, std::string& error)
{
    return WriteTextFile(udcFile, controller + "\n", error);
}

bool UnbindGadget(const std::string& udcFile, std::string& error)
{
    // An unbound gadget refuses the unbind (ENODEV): that is the state wanted.
    if (WriteTextFile(udcFile, "\n", error)) return true;
    return error.find(std::strerror(ENODEV)) != std::string::npos;
}
