#include "app/volume_slots.h"

#include <algorithm>
#include <functional>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"

namespace {

constexpr int kOpenFailureNumber = 145;

// The handle as the diagnostic line prints it: its low 32 bits.
unsigned HandleLowBits(DeviceHandle handle)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle) & 0xFFFFFFFFu);
}

} // namespace

std::string VolumePathOf(char letter)
{
    return std::string("\\\\.\\") + letter + ':';
}

void DropVolumeHandles(IDeviceTree& tree, std::span<DeviceHandle> slots, std::atomic<DeviceHandle>& device)
{
    std::vector<DeviceHandle> dropped;
    if (DeviceHandle current = device.exchange(nullptr)) dropped.push_back(current);
    for (DeviceHandle& slot : slots) {
        if (slot != nullptr) dropped.push_back(slot);
        slot = nullptr;
    }
    // The device handle is one of the slots: each handle is closed once.
    std::sort(dropped.begin(), dropped.end(), std::less<DeviceHandle>());
    dropped.erase(std::unique(dropped.begin(), dropped.end()), dropped.end());
    for (DeviceHandle handle : dropped) tree.CloseVolume(handle);
}

void OpenFirstVolume(IDeviceTree& tree, const std::vector<char>& letters, std::span<DeviceHandle> slots,
                     std::span<std::string> paths, std::atomic<DeviceHandle>& device, int32_t& index)
{
    for (size_t i = 0; i < letters.size(); ++i) {
        if (i >= slots.size()) {
            DiagPrintf("No handle slot for drive %c: and %u more letters: not tried\n", letters[i],
                       static_cast<unsigned>(letters.size() - i - 1));
            return;
        }
        std::string pathOfItsOwn;
        std::string& path = i < paths.size() ? paths[i] : pathOfItsOwn;
        path = VolumePathOf(letters[i]);

        DeviceHandle handle = nullptr;
        std::string errorText;
        if (!tree.OpenVolume(path, handle, errorText) || handle == nullptr) {
            WriteSystemErrorLine(kOpenFailureNumber, errorText);
            DiagPrintf("No device found!\n");
            continue;
        }
        slots[i] = handle;
        device = handle;
        index = static_cast<int32_t>(i);
        DiagPrintf("Handle=0x%x\n", HandleLowBits(handle));
        return;
    }
}
