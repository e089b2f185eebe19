#pragma once
// GUID_DEVINTERFACE_VOLUME, for the device tree and the volume notices (the
// text form the portable code compares with is in device/interface_classes.h).
#include <windows.h>

inline constexpr GUID kVolumeInterfaceGuid{0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
