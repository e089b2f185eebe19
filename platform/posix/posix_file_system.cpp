// The file layer on POSIX systems: stdio streams, stat, the C library's
// messages. Paths written with backslashes (".\\Data\\x.fir") are taken with
// "/" as the separator.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ports/file_system.h"

namespace {

std::string NativePath(const std::string& path)
{
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

class PosixFile final : public IFile {
public:
    explicit PosixFile(std::FILE* f) : file_(f) {}
    ~PosixFile() override { Close(); }

    uint64_t Length() override
    {
        FileStatus s;
        return Status(s) ? s.length : 0;
    }
    bool Status(FileStatus& status) override
    {
        if (!file_) return false;
        struct stat st {};
        if (fstat(fileno(file_), &st) != 0) return false;
        status.length = static_cast<uint64_t>(st.st_size);
        status.modifiedTime = static_cast<int64_t>(st.st_mtime);
        return true;
    }
    size_t Read(void* buffer, size_t count) override
    {
        if (!file_ || count == 0) return 0;
        return std::fread(buffer, 1, count, file_);
    }
    bool Write(const void* buffer, size_t count) override
    {
        if (!file_) return false;
        if (count == 0) return true;
        if (std::fwrite(buffer, 1, count, file_) != count) return false;
        return std::fflush(file_) == 0;
    }
    bool Sync() override { return file_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0; }
    void Close() override
    {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }

private:
    std::FILE* file_;
};

class PosixFileSystem final : public IFileSystem {
public:
    std::unique_ptr<IFile> Open(const std::string& path, FileOpenMode mode, std::string& errorText) override
    {
        const std::string native = NativePath(path);
        std::FILE* f = nullptr;
        errno = 0;
        if (!native.empty()) {
            switch (mode) {
            case FileOpenMode::Read: f = std::fopen(native.c_str(), "rb"); break;
            case FileOpenMode::CreateWrite: f = std::fopen(native.c_str(), "wb"); break;
            case FileOpenMode::CreateNew: f = std::fopen(native.c_str(), "wbx"); break;
            case FileOpenMode::CreateReadWrite:
                f = std::fopen(native.c_str(), "r+b");
                if (!f && errno == ENOENT) f = std::fopen(native.c_str(), "w+b");
                break;
            }
        } else {
            errno = ENOENT;
        }
        if (f) {
            // A directory opens for reading on Linux; it is no file for the tool.
            struct stat st {};
            if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
                std::fclose(f);
                errno = EISDIR;
                f = nullptr;
            }
        }
        if (!f) {
            errorText = std::strerror(errno ? errno : ENOENT);
            return nullptr;
        }
        return std::make_unique<PosixFile>(f);
    }

    bool ToLocalTime(int64_t time, std::tm& local) override
    {
        std::time_t t = static_cast<std::time_t>(time);
        return localtime_r(&t, &local) != nullptr;
    }

    std::string ProgramPath() override
    {
        char buffer[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return "";
        return std::string(buffer, static_cast<size_t>(n));
    }

    bool Remove(const std::string& path) override { return std::remove(NativePath(path).c_str()) == 0; }
    bool Rename(const std::string& from, const std::string& to) override
    {
        return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
    }
    bool Exists(const std::string& path) override
    {
        struct stat st {};
        return stat(NativePath(path).c_str(), &st) == 0;
    }
    bool CreateFolder(const std::string& path) override
    {
        const std::string native = NativePath(path);
        if (mkdir(native.c_str(), 0777) == 0) return true;
        struct stat st {};
        return errno == EEXIST && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool RemoveFolder(const std::string& path) override { return rmdir(NativePath(path).c_str()) == 0; }
    std::string BackupFolder() override
    {
        // The XDG base directories: $XDG_STATE_HOME (only an absolute path
        // counts), else ~/.local/state.
        const char* state = std::getenv("XDG_STATE_HOME");
        if (state != nullptr && state[0] == '/') return std::string(state) + "/vane-upgrade/backup";
        std::string home;
        const char* homeVariable = std::getenv("HOME");
        if (homeVariable != nullptr && homeVariable[0] == '/') {
            home = homeVariable;
        } else {
            char buffer[4096];
            struct passwd entry {};
            struct passwd* found = nullptr;
            if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
                found->pw_dir != nullptr && found->pw_dir[0] == '/')
                home = found->pw_dir;
        }
        if (home.empty()) return "";
        return home + "/.local/state/vane-upgrade/backup";
    }
};

} // namespace

IFileSystem& PlatformFileSystem()
{
    static PosixFileSystem fs;
    return fs;
}
