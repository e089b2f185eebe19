#include "ports/terminal.h"

#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// A console, not a pipe, a file or NUL (which _isatty takes for a terminal).
// The erase to the line's end needs the console's terminal sequences: a
// console without them (before Windows 10) gets the plain lines.
bool OutputIsTerminal()
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

bool InputIsTerminal()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != FALSE;
}
