#pragma once
// Whether the program talks with a person at a terminal (one file per
// platform): a progress bar redrawn in place and questions asked, or plain
// lines and no questions for a script.

// Standard output is a terminal that redraws a line ("\r" and the erase to
// the line's end); prepares it for that where it must be switched on.
bool OutputIsTerminal();
// Standard input is a terminal a person answers at.
bool InputIsTerminal();
