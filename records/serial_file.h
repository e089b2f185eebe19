#pragma once
// The series-number file of a production line: one line, the next number in
// upper-case hexadecimal. Before number N is burned the file is made to hold
// N+1, atomically (temporary file, fsync, rename, fsync of the folder), so a
// number is never burned twice, whenever the program is stopped.
#include <cstdint>
#include <optional>
#include <string>

// The number the file holds (1 to 8 hexadecimal digits, either case, one line).
bool ReadSerialFile(const std::string& path, uint32_t& number, std::string& error);
// The number of the file's text: 1 to 8 hexadecimal digits, either case,
// trailing line ends and blanks allowed.
std::optional<uint32_t> ParseSerialText(const std::string& text);
// The same, or false with the line that tells what the file of path holds wrong.
bool ParseSerialInto(const std::string& path, const std::string& text, uint32_t& number, std::string& error);
// "1A2C\n".
std::string SerialFileText(uint32_t number);
// Under an exclusive lock of the file (several stations may share it): reads
// the number N it holds, writes N+1 (FFFFFFFF is followed by 0, as in the
// window's number field) and returns N, the number that may now be burned.
bool ReserveSerialNumber(const std::string& path, uint32_t& reserved, std::string& error);
