#include "programs/vane_upgrade/file_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/win32/system_libraries_win32.h"

namespace {

constexpr size_t kChunkBytes = 64 * 1024;
constexpr ULONG kSha256Bytes = 32;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// bcrypt's functions, looked up once; the library comes from the system
// folder only (see system_libraries_win32.h).
struct Bcrypt {
    template <typename Function>
    static Function Find(const char* name)
    {
        return SystemLibraryFunction<Function>(SystemLibrary::Cryptography, name);
    }
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = Find<decltype(openAlgorithm)>("BCryptOpenAlgorithmProvider");
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm = Find<decltype(closeAlgorithm)>("BCryptCloseAlgorithmProvider");
    decltype(&BCryptCreateHash) createHash = Find<decltype(createHash)>("BCryptCreateHash");
    decltype(&BCryptDestroyHash) destroyHash = Find<decltype(destroyHash)>("BCryptDestroyHash");
    decltype(&BCryptHashData) hashData = Find<decltype(hashData)>("BCryptHashData");
    decltype(&BCryptFinishHash) finishHash = Find<decltype(finishHash)>("BCryptFinishHash");

    bool Complete() const
    {
        return openAlgorithm != nullptr && closeAlgorithm != nullptr && createHash != nullptr &&
               destroyHash != nullptr && hashData != nullptr && finishHash != nullptr;
    }
    static const Bcrypt& Functions()
    {
        static const Bcrypt functions;
        return functions;
    }
};

// The system's SHA-256 (bcrypt), opened and closed with one digest.
class Sha256 {
public:
    Sha256() : bcrypt_(Bcrypt::Functions())
    {
        if (!bcrypt_.Complete()) return;
        if (bcrypt_.openAlgorithm(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) algorithm_ = nullptr;
        else if (bcrypt_.createHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0) hash_ = nullptr;
    }
    ~Sha256()
    {
        if (hash_ != nullptr) bcrypt_.destroyHash(hash_);
        if (algorithm_ != nullptr) bcrypt_.closeAlgorithm(algorithm_, 0);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Ready() const { return hash_ != nullptr; }
    bool Add(unsigned char* data, size_t length)
    {
        return bcrypt_.hashData(hash_, data, static_cast<ULONG>(length), 0) == 0;
    }
    bool Finish(unsigned char* digest) { return bcrypt_.finishHash(hash_, digest, kSha256Bytes, 0) == 0; }

private:
    const Bcrypt& bcrypt_;
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
