#include "programs/vane_upgrade/record_store_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/postgres/postgres_record_store.h"
#include "platform/sqlite/sqlite_record_store.h"

namespace {

constexpr mode_t kStateFolderMode = 0700;
constexpr mode_t kStateFileMode = 0600;

bool IsPostgresUri(const std::string& location)
{
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), kStateFolderMode) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

std::string StateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return std::string(state) + "/vane-upgrade";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/vane-upgrade";
    return "/tmp/vane-upgrade-" + std::to_string(getuid());
}

} // namespace

const char* RecordStoreForms() { return "an SQLite file or a postgresql:// URI"; }

std::string StoreShownName(const std::string& location)
{
    if (IsPostgresUri(location)) return PostgresRecordStore::ShownName(location);
    // Another kind of URI may carry a password as well: its scheme names it.
    if (const size_t scheme = location.find("://"); scheme != std::string::npos) return location.substr(0, scheme + 3) + "...";
    return location;
}

std::optional<std::string> StoreLocationProblem(const std::string& location)
{
    if (location.empty()) return "--records needs an SQLite file or a postgresql:// URI";
    if (IsPostgresUri(location)) {
        std::string problem;
        if (!PostgresRecordStore::CheckUri(location, problem))
            return "--records " + StoreShownName(location) + ": " + problem;
        return std::nullopt;
    }
    if (location.find("://") != std::string::npos)
        return "--records " + StoreShownName(location) + ": only postgresql:// URIs and SQLite file paths are stores";
    struct stat st {};
    if (stat(location.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "--records " + location + ": a folder, not a file";
    const std::string folder = FolderOf(location);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "--records " + location + ": no folder " + folder;
    return std::nullopt;
}

std::unique_ptr<IRecordStore> OpenRecordStore(const std::string& location, std::string& error, bool writing)
{
    std::string why;
    std::unique_ptr<IRecordStore> store;
    if (IsPostgresUri(location)) store = PostgresRecordStore::Open(location, writing, why);
    else store = SqliteRecordStore::Open(location, writing, why);
    if (!store) error = "the records store " + StoreShownName(location) + " cannot be used: " + why;
    return store;
}

bool KeepUnsavedLine(const std::string& jsonLine, std::string& path, std::string& error)
{
    const std::string folder = StateFolder();
    path = folder + "/unsaved-records.jsonl";
    if (!MakeFolders(folder)) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kStateFileMode);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const std::string line = jsonLine + "\n";
    // One write of an O_APPEND file: lines of several processes never interleave.
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
    if (!written) error = path + ": " + std::strerror(errno);
    close(fd);
    return written;
}
