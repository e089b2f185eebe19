#pragma once
// Demo images for the emulated target, generated here: a firmware image and a
// flash loader. Both are deterministic, so every machine and every run gets
// the same bytes and traces can be compared.
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kDemoFirmwareSize = 200000;
constexpr size_t kDemoFlashLoaderSize = 6000; // two SRAM pieces of 4096 bytes

// Pseudo-random bytes (never all 0xFF, so a verify after a missing write fails).
std::vector<uint8_t> MakeDemoFirmware(size_t size = kDemoFirmwareSize);
// Starts with kFlashLoaderMarker, so the emulated boot ROM starts it as the loader.
std::vector<uint8_t> MakeDemoFlashLoader();
