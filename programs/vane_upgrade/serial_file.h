#pragma once
// The series-number file of a production line: one line, the next number in
// upper-case hexadecimal. Before number N is burned the file is made to hold
// N+1, atomically (temporary file, fsync, rename, fsync of the folder), so a
// number is never burned twice, whenever the program is stopped.
#include <cstdint>
#include <optional>
#include <string>

// Once FFFFFFFF is reserved the file holds the counter past the range, as a
// records store does, and hands out nothing more; it never wraps to 0.
constexpr char kSerialFileUsedUp[] = "100000000";
constexpr char kSerialRangeUsedUpText[] = "every series number up to FFFFFFFF was handed out";

// The number the file holds (1 to 8 hexadecimal digits, either case, one line).
// A used-up file is refused too, with usedUp set.
bool ReadSerialFile(const std::string& path, uint32_t& number, std::string& error, bool* usedUp = nullptr);
// The number of the file's text: 1 to 8 hexadecimal digits, either case,
// trailing line ends and blanks allowed.
std::optional<uint32_t> ParseSerialText(const std::string& text);
// The same, or false with the line that tells what the file of path holds wrong.
bool ParseSerialInto(const std::string& path, const std::string& text, uint32_t& number, std::string& error,
                     bool* usedUp = nullptr);
// "1A2C\n".
std::string SerialFileText(uint32_t number);
// What the file holds once number was reserved: number + 1, or the used-up mark after FFFFFFFF.
std::string SerialFileTextAfter(uint32_t number);
// Replaces the file's contents with text without a moment where the file is
// missing or half written.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);
// Under an exclusive lock of the file (several stations may share it): reads
// the number N it holds, writes what follows N (see SerialFileTextAfter) and
// returns N, the number that may now be burned.
bool ReserveSerialNumber(const std::string& path, uint32_t& reserved, std::string& error);
