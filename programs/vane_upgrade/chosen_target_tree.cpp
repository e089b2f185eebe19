#include "programs/vane_upgrade/chosen_target_tree.h"

#include <cctype>

namespace {

// "USB\VID_0416&PID_B190": the part of a USB node's ID that discovery compares.
constexpr const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";
constexpr size_t kTargetUsbIdChars = sizeof kTargetUsbId - 1;

bool IsTargetUsbNode(const std::string& instanceId)
{
    if (instanceId.size() < kTargetUsbIdChars) return false;
    for (size_t i = 0; i < kTargetUsbIdChars; ++i)
        if (std::toupper(static_cast<unsigned char>(instanceId[i])) != kTargetUsbId[i]) return false;
    return true;
}

// The letter of a volume path "\\.\E:".
char LetterOfVolumePath(const std::string& path)
{
    return path.size() >= 2 && path[path.size() - 1] == ':' ? static_cast<char>(std::toupper(static_cast<unsigned char>(path[path.size() - 2]))) : 0;
}

} // namespace

char DriveLetterChoice(const std::string& text)
{
    if (text.empty() || text.size() > 3 || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
    if (text.size() >= 2 && text[1] != ':') return 0;
    if (text.size() == 3 && text[2] != '\\' && text[2] != '/') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

ChosenTargetTree::ChosenTargetTree(IDeviceTree& inner, const std::string& choice, PortOfNode portOf)
    : inner_(inner), portOf_(std::move(portOf)), letter_(DriveLetterChoice(choice))
{
    if (letter_ == 0) port_ = choice;
}

bool ChosenTargetTree::GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId)
{
    if (!inner_.GetDeviceInstanceId(set, device, instanceId)) return false;
    Screen(device.node, instanceId);
    return true;
}

bool ChosenTargetTree::GetNodeInstanceId(DevNode node, std::string& instanceId)
{
    if (!inner_.GetNodeInstanceId(node, instanceId)) return false;
    Screen(node, instanceId);
    return true;
}

void ChosenTargetTree::Screen(DevNode node, std::string& instanceId)
{
    if (!IsTargetUsbNode(instanceId)) return;
    const std::string port = portOf_(node);
    std::lock_guard<std::mutex> lock(mutex_);
    lastTargetPort_ = port;
    portsSeen_.insert(port);
    if (port_.empty() || port == port_) return;
    std::string shown = instanceId;
    shown[kTargetUsbIdChars - 1] = '#'; // no longer the target's product ID
    hidden_[shown] = instanceId;
    instanceId = shown;
}

std::string ChosenTargetTree::Real(const std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = hidden_.find(instanceId);
    return found == hidden_.end() ? instanceId : found->second;
}

bool ChosenTargetTree::OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    const char letter = LetterOfVolumePath(path);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (letter_ != 0 && port_.empty() && letter != letter_) {
            handle = nullptr;
            errorText = "not the chosen drive\n";
            return false;
        }
    }
    if (!inner_.OpenVolume(path, handle, errorText)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    letters_[handle] = letter;
    // The letter found its target: from now on the target is followed by its port.
    // (Only when one target is attached: with several, which one the letter
    // belongs to is not known here, and the choice stays the letter.)
    if (letter_ != 0 && port_.empty() && portsSeen_.size() == 1 && !lastTargetPort_.empty()) port_ = lastTargetPort_;
    return true;
}

void ChosenTargetTree::CloseVolume(DeviceHandle handle)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        letters_.erase(handle);
    }
    inner_.CloseVolume(handle);
}

std::string ChosenTargetTree::NodeOf(DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = letters_.find(handle);
    if (found == letters_.end() || found->second == 0) return "";
    return std::string(1, found->second) + ":";
}

std::string ChosenTargetTree::Port()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!port_.empty()) return port_;
    // Of several targets, which one a volume belongs to is not known here.
    return portsSeen_.size() == 1 ? lastTargetPort_ : std::string();
}
