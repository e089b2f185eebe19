#pragma once
// The SHA-256 of a file, for the record of the image a job wrote.
#include <string>

// Lower-case hexadecimal (64 characters).
bool FileSha256(const std::string& path, std::string& hex, std::string& error);
