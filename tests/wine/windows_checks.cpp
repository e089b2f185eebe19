// Checks of the Windows programs that need no window, run under Wine:
//
//   windows_checks manifest PROGRAM.exe   the program carries an application
//       manifest that asks for an administrator and keeps the classic common
//       controls (no dependency on their version 6)
//   windows_checks volume-rights          a volume refused for lack of rights
//       fails its open and says in the diagnostic log what to do
//
// Exit status 0 when the check holds; 1 with a line on standard error when not.
#include <windows.h>

#include <cstdio>
#include <string>

#include "device/diagnostics.h"
#include "platform/win32/device_tree_win32.h"

namespace {

int Fail(const std::string& what)
{
    std::fprintf(stderr, "windows_checks: %s\n", what.c_str());
    return 1;
}

int CheckManifest(const char* program)
{
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return Fail(std::string("cannot load ") + program);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(module, found);
    const char* bytes = loaded == nullptr ? nullptr : static_cast<const char*>(LockResource(loaded));
    const std::string manifest = bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(module, found));
    FreeLibrary(module);
    if (manifest.empty()) return Fail(std::string(program) + " has no application manifest");
    if (manifest.find("level=\"requireAdministrator\"") == std::string::npos)
        return Fail(std::string(program) + ": the manifest does not ask for an administrator");
    if (manifest.find("Common-Controls") != std::string::npos)
        return Fail(std::string(program) + ": the manifest selects other common controls");
    std::printf("%s: manifest asks for an administrator, classic controls\n", program);
    return 0;
}

int CheckVolumeRights()
{
    // A folder opened as a file for reading and writing is refused with
    // ERROR_ACCESS_DENIED, as a volume is for a user without the rights.
    char folder[MAX_PATH] = {};
    if (GetWindowsDirectoryA(folder, sizeof folder) == 0) return Fail("no Windows folder");
    std::string log;
    AddDiagnosticSink([&log](const std::string& text) { log += text; });
    Win32DeviceTree tree;
    DeviceHandle handle = nullptr;
    std::string errorText;
    if (tree.OpenVolume(folder, handle, errorText)) return Fail(std::string("opened ") + folder);
    if (errorText.empty()) return Fail("no system text for the refusal");
    const std::string wanted = std::string("No right to open ") + folder + " for reading and writing";
    if (log.find(wanted) == std::string::npos || log.find("as administrator") == std::string::npos)
        return Fail("the log says \"" + log + "\", expected a line with \"" + wanted + "\" and what to do");
    std::printf("refused open logged: %s", log.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string check = argc > 1 ? argv[1] : "";
    if (check == "manifest" && argc == 3) return CheckManifest(argv[2]);
    if (check == "volume-rights" && argc == 2) return CheckVolumeRights();
    std::fprintf(stderr, "usage: windows_checks manifest PROGRAM.exe | volume-rights\n");
    return 2;
}
