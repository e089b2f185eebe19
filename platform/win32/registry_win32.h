#pragma once
// The registry of Windows, under HKEY_LOCAL_MACHINE.
#include "ports/registry.h"

class Win32Registry final : public IRegistry {
public:
    RegistryKey OpenKey(const std::string& path) override;
    RegistryKey CreateKey(const std::string& path) override;
    bool SetStringValue(RegistryKey key, const std::string& name, const char* data, unsigned length) override;
    void CloseKey(RegistryKey key) override;
};
