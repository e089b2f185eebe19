#pragma once
// One SHA-256 digest from the system's own cryptography: a digest is fed and
// finished once. Ready() is false when the system offers none.
#include <cstddef>
#include <memory>

constexpr size_t kSha256Bytes = 32;

class Sha256Digest {
public:
    Sha256Digest();
    ~Sha256Digest();
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    bool Ready() const;
    bool Add(const unsigned char* data, size_t length);
    bool Finish(unsigned char (&digest)[kSha256Bytes]);

private:
    struct State;
    std::unique_ptr<State> state_;
};
