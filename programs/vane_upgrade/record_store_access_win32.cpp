// The records of vane-upgrade on Windows: a CSV file, one row per job, with
// the fields of the records stores elsewhere. A row is appended under an
// exclusive LockFileEx of the file (several stations may share it on a
// network share). Series numbers come from --serial-file here.
#include "programs/vane_upgrade/record_store_access.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "platform/win32/scsi_pass_through_win32.h"
#include "programs/vane_upgrade/records_commands.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const char kNoSeriesNumbers[] = "a CSV records file hands out no series numbers: use --serial-file";

std::string SystemText(DWORD error)
{
    std::string text = Win32ErrorText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

bool EndsWithCsv(const std::string& location)
{
    if (location.size() < 4) return false;
    std::string end = location.substr(location.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".csv";
}

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

// Appends text to path under an exclusive lock of the whole file; header
// first when the file is empty.
bool AppendLocked(const std::string& path, const std::string& header, const std::string& text, std::string& error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": " + SystemText(GetLastError());
        return false;
    }
    OVERLAPPED whole{};
    bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
    if (!ok) error = path + ": cannot be locked: " + SystemText(GetLastError());
    if (ok) {
        LARGE_INTEGER size{}, zero{};
        std::string lines = text;
        ok = GetFileSizeEx(file, &size) && SetFilePointerEx(file, zero, nullptr, FILE_END);
        if (ok && size.QuadPart == 0) lines = header + text;
        DWORD written = 0;
        ok = ok && WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
             written == lines.size() && FlushFileBuffers(file);
        if (!ok) error = path + ": " + SystemText(GetLastError());
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(file);
    return ok;
}

// The header line and the rows of records, as the records command writes them.
void CsvParts(const JobRecord& record, std::string& header, std::string& row)
{
    const std::string both = FormatRecords({record}, RecordsFormat::Csv);
    const size_t end = both.find('\n');
    header = both.substr(0, end + 1);
    row = end == std::string::npos ? std::string() : both.substr(end + 1);
}

class CsvRecordFile final : public IRecordStore {
public:
    explicit CsvRecordFile(std::string path) : path_(std::move(path)) {}

    bool AddRecord(const JobRecord& record, std::string& error) override
    {
        std::string header, row;
        CsvParts(record, header, row);
        return AppendLocked(path_, header, row, error);
    }
    bool ImportRecord(const JobRecord&, std::optional<SerialState>, bool& added, std::string& error) override
    {
        // A CSV file cannot tell a job it holds already: importing twice would add it twice.
        added = false;
        error = "the records are the CSV file " + path_ + ": records import needs an SQLite or PostgreSQL store (Linux)";
        return false;
    }
    bool ListRecords(std::vector<JobRecord>&, std::string& error) override
    {
        error = "the records are the CSV file " + path_ + " itself: open it in a spreadsheet";
        return false;
    }
    bool TakeSerial(const std::string&, const std::string&, uint32_t&, std::string& error) override
    {
        error = kNoSeriesNumbers;
        return false;
    }
    bool SettleSerial(uint32_t, SerialState, const std::string&, std::string& error) override
    {
        error = kNoSeriesNumbers;
        return false;
    }
    bool SetNextSerial(uint32_t, bool& refused, std::string& error) override
    {
        refused = false;
        error = kNoSeriesNumbers;
        return false;
    }
    bool HasNextSerial(bool& available, std::string& error) override
    {
        available = false;
        error = kNoSeriesNumbers;
        return false;
    }
    bool ListSerials(std::vector<SerialEntry>&, std::string& error) override
    {
        error = kNoSeriesNumbers;
        return false;
    }

private:
    std::string path_;
};

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
    if (location.find("://") != std::string::npos || !EndsWithCsv(location))
        return "--records " + StoreShownName(location) +
               ": on Windows the records are a CSV file (NAME.csv); SQLite and PostgreSQL stores are kept on Linux";
    if (IsFolder(location)) return "--records " + location + ": a folder, not a file";
    const std::string folder = FolderOf(location);
    if (!IsFolder(folder)) return "--records " + location + ": no folder " + folder;
    return std::nullopt;
}

std::unique_ptr<IRecordStore> OpenRecordStore(const std::string& location, std::string&, bool)
{
    return std::make_unique<CsvRecordFile>(location);
}

bool KeepUnsavedLine(const std::string& jsonLine, std::string& path, std::string& error)
{
    const char* local = std::getenv("LOCALAPPDATA");
    std::string folder = local != nullptr && local[0] != '\0' ? std::string(local) + "\\Vane Upgrade" : std::string(".");
    CreateDirectoryA(folder.c_str(), nullptr);
    path = folder + "\\unsaved-records.jsonl";
    return AppendLocked(path, "", jsonLine + "\n", error);
}
