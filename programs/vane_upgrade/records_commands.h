#pragma once
// The commands on a records store: "records" (a table, --csv or --json;
// --serials for the series numbers handed out) and "serial-next HEX".
#include <cstdio>
#include <string>
#include <vector>

#include "records/record_store.h"

enum class RecordsFormat { Table, Csv, Json };

// The text of the records (or the series numbers) in format; false with error when the store cannot list them.
bool RecordsText(IRecordStore& store, RecordsFormat format, bool serials, std::string& text, std::string& error);
int ListRecordsCommand(IRecordStore& store, RecordsFormat format, bool serials, std::FILE* out, std::string& error);
// With out null nothing is printed.
int SerialNextCommand(IRecordStore& store, uint32_t next, std::FILE* out, std::string& error);

// --- the pieces, pure ---
std::string FormatRecords(const std::vector<JobRecord>& records, RecordsFormat format);
// A number still taken is shown as void: its job ended without a word (its
// station was stopped), and the number is never handed out again.
std::string FormatSerials(const std::vector<SerialEntry>& serials, RecordsFormat format);
// One line of JSON: the record, and the state its series number could not be given in the store.
std::string RecordJsonLine(const JobRecord& record, const std::string& unsettledSerialState);
