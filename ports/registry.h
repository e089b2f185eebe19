#pragma once
// The registry port: just what the tool writes (its USB identifiers).
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using RegistryKey = void*;

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Opens HKEY_LOCAL_MACHINE\path with full access; null on failure.
    virtual RegistryKey OpenKey(const std::string& path) = 0;
    // Creates HKEY_LOCAL_MACHINE\path (non-volatile, read and write access); null on failure.
    virtual RegistryKey CreateKey(const std::string& path) = 0;
    // Sets a REG_SZ value with exactly length bytes of data.
    virtual bool SetStringValue(RegistryKey key, const std::string& name, const char* data, unsigned length) = 0;
    virtual void CloseKey(RegistryKey key) = 0;
};

// A registry that keeps its values in memory (tests, and platforms without one).
class MemoryRegistry final : public IRegistry {
public:
    RegistryKey OpenKey(const std::string& path) override;
    RegistryKey CreateKey(const std::string& path) override;
    bool SetStringValue(RegistryKey key, const std::string& name, const char* data, unsigned length) override;
    void CloseKey(RegistryKey key) override;

    // Test access: the data of a value ("" when missing), keys open now.
    std::string Value(const std::string& path, const std::string& name);
    int OpenKeyCount();
    bool failOpen = false;   // every open fails (as before the key exists)
    bool failCreate = false; // every create fails

private:
    struct Key {
        std::string path;
        bool open = false;
    };
    std::mutex mutex_;
    std::map<std::string, std::map<std::string, std::string>> keys_; // path -> name -> data
    std::vector<std::unique_ptr<Key>> handles_;
};
