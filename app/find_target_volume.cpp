// Discovery: the target's volume found by its USB identifiers and opened.
#include "app/rodediz_dlg.h"
#include "app/volume_slots.h"
#include "device/device_tree.h"
#include "device/diagnostics.h"
#include "device/volume_discovery.h"

namespace {

const char kTargetVendorId[] = "0416";

} // namespace

bool CRODEdizDlg::FindTargetVolume(const std::string& pid)
{
    IDeviceTree& tree = m_services.deviceTree;
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());

    g_driveLetters.clear();
    DropVolumeHandles(tree, m_hVolume, m_hDevice);
    UpdateData(true);
    m_strHardwareId = std::string("USB\\VID_") + kTargetVendorId + "&PID_" + pid;

    EnumerateRemovableVolumes(tree, m_strHardwareId);
    if (g_driveLetters.empty()) {
        DiagPrintf(" No Device found\n");
        UpdateData(true);
        return false;
    }
    DiagPrintf("Mass Storage Connected !\n");
    UpdateData(true);

    // True from here on even when no volume opens: the monitor then finds a
    // target that does not answer.
    OpenFirstVolume(tree, g_driveLetters, m_hVolume, m_strVolumePath, m_hDevice, m_nVolumeIndex);
    UpdateData(false);
    return true;
}
