#pragma once
// Libraries of the system that the programs take from the system folder only.
//
// The programs run as administrator, often started from a downloads folder.
// Windows looks for a library beside the program before the system folder,
// unless the library is one of the system's Known DLLs; a file planted there
// would run with the program's rights. So the import tables name Known DLLs
// only, and every other library is loaded here, from the system folder, with
// its functions looked up by name. Modules stay loaded for the life of the
// process.
#include <string>

enum class SystemLibrary {
    Kernel32,       // kernel32.dll: functions looked up at run time
    CommonControls, // comctl32.dll: the dialog's controls and tooltips
    Cryptography,   // bcrypt.dll: the SHA-256 of a written image
};

// The first statement of every program: later loads, the system's own among
// them (the file dialog, the shell's icons), search the system folder only,
// never the program's folder nor the working folder.
void RestrictLibrarySearchToSystem();

// Loads the library (once) from the system folder. False, with a text for the
// user that names the library, when it is not there.
bool LoadSystemLibrary(SystemLibrary library, std::string& errorText);

// Tells the user of a window program, in a box over no window, that a system
// library is missing (the text of LoadSystemLibrary).
void ShowMissingSystemLibrary(const std::string& programTitle, const std::string& errorText);

// A function of the library, loaded as above; nullptr when the library or the
// function is missing. Through the generic function type: the exported address
// is the function.
using SystemFunctionAddress = void (*)();
SystemFunctionAddress SystemLibraryFunctionAddress(SystemLibrary library, const char* function);

template <typename Function>
Function SystemLibraryFunction(SystemLibrary library, const char* function)
{
    return reinterpret_cast<Function>(SystemLibraryFunctionAddress(library, function));
}
