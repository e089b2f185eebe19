#pragma once
// The records as a CSV file, one row per job (a spreadsheet opens it; several
// stations may share it): each row appended under an exclusive lock of the
// file, the header first into an empty file. It hands out no series numbers
// and lists nothing: the file itself is the list.
#include <functional>
#include <memory>
#include <string>

#include "records/record_store.h"

// The header line and the row of a record, each ending in its line end, as
// the records command writes them.
using CsvRowFormat = std::function<void(const JobRecord& record, std::string& header, std::string& row)>;

std::unique_ptr<IRecordStore> OpenCsvRecordStore(const std::string& path, CsvRowFormat format);
// Whether --records names a CSV file (NAME.csv, any case).
bool IsCsvStoreName(const std::string& location);
