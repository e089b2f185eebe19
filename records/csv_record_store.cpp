#include "records/csv_record_store.h"

#include <cctype>

#include "ports/locked_file.h"

namespace {

const char kNoSeriesNumbers[] = "a CSV records file hands out no series numbers: use --serial-file";

class CsvRecordStore final : public IRecordStore {
public:
    CsvRecordStore(std::string path, CsvRowFormat format) : path_(std::move(path)), format_(std::move(format)) {}

    bool AddRecord(const JobRecord& record, std::string& error) override
    {
        std::string header, row;
        format_(record, header, row);
        return AppendLocked(path_, header, row, error);
    }
    bool ImportRecord(const JobRecord&, std::optional<SerialState>, bool& added, std::string& error) override
    {
        // A CSV file cannot tell a job it holds already: importing twice would add it twice.
        added = false;
        error = "the records are the CSV file " + path_ + ": a CSV file cannot tell which jobs it holds, so records import needs an SQLite or PostgreSQL store";
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
    CsvRowFormat format_;
};

} // namespace

std::unique_ptr<IRecordStore> OpenCsvRecordStore(const std::string& path, CsvRowFormat format)
{
    return std::make_unique<CsvRecordStore>(path, std::move(format));
}

bool IsCsvStoreName(const std::string& location)
{
    if (location.size() < 4 || location.find("://") != std::string::npos) return false;
    std::string end = location.substr(location.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".csv";
}
