#include "programs/vane_upgrade/serial_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxFileBytes = 64;
constexpr int kLockRetries = 100;
constexpr mode_t kNewFileMode = 0644;

std::string Failure(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool ReadAll(int fd, std::string& text)
{
    text.clear();
    char buffer[kMaxFileBytes + 1];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxFileBytes) return false;
    }
    return n == 0;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool ReadSerialFile(const std::string& path, uint32_t& number, std::string& error, bool* usedUp)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Failure("serial file", path);
        return false;
    }
    std::string text;
    const bool read = ReadAll(fd, text);
    close(fd);
    if (!read) {
        error = "serial file " + path + ": cannot be read as one short line";
        return false;
    }
    return ParseSerialInto(path, text, number, error, usedUp);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = Failure("cannot create a temporary file beside", path);
        return false;
    }
    // mkstemp makes the file private; it keeps the mode of the file it replaces.
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : kNewFileMode;
    if (fchmod(fd, mode) != 0) {
        // Still the private mode: the contents are right, only others cannot read them.
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    const int writeErrno = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        if (written) error = Failure("cannot replace", path);
        else error = "cannot write " + temporary + ": " + std::strerror(writeErrno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself is durable only once the folder is.
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

bool ReserveSerialNumber(const std::string& path, uint32_t& reserved, std::string& error)
{
    // The lock is on the file's inode, which the rename replaces: a station
    // that waited on the old inode tries again on the new one.
    for (int attempt = 0; attempt < kLockRetries; ++attempt) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = Failure("serial file", path);
            return false;
        }
        if (flock(fd, LOCK_EX) != 0) {
            error = Failure("cannot lock the serial file", path);
            close(fd);
            return false;
        }
        struct stat locked {}, current {};
        if (fstat(fd, &locked) != 0 || stat(path.c_str(), &current) != 0 || locked.st_ino != current.st_ino ||
            locked.st_dev != current.st_dev) {
            close(fd);
            continue;
        }
        std::string text;
        uint32_t number = 0;
        bool ok = ReadAll(fd, text);
        if (!ok) error = "serial file " + path + ": cannot be read as one short line";
        ok = ok && ParseSerialInto(path, text, number, error) && WriteFileAtomically(path, SerialFileTextAfter(number), error);
        close(fd); // releases the lock
        if (ok) reserved = number;
        return ok;
    }
    error = "serial file " + path + ": replaced too often while waiting for its lock";
    return false;
}
