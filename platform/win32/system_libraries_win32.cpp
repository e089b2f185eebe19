#include "platform/win32/system_libraries_win32.h"

#include <windows.h>

#include <mutex>

namespace {

constexpr size_t kLibraries = 3;

const wchar_t* FileName(SystemLibrary library)
{
    switch (library) {
    case SystemLibrary::Kernel32: return L"kernel32.dll";
    case SystemLibrary::CommonControls: return L"comctl32.dll";
    case SystemLibrary::Cryptography: return L"bcrypt.dll";
    }
    return L"";
}

const char* NarrowFileName(SystemLibrary library)
{
    switch (library) {
    case SystemLibrary::Kernel32: return "kernel32.dll";
    case SystemLibrary::CommonControls: return "comctl32.dll";
    case SystemLibrary::Cryptography: return "bcrypt.dll";
    }
    return "";
}

std::mutex g_loading;
HMODULE g_loaded[kLibraries] = {};

std::string SystemMessageText(DWORD error)
{
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (length >= sizeof text) length = 0;
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
    return length == 0 ? "error " + std::to_string(error) : std::string(text, length);
}

HMODULE LoadFromSystemFolder(const wchar_t* file, DWORD& error)
{
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr) return module;
    error = GetLastError();
    // A Windows 7 without the loader update refuses the search flag: the
    // library's full path in the system folder leaves no search either.
    if (error != ERROR_INVALID_PARAMETER) return nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + file;
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) error = GetLastError();
    return module;
}

HMODULE Loaded(SystemLibrary library, std::string* errorText)
{
    const size_t index = static_cast<size_t>(library);
    if (index >= kLibraries) return nullptr;
    std::lock_guard<std::mutex> lock(g_loading);
    if (g_loaded[index] == nullptr) {
        DWORD error = ERROR_MOD_NOT_FOUND;
        g_loaded[index] = LoadFromSystemFolder(FileName(library), error);
        if (g_loaded[index] == nullptr && errorText != nullptr)
            *errorText = std::string("The system library ") + NarrowFileName(library) +
                         " cannot be loaded from the Windows system folder (" + SystemMessageText(error) +
                         "). The program takes it from there only, never from its own folder.";
    }
    return g_loaded[index];
}

} // namespace

void RestrictLibrarySearchToSystem()
{
    // Looked up, not imported: a Windows 7 without the loader update lacks it
    // and must still start (its loads then go by full path, above).
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto restrict =
        SystemLibraryFunction<SetDefaultDllDirectoriesFunction>(SystemLibrary::Kernel32, "SetDefaultDllDirectories");
    if (restrict != nullptr) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Takes the working folder out of the plain LoadLibrary search as well.
    SetDllDirectoryW(L"");
}

bool LoadSystemLibrary(SystemLibrary library, std::string& errorText)
{
    errorText.clear();
    return Loaded(library, &errorText) != nullptr;
}

void ShowMissingSystemLibrary(const std::string& programTitle, const std::string& errorText)
{
    MessageBoxA(nullptr, errorText.c_str(), programTitle.c_str(), MB_OK | MB_ICONERROR);
}

SystemFunctionAddress SystemLibraryFunctionAddress(SystemLibrary library, const char* function)
{
    HMODULE module = Loaded(library, nullptr);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<SystemFunctionAddress>(GetProcAddress(module, function));
}
