// Checks of the Windows programs that need no window, run under Wine:
//
//   windows_checks manifest PROGRAM.exe   the program carries an application
//       manifest that asks for an administrator and keeps the classic common
//       controls (no dependency on their version 6)
//   windows_checks volume-rights          a volume refused for lack of rights
//       fails its open and says in the diagnostic log what to do
//   windows_checks imports PROGRAM.exe... the import tables (the static and
//       the delay-loaded ones, read from the file's headers, 32- or 64-bit)
//       name only Known DLLs, which Windows takes from its own folder even
//       when a file of that name lies beside the program
//
// Exit status 0 when the check holds; 1 with a line on standard error when not.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

// Libraries of the system's Known DLLs (and ntdll, which the system maps
// into every process itself).
const std::set<std::string> kKnownLibraries = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll",   "imm32.dll",   "kernel32.dll",
    "msvcrt.dll",   "ntdll.dll",    "ole32.dll",   "oleaut32.dll", "psapi.dll",
    "setupapi.dll", "shell32.dll",  "shlwapi.dll", "user32.dll",  "ws2_32.dll",
};

// The library names of a program's import tables, from the PE headers of the
// file as it lies on disk. False with the reason when the headers do not hold.
class ImportTables {
public:
    explicit ImportTables(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    bool Read(std::vector<std::string>& libraries, std::string& problem)
    {
        uint32_t header = 0;
        if (U16(0) != 0x5A4D || !U32(0x3C, header) || U32Or0(header) != 0x00004550) return Bad(problem, "no PE header");
        const uint32_t coff = header + 4;
        sections_ = U16(coff + 2);
        const uint32_t optional = coff + 20;
        sectionTable_ = optional + U16(coff + 16);
        const uint16_t magic = U16(optional);
        if (magic != 0x10B && magic != 0x20B) return Bad(problem, "an unknown optional header");
        const uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
        const uint32_t directoryCount = U32Or0(optional + (magic == 0x20B ? 108 : 92));
        // Directory 1: the imports (20-byte entries, the name at 12);
        // directory 13: the delay-loaded imports (32-byte entries, the name at 4).
        if (directoryCount > 1 && !Names(U32Or0(directories + 1 * 8), 20, 12, libraries))
            return Bad(problem, "an import table outside the file");
        if (directoryCount > 13 && !Names(U32Or0(directories + 13 * 8), 32, 4, libraries))
            return Bad(problem, "a delay-load table outside the file");
        if (libraries.empty()) return Bad(problem, "no import table");
        return true;
    }

private:
    static bool Bad(std::string& problem, const char* what)
    {
        problem = what;
        return false;
    }
    uint16_t U16(uint64_t at) const
    {
        return at + 2 <= bytes_.size() ? static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8) : 0;
    }
    bool U32(uint64_t at, uint32_t& value) const
    {
        if (at + 4 > bytes_.size()) return false;
        value = static_cast<uint32_t>(U16(at)) | static_cast<uint32_t>(U16(at + 2)) << 16;
        return true;
    }
    uint32_t U32Or0(uint64_t at) const
    {
        uint32_t value = 0;
        return U32(at, value) ? value : 0;
    }
    // The file offset of a relative virtual address, through the section table.
    bool Offset(uint32_t rva, uint64_t& offset) const
    {
        for (uint32_t i = 0; i < sections_; ++i) {
            const uint64_t entry = sectionTable_ + uint64_t{40} * i;
            const uint32_t address = U32Or0(entry + 12);
            const uint32_t size = std::max(U32Or0(entry + 8), U32Or0(entry + 16));
            if (rva >= address && rva - address < size) {
                offset = uint64_t{U32Or0(entry + 20)} + (rva - address);
                return offset < bytes_.size();
            }
        }
        return false;
    }
    bool Names(uint32_t tableRva, uint32_t entryBytes, uint32_t nameAt, std::vector<std::string>& libraries) const
    {
        if (tableRva == 0) return true; // no such table
        uint64_t table = 0;
        if (!Offset(tableRva, table)) return false;
        for (uint64_t entry = table;; entry += entryBytes) {
            if (entry + entryBytes > bytes_.size()) return false;
            const uint32_t nameRva = U32Or0(entry + nameAt);
            if (nameRva == 0) return true; // the closing entry
            uint64_t name = 0;
            if (!Offset(nameRva, name)) return false;
            const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(name);
            const auto end = std::find(begin, bytes_.end(), 0);
            if (end == bytes_.end()) return false;
            libraries.emplace_back(begin, end);
        }
    }

    std::vector<unsigned char> bytes_;
    uint32_t sections_ = 0;
    uint64_t sectionTable_ = 0;
};

int CheckImports(int count, char** programs)
{
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::ifstream file(programs[i], std::ios::binary);
        if (!file) {
            failures += Fail(std::string("cannot read ") + programs[i]);
            continue;
        }
        std::vector<std::string> libraries;
        std::string problem;
        if (!ImportTables({std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()})
                 .Read(libraries, problem)) {
            failures += Fail(std::string(programs[i]) + ": " + problem);
            continue;
        }
        std::string named, outside;
        for (const std::string& library : libraries) {
            std::string lower = library;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            named += " " + library;
            if (kKnownLibraries.count(lower) == 0) outside += " " + library;
        }
        if (!outside.empty())
            failures += Fail(std::string(programs[i]) + " imports libraries that are no Known DLLs:" + outside);
        else
            std::printf("%s: imports only Known DLLs:%s\n", programs[i], named.c_str());
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string check = argc > 1 ? argv[1] : "";
    if (check == "manifest" && argc == 3) return CheckManifest(argv[2]);
    if (check == "volume-rights" && argc == 2) return CheckVolumeRights();
    if (check == "imports" && argc >= 3) return CheckImports(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: windows_checks manifest PROGRAM.exe | volume-rights | imports PROGRAM.exe...\n");
    return 2;
}
