#pragma once
// A Windows command line is one text that the started program splits again
// (CommandLineToArgvW and the C runtime follow the same rules). Each argument
// is quoted so that it comes back unchanged: blanks and quotes inside it,
// backslashes before a quote or at its end, and the empty argument.
#include <string>
#include <vector>

std::string QuoteWindowsArgument(const std::string& argument);
// The program and its arguments, each quoted, separated by one blank.
std::string WindowsCommandLine(const std::string& program, const std::vector<std::string>& arguments);
