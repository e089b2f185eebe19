#include "emulator/demo_images.h"

#include <algorithm>
#include <cstring>

#include "emulator/emulated_target.h"

namespace {

constexpr uint32_t kFirmwareSeed = 0x56414E45;
constexpr uint32_t kLoaderSeed = 0x4C4F4144;
constexpr char kLoaderBanner[] = "demo flash loader of the emulated Vane target";

// xorshift32: small, fast and the same everywhere.
class ByteStream {
public:
    explicit ByteStream(uint32_t seed) : state_(seed) {}
    uint8_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<uint8_t>(state_ >> 24);
    }

private:
    uint32_t state_;
};

std::vector<uint8_t> PseudoRandomBytes(size_t size, uint32_t seed)
{
    ByteStream stream(seed);
    std::vector<uint8_t> bytes(size);
    std::generate(bytes.begin(), bytes.end(), [&stream] { return stream.Next(); });
    return bytes;
}

} // namespace

std::vector<uint8_t> MakeDemoFirmware(size_t size) { return PseudoRandomBytes(size, kFirmwareSeed); }

std::vector<uint8_t> MakeDemoFlashLoader()
{
    std::vector<uint8_t> loader = PseudoRandomBytes(kDemoFlashLoaderSize, kLoaderSeed);
    std::memcpy(loader.data(), kFlashLoaderMarker, sizeof kFlashLoaderMarker);
    std::memcpy(loader.data() + sizeof kFlashLoaderMarker, kLoaderBanner, sizeof kLoaderBanner);
    return loader;
}
