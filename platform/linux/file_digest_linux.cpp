#include "ports/file_digest.h"

#include <nettle/sha2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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
    sha256_ctx context;
    sha256_init(&context);
    static thread_local unsigned char chunk[kChunkBytes];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) sha256_update(&context, n, chunk);
    if (std::ferror(file.get())) {
        error = path + ": cannot be read";
        return false;
    }
    unsigned char digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    hex.clear();
    char pair[3];
    for (unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return true;
}
