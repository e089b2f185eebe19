#pragma once
// The device-interface classes that Windows names in the instance paths of a
// volume's storage stack, as every device tree writes them.

// The disk interface class, lower case as in interface paths, and upper case
// as in a volume's instance path.
inline constexpr char kDiskInterfaceClass[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr char kDiskInterfaceClassUpper[] = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";
// The volume interface class.
inline constexpr char kVolumeInterfaceClass[] = "{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
