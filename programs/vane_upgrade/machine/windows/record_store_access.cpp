// The records of vane-upgrade on Windows: a CSV file, one row per job, with
// the fields of the other records stores (records/csv_record_store.h).
// Series numbers come from --serial-file here.
#include "programs/vane_upgrade/cli/record_store_access.h"

#include <windows.h>

#include <cstdlib>

#include "ports/locked_file.h"
#include "programs/vane_upgrade/csv_records_file.h"
#include "records/csv_record_store.h"

namespace {

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash + 1);
}

} // namespace

const char* RecordStoreForms() { return "a CSV file, NAME.csv"; }

std::string StoreShownName(const std::string& location)
{
    // A URI meant for another platform may carry a password: its scheme names it.
    if (const size_t scheme = location.find("://"); scheme != std::string::npos) return location.substr(0, scheme + 3) + "...";
    return location;
}

std::optional<std::string> StoreLocationProblem(const std::string& location)
{
    if (location.empty()) return "--records needs a CSV file";
    if (!IsCsvStoreName(location))
        return "--records " + StoreShownName(location) +
               ": on Windows the records are a CSV file (NAME.csv); SQLite and PostgreSQL stores are kept on Linux";
    if (IsFolder(location)) return "--records " + location + ": a folder, not a file";
    const std::string folder = FolderOf(location);
    if (!IsFolder(folder)) return "--records " + location + ": no folder " + folder;
    return std::nullopt;
}

std::unique_ptr<IRecordStore> OpenRecordStore(const std::string& location, std::string&, bool)
{
    return OpenCsvRecordsFile(location);
}

bool KeepUnsavedLine(const std::string& jsonLine, std::string& path, std::string& error)
{
    const char* local = std::getenv("LOCALAPPDATA");
    std::string folder = local != nullptr && local[0] != '\0' ? std::string(local) + "\\Vane Upgrade" : std::string(".");
    CreateDirectoryA(folder.c_str(), nullptr);
    path = folder + "\\unsaved-records.jsonl";
    return AppendLocked(path, "", jsonLine + "\n", error);
}
