#include "ports/terminal.h"

#include <unistd.h>

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }
