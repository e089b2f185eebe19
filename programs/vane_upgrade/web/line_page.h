#pragma once
// The line page's state, from the records store alone: every station's last
// job, the day's counts and yield per station and per hour, the day's
// failures by message, the series numbers handed out, and the answer to
// "which device got number X".
#include <cstdint>
#include <string>
#include <vector>

#include "records/job_record.h"

// The summary as JSON; day is the UTC date the counts are of ("2026-12-08").
std::string LineSummaryJson(const std::vector<JobRecord>& records, const std::vector<SerialEntry>& serials,
                            const std::string& day, uint64_t nowUnixMs);
// The jobs that burned or tried number and the number's own entry, as JSON.
std::string SerialSearchJson(const std::vector<JobRecord>& records, const std::vector<SerialEntry>& serials,
                             uint32_t number, uint64_t nowUnixMs);
