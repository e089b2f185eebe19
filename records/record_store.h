#pragma once
// The store of a production line: the record of every job and the series
// numbers that stations take from one shared counter. Implementations: an
// SQLite file (one machine) and a PostgreSQL server (several stations).
// Every call is one transaction; failures come back as false with a line of
// text, never as exceptions.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/job_record.h"

class IRecordStore {
public:
    virtual ~IRecordStore() = default;

    virtual bool AddRecord(const JobRecord& record, std::string& error) = 0;
    // A record kept while the store was away: added unless a record of the
    // same job (start, station, port, command) is there already (added =
    // false). Its series number is entered in serialState (when given; a
    // number the store never handed out is entered as well) and never
    // handed out again.
    virtual bool ImportRecord(const JobRecord& record, std::optional<SerialState> serialState, bool& added,
                              std::string& error) = 0;
    // Oldest first.
    virtual bool ListRecords(std::vector<JobRecord>& records, std::string& error) = 0;

    // Hands out the counter's number: in one transaction, under the store's
    // write lock, the number is entered as taken and the counter advanced, so
    // no other taker anywhere can receive it, whenever a process stops.
    // False (with error) when no next number was set or the range is used up.
    virtual bool TakeSerial(const std::string& station, const std::string& port, uint32_t& number, std::string& error) = 0;
    // Burned, or void with its reason; a number never returns to the counter.
    virtual bool SettleSerial(uint32_t number, SerialState state, const std::string& reason, std::string& error) = 0;
    // The next number to hand out; refused (false, refused = true) when it is
    // not above every number ever taken.
    virtual bool SetNextSerial(uint32_t next, bool& refused, std::string& error) = 0;
    // Whether a next number is set and the range is not used up.
    virtual bool HasNextSerial(bool& available, std::string& error) = 0;
    // In the order of the numbers.
    virtual bool ListSerials(std::vector<SerialEntry>& serials, std::string& error) = 0;
};
