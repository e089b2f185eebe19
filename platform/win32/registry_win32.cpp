#include "platform/win32/registry_win32.h"

#include <windows.h>

RegistryKey Win32Registry::OpenKey(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

RegistryKey Win32Registry::CreateKey(const std::string& path)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &key, &disposition) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool Win32Registry::SetStringValue(RegistryKey key, const std::string& name, const char* data, unsigned length)
{
    if (key == nullptr) return false;
    return RegSetValueExA(static_cast<HKEY>(key), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          length) == ERROR_SUCCESS;
}

void Win32Registry::CloseKey(RegistryKey key)
{
    if (key != nullptr) RegCloseKey(static_cast<HKEY>(key));
}
