#pragma once
// Firmware image names: model tag (characters 0-6) and version number
// (characters 9-11 taken on their raw codes), and the tool's model constants.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

constexpr char kModelTag[] = "Vane_TX";
constexpr size_t kModelTagLength = 7;
constexpr char kDefaultCodeImagePath[] = ".\\Data\\Vane_TX_V1030.fir";
constexpr char kFlashLoaderPath[] = ".\\Data\\wtf.fir";
constexpr char kModelLabel[] = "Mirra Vane Transmitter ";
constexpr char kIncompatibleQuestion[] =
    "This device is not compatible using with this firmware!\n(Please check your device and make sure this is a "
    "<Transmitter>)\nContinue to upgrade?";
// Shortest name that has the three version characters.
constexpr size_t kMinVersionedNameLength = 12;

// The part of a path after the last separator ("\\" or "/"); the whole path when none.
std::string FileNameOf(const std::string& path);

// (c9 - '0') * 100 + (c10 - '0') * 10 + (c11 - '0') on the raw codes, modulo 2^32;
// nothing when the name is too short to have them.
std::optional<uint32_t> VersionNumberOf(const std::string& name);

// Whether the first seven characters are the tool's model tag.
bool HasModelTag(const std::string& name);

// "%u Bytes" below 10240, "%-.2f KBytes" below 1048576, "%-.2f MBytes" from there.
std::string SizeText(uint64_t length);

// "%04d-%02d-%02d %02d:%02d:%02d " from a broken-down local time; null: the
// conversion failed (date 0, time -1).
std::string DateText(const std::tm* local);
