// The series-number file on Windows: LockFileEx (it holds on a network share
// too) on "FILE.lock" beside it, the next number written to a temporary file that
// replaces the file, flushed to the disk before the number is handed out.
#include "programs/vane_upgrade/serial_file.h"

#include <windows.h>

#include <string>

#include "platform/win32/scsi_pass_through_win32.h"

namespace {

constexpr DWORD kMaxFileBytes = 64;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string SystemText(DWORD error)
{
    std::string text = Win32ErrorText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string Failure(const std::string& what, const std::string& path, DWORD error)
{
    return what + " " + path + ": " + SystemText(error);
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (Valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

bool ReadAll(HANDLE file, std::string& text)
{
    text.clear();
    char buffer[kMaxFileBytes + 1];
    DWORD n = 0;
    for (;;) {
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) return false;
        if (n == 0) return true;
        text.append(buffer, n);
        if (text.size() > kMaxFileBytes) return false;
    }
}

} // namespace

bool ReadSerialFile(const std::string& path, uint32_t& number, std::string& error, bool* usedUp)
{
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid()) {
        error = Failure("serial file", path, GetLastError());
        return false;
    }
    std::string text;
    if (!ReadAll(file.Get(), text)) {
        error = "serial file " + path + ": cannot be read as one short line";
        return false;
    }
    return ParseSerialInto(path, text, number, error, usedUp);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error)
{
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    {
        Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            error = Failure("cannot create a temporary file beside", path, GetLastError());
            return false;
        }
        DWORD written = 0;
        const bool ok = WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size() && FlushFileBuffers(file.Get());
        if (!ok) {
            error = Failure("cannot write", temporary, GetLastError());
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    // Write-through: the rename is on the disk when the call returns.
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Failure("cannot replace", path, GetLastError());
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool ReserveSerialNumber(const std::string& path, uint32_t& reserved, std::string& error)
{
    // The lock is on a file beside it that is never replaced: Windows does not
    // let a file be replaced while others hold it open, as waiting stations do.
    const std::string lockPath = path + ".lock";
    Handle lockFile(CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lockFile.Valid()) {
        error = Failure("cannot open the lock of the serial file", lockPath, GetLastError());
        return false;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(lockFile.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = Failure("cannot lock the serial file", path, GetLastError());
        return false;
    }
    uint32_t number = 0;
    const bool ok = ReadSerialFile(path, number, error) && WriteFileAtomically(path, SerialFileTextAfter(number), error);
    UnlockFileEx(lockFile.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    if (ok) reserved = number;
    return ok;
}
