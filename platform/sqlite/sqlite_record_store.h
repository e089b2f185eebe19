#pragma once
// The records store in an SQLite file: the embedded store of one machine.
// Several processes share the file; writers queue on its lock (BEGIN
// IMMEDIATE with a busy timeout), so each take of a series number sees the
// counter as the previous taker left it.
#include <memory>
#include <string>

#include "records/record_store.h"

struct sqlite3;

class SqliteRecordStore final : public IRecordStore {
public:
    // For writing: opens the file (created when missing), brings its schema
    // up to date and proves that it takes a record. For reading: opens a
    // store that exists, at this program's schema, and changes nothing.
    static std::unique_ptr<SqliteRecordStore> Open(const std::string& path, bool writing, std::string& error);
    ~SqliteRecordStore() override;

    bool AddRecord(const JobRecord& record, std::string& error) override;
    bool ImportRecord(const JobRecord& record, std::optional<SerialState> serialState, bool& added,
                      std::string& error) override;
    bool ListRecords(std::vector<JobRecord>& records, std::string& error) override;
    bool TakeSerial(const std::string& station, const std::string& port, uint32_t& number, std::string& error) override;
    bool SettleSerial(uint32_t number, SerialState state, const std::string& reason, std::string& error) override;
    bool SetNextSerial(uint32_t next, bool& refused, std::string& error) override;
    bool HasNextSerial(bool& available, std::string& error) override;
    bool ListSerials(std::vector<SerialEntry>& serials, std::string& error) override;

private:
    explicit SqliteRecordStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool Migrate(bool writing, std::string& error);
    bool CheckReadable(std::string& error);
    bool ProbeWrite(std::string& error);
    bool Exec(const char* sql, std::string& error);
    bool Fail(std::string& error);
    void Rollback();

    sqlite3* db_;
    std::string path_;
};
