// Writes the demo images of the emulated target into a folder:
//   make_demo_images <dir>   ->   <dir>/Vane_TX_V1030.fir, <dir>/wtf.fir
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "emulator/demo_images.h"

namespace {

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make_demo_images: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_images <dir>\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "make_demo_images: cannot create %s: %s\n", dir.string().c_str(), error.message().c_str());
        return 1;
    }
    const bool written = WriteFile(dir / "Vane_TX_V1030.fir", MakeDemoFirmware()) &&
                         WriteFile(dir / "wtf.fir", MakeDemoFlashLoader());
    return written ? 0 : 1;
}
