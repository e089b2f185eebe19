#include "programs/vane_upgrade/csv_records_file.h"

#include "programs/vane_upgrade/records_commands.h"
#include "records/csv_record_store.h"

std::unique_ptr<IRecordStore> OpenCsvRecordsFile(const std::string& path)
{
    return OpenCsvRecordStore(path, [](const JobRecord& record, std::string& header, std::string& row) {
        const std::string both = FormatRecords({record}, RecordsFormat::Csv);
        const size_t end = both.find('\n');
        header = both.substr(0, end + 1);
        row = end == std::string::npos ? std::string() : both.substr(end + 1);
    });
}
