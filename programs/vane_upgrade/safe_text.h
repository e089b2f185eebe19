#pragma once
// Text from outside the program (a store written by another tool, a device's
// identity block, a message box) made safe for a terminal: no control
// characters, no escape sequences, one line, valid UTF-8.
#include <cstddef>
#include <string>
#include <string_view>

// Whether text is valid UTF-8 without control characters (C0, DEL, C1).
bool IsPrintableUtf8(std::string_view text);
// text on one line for a terminal: line breaks and tabs become spaces, other
// control characters and bytes that are not UTF-8 become '?'.
std::string TerminalSafe(std::string_view text);
// The columns text takes on a terminal (one per character of valid UTF-8).
size_t ShownWidth(std::string_view text);
// A version read from a target: empty (unknown) unless it is printable text.
std::string KnownVersion(const std::string& version);
// How the window's version line reads when the version is unknown.
inline constexpr const char* kUnknownVersionLine = "Current version: Unknown";
