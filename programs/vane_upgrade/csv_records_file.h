#pragma once
// --records NAME.csv: the CSV store with the rows of records --csv.
#include <memory>
#include <string>

#include "records/record_store.h"

std::unique_ptr<IRecordStore> OpenCsvRecordsFile(const std::string& path);
