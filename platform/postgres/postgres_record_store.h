#pragma once
// The records store on a PostgreSQL server: several stations share its
// records and its counter of series numbers. A take locks the counter's row
// (SELECT ... FOR UPDATE) for the length of its transaction.
#include <memory>
#include <string>

#include "records/record_store.h"

struct pg_conn;

class PostgresRecordStore final : public IRecordStore {
public:
    // Whether uri is a connection URI libpq can read; the reason when not,
    // without the parts of the URI it quotes.
    static bool CheckUri(const std::string& uri, std::string& problem);
    // The store as messages name it: its hosts, ports, database and service,
    // never a user's password (nor anything else of the URI's user part).
    static std::string ShownName(const std::string& uri);
    // Connects and brings the schema up to date; for writing, a database
    // the user may not write is refused.
    static std::unique_ptr<PostgresRecordStore> Open(const std::string& uri, bool writing, std::string& error);
    ~PostgresRecordStore() override;

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
    explicit PostgresRecordStore(pg_conn* conn) : conn_(conn) {}
    bool Migrate(bool writing, std::string& error);

    pg_conn* conn_;
};
