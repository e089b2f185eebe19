#include "ports/registry.h"

RegistryKey MemoryRegistry::OpenKey(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failOpen || keys_.find(path) == keys_.end()) return nullptr;
    handles_.push_back(std::make_unique<Key>(Key{path, true}));
    return handles_.back().get();
}

RegistryKey MemoryRegistry::CreateKey(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failCreate) return nullptr;
    keys_[path];
    handles_.push_back(std::make_unique<Key>(Key{path, true}));
    return handles_.back().get();
}

bool MemoryRegistry::SetStringValue(RegistryKey key, const std::string& name, const char* data, unsigned length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto* k = static_cast<Key*>(key);
    if (k == nullptr || !k->open) return false;
    keys_[k->path][name] = std::string(data, length);
    return true;
}

void MemoryRegistry::CloseKey(RegistryKey key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto* k = static_cast<Key*>(key)) k->open = false;
}

std::string MemoryRegistry::Value(const std::string& path, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto key = keys_.find(path);
    if (key == keys_.end()) return "";
    auto value = key->second.find(name);
    return value == key->second.end() ? "" : value->second;
}

int MemoryRegistry::OpenKeyCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& h : handles_) n += h->open ? 1 : 0;
    return n;
}
