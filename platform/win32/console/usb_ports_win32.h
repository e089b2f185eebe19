#pragma once
// Where the targets sit on Windows: the USB port of a device node, by the
// configuration manager's location properties.
#include <string>
#include <vector>

#include "device/device_tree.h"

// The node's first location path ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"),
// else its location text ("Port_#0003.Hub_#0001"); "" when the system tells neither.
std::string UsbPortOfNode(DevNode node);
// The ports of the attached targets' USB devices, in the order the system lists them.
std::vector<std::string> TargetUsbPorts();
