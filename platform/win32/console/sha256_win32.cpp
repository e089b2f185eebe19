#include "ports/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "platform/win32/system_libraries_win32.h"

namespace {

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

} // namespace

// The system's SHA-256 (bcrypt), opened and closed with one digest.
struct Sha256Digest::State {
    const Bcrypt& bcrypt = Bcrypt::Functions();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>())
{
    State& s = *state_;
    if (!s.bcrypt.Complete()) return;
    if (s.bcrypt.openAlgorithm(&s.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) s.algorithm = nullptr;
    else if (s.bcrypt.createHash(s.algorithm, &s.hash, nullptr, 0, nullptr, 0, 0) != 0) s.hash = nullptr;
}

Sha256Digest::~Sha256Digest()
{
    if (state_->hash != nullptr) state_->bcrypt.destroyHash(state_->hash);
    if (state_->algorithm != nullptr) state_->bcrypt.closeAlgorithm(state_->algorithm, 0);
}

bool Sha256Digest::Ready() const { return state_->hash != nullptr; }

bool Sha256Digest::Add(const unsigned char* data, size_t length)
{
    // bcrypt takes the bytes as not const, but only reads them.
    return state_->bcrypt.hashData(state_->hash, const_cast<unsigned char*>(data), static_cast<ULONG>(length), 0) == 0;
}

bool Sha256Digest::Finish(unsigned char (&digest)[kSha256Bytes])
{
    return state_->bcrypt.finishHash(state_->hash, digest, kSha256Bytes, 0) == 0;
}
