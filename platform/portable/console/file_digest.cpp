#include "ports/file_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ports/sha256.h"

namespace {

constexpr size_t kChunkBytes = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool FileSha256(const std::string& path, std::string& hex, std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Sha256Digest context;
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
    static const char kDigits[] = "0123456789abcdef";
    hex.clear();
    for (unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return true;
}
