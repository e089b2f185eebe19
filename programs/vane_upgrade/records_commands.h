#pragma once
// The commands on a records store: "records" (a table, --csv or --json;
// --serials for the series numbers handed out) and "serial-next HEX".
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "records/record_store.h"

enum class RecordsFormat { Table, Csv, Json };

// The text of the records (or the series numbers) in format; false with error when the store cannot list them.
bool RecordsText(IRecordStore& store, RecordsFormat format, bool serials, std::string& text, std::string& error);
int ListRecordsCommand(IRecordStore& store, RecordsFormat format, bool serials, std::FILE* out, std::string& error);
// With out null nothing is printed.
int SerialNextCommand(IRecordStore& store, uint32_t next, std::FILE* out, std::string& error);
// records import FILE: the lines of an unsaved-records file into the store,
// each job's record once however often the file is imported. summary: the
// line that tells what was done; error: what stopped it or the first line
// that could not be read.
int ImportRecordsCommand(IRecordStore& store, const std::string& path, std::string& summary, std::string& error);

// --- the pieces, pure ---
std::string FormatRecords(const std::vector<JobRecord>& records, RecordsFormat format);
// A number still taken has no record of its job (its station was stopped, or
// the job runs still): it says so, and it is never handed out again.
std::string FormatSerials(const std::vector<SerialEntry>& serials, RecordsFormat format);
// One line of JSON: the record, and the state its series number could not be given in the store.
std::string RecordJsonLine(const JobRecord& record, const std::string& unsettledSerialState);
// Such a line read back; false when it is not one.
bool RecordFromJsonLine(const std::string& line, JobRecord& record, std::optional<SerialState>& serialState);
