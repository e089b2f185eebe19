#include "ports/file_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kChunkBytes = 64 * 1024;
constexpr ULONG kSha256Bytes = 32;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The system's SHA-256 (bcrypt), opened and closed with one digest.
class Sha256 {
public:
    Sha256()
    {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) algorithm_ = nullptr;
        else if (BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0) hash_ = nullptr;
    }
    ~Sha256()
    {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Ready() const { return hash_ != nullptr; }
    bool Add(unsigned char* data, size_t length) { return BCryptHashData(hash_, data, static_cast<ULONG>(length), 0) == 0; }
    bool Finish(unsigned char* digest) { return BCryptFinishHash(hash_, digest, kSha256Bytes, 0) == 0; }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

} // namespace

bool FileSha256(const std::string& path, std::string& hex, std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Sha256 context;
    if (!context.Ready()) {
        error = path + ": the system offers no SHA-256";
        return false;
    }
    static thread_local unsigned char chunk[kChunkBytes];
    size_t n;
    bool hashed = true;
    while (hashed && (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) hashed = context.Add(chunk, n);
    unsigned char digest[kSha256Bytes];
    if (std::ferror(file.get()) || !hashed || !context.Finish(digest)) {
        error = path + ": cannot be read";
        return false;
    }
    hex.clear();
    char pair[3];
    for (unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return true;
}
