#include "ports/sha256.h"

#include <nettle/sha2.h>

struct Sha256Digest::State {
    sha256_ctx context;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }

Sha256Digest::~Sha256Digest() = default;

bool Sha256Digest::Ready() const { return true; }

bool Sha256Digest::Add(const unsigned char* data, size_t length)
{
    sha256_update(&state_->context, length, data);
    return true;
}

bool Sha256Digest::Finish(unsigned char (&digest)[kSha256Bytes])
{
    static_assert(kSha256Bytes == SHA256_DIGEST_SIZE);
    sha256_digest(&state_->context, kSha256Bytes, digest);
    return true;
}
