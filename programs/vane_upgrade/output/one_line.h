#pragma once
// A dialog's text (a message box, a failure) as one line of the console's
// output: line breaks become blanks, blanks at either end go.
#include <string>

inline std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
