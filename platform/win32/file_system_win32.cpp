// The file layer on Windows: CreateFileA handles, the system's messages.
//
// A failed open reports the cause together with the file name, as the file
// errors of a Windows dialog program read: "<path> was not found." and the
// like for the common causes, otherwise "<path>: <the system's message>".
#include <windows.h>
#include <shlobj.h>

#include <ctime>

#include "ports/file_system.h"
#include "platform/win32/scsi_pass_through_win32.h"

namespace {

// Seconds between 1601-01-01 (file times) and 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600LL;
// ReadFile and WriteFile move at most a DWORD at a time.
constexpr size_t kMaxChunk = 1u << 30;

std::string OpenErrorText(const std::string& path, DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return path + " was not found.";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE: return path + " contains an invalid path.";
    case ERROR_TOO_MANY_OPEN_FILES: return path + " could not be opened because there are too many open files.";
    case ERROR_ACCESS_DENIED: return "Access to " + path + " was denied.";
    case ERROR_SHARING_VIOLATION: return path + " could not be accessed because of a sharing violation.";
    case ERROR_LOCK_VIOLATION: return path + " could not be accessed because of a locking violation.";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "The disk is full while accessing " + path + ".";
    default: {
        // A message line of its own: without the system's line break.
        std::string text = Win32ErrorText(error);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return path + ": " + text;
    }
    }
}

class Win32File final : public IFile {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { Close(); }

    uint64_t Length() override
    {
        LARGE_INTEGER size{};
        if (handle_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle_, &size)) return 0;
        return static_cast<uint64_t>(size.QuadPart);
    }
    bool Status(FileStatus& status) override
    {
        LARGE_INTEGER size{};
        FILETIME written{};
        if (handle_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle_, &size) ||
            !GetFileTime(handle_, nullptr, nullptr, &written))
            return false;
        ULARGE_INTEGER ticks{};
        ticks.LowPart = written.dwLowDateTime;
        ticks.HighPart = written.dwHighDateTime;
        status.length = static_cast<uint64_t>(size.QuadPart);
        status.modifiedTime = static_cast<int64_t>(ticks.QuadPart / 10000000ULL) - kFileTimeEpochSeconds;
        return true;
    }
    size_t Read(void* buffer, size_t count) override
    {
        if (handle_ == INVALID_HANDLE_VALUE) return 0;
        auto* bytes = static_cast<char*>(buffer);
        size_t total = 0;
        while (total < count) {
            const DWORD want = static_cast<DWORD>(count - total < kMaxChunk ? count - total : kMaxChunk);
            DWORD got = 0;
            if (!ReadFile(handle_, bytes + total, want, &got, nullptr) || got == 0) break;
            total += got;
        }
        return total;
    }
    bool Write(const void* buffer, size_t count) override
    {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        const auto* bytes = static_cast<const char*>(buffer);
        size_t total = 0;
        while (total < count) {
            const DWORD want = static_cast<DWORD>(count - total < kMaxChunk ? count - total : kMaxChunk);
            DWORD put = 0;
            if (!WriteFile(handle_, bytes + total, want, &put, nullptr) || put == 0) return false;
            total += put;
        }
        return true;
    }
    bool Sync() override { return handle_ != INVALID_HANDLE_VALUE && FlushFileBuffers(handle_); }
    void Close() override
    {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

class Win32FileSystem final : public IFileSystem {
public:
    std::unique_ptr<IFile> Open(const std::string& path, FileOpenMode mode, std::string& errorText) override
    {
        DWORD access = GENERIC_READ;
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
        case FileOpenMode::Read: break;
        case FileOpenMode::CreateWrite: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        case FileOpenMode::CreateNew: access = GENERIC_WRITE; disposition = CREATE_NEW; break;
        case FileOpenMode::CreateReadWrite: access = GENERIC_READ | GENERIC_WRITE; disposition = OPEN_ALWAYS; break;
        }
        HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            errorText = OpenErrorText(path, GetLastError());
            return nullptr;
        }
        return std::make_unique<Win32File>(h);
    }

    bool ToLocalTime(int64_t time, std::tm& local) override
    {
        const __time64_t t = static_cast<__time64_t>(time);
        return _localtime64_s(&local, &t) == 0;
    }

    std::string ProgramPath() override
    {
        char buffer[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return "";
        return std::string(buffer, n);
    }

    bool Remove(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }
    bool Rename(const std::string& from, const std::string& to) override
    {
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    bool Exists(const std::string& path) override { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    bool CreateFolder(const std::string& path) override
    {
        if (CreateDirectoryA(path.c_str(), nullptr)) return true;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    bool RemoveFolder(const std::string& path) override { return RemoveDirectoryA(path.c_str()) != FALSE; }
    std::string BackupFolder() override
    {
        // %LOCALAPPDATA%, else the known folder it names.
        char folder[MAX_PATH] = {};
        const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", folder, MAX_PATH);
        std::string base;
        if (n > 0 && n < MAX_PATH) {
            base.assign(folder, n);
        } else if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK) {
            base = folder;
        }
        if (base.empty()) return "";
        if (base.back() != '\\') base += '\\';
        return base + "Vane Upgrade\\Backup";
    }
};

} // namespace

IFileSystem& PlatformFileSystem()
{
    static Win32FileSystem fs;
    return fs;
}
