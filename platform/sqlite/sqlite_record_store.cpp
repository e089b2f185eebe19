#include "platform/sqlite/sqlite_record_store.h"

#include <sqlite3.h>

#include <chrono>
#include <optional>

#include "records/store_schema.h"

namespace {

// Long enough for a line of stations that all take a number at once.
constexpr int kBusyTimeoutMs = 30000;

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return ok_; }
    void Bind(int index, const std::string& text) { sqlite3_bind_text(stmt_, index, text.c_str(), -1, SQLITE_TRANSIENT); }
    void Bind(int index, long long value) { sqlite3_bind_int64(stmt_, index, value); }
    void BindNull(int index) { sqlite3_bind_null(stmt_, index); }
    // SQLITE_ROW or SQLITE_DONE; anything else is a failure.
    int Step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    std::string Text(int column)
    {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
    }
    long long Int(int column) { return sqlite3_column_int64(stmt_, column); }
    bool IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

uint64_t NowUnixMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace

std::unique_ptr<SqliteRecordStore> SqliteRecordStore::Open(const std::string& path, bool writing, std::string& error)
{
    sqlite3* db = nullptr;
    // Only a job's store is created: reading one that is not there says so.
    const int flags = writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    const int opened = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (opened != SQLITE_OK) {
        if (!writing && opened == SQLITE_CANTOPEN) error = "no records store at " + path;
        else error = std::string("cannot open ") + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SqliteRecordStore> store(new SqliteRecordStore(db, path));
    if (writing && sqlite3_db_readonly(db, "main") == 1) {
        error = "cannot open " + path + ": it can only be read";
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (!store->Migrate(writing, error)) return nullptr;
    return store;
}

SqliteRecordStore::~SqliteRecordStore() { sqlite3_close(db_); }

bool SqliteRecordStore::Fail(std::string& error)
{
    error = path_ + ": " + sqlite3_errmsg(db_);
    Rollback();
    return false;
}

void SqliteRecordStore::Rollback()
{
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteRecordStore::Exec(const char* sql, std::string& error)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(error);
    return true;
}

bool SqliteRecordStore::CheckReadable(std::string& error)
{
    // Read as it is: printing a store never creates or changes it.
    long long version = -1;
    {
        Statement read(db_, "SELECT version FROM schema_version");
        if (!read.Ok()) {
            error = path_ + ": not a records store";
            return false;
        }
        const int step = read.Step();
        if (step == SQLITE_ROW) version = read.Int(0);
        else if (step != SQLITE_DONE) return Fail(error);
    }
    if (version == kStoreSchemaVersion) return true;
    if (version > kStoreSchemaVersion)
        error = path_ + ": made by a newer vane-upgrade (schema " + std::to_string(version) + ", this one knows " +
                std::to_string(kStoreSchemaVersion) + ")";
    else
        error = path_ + ": not a records store, or one of an older vane-upgrade (a job with --records brings it up to date)";
    return false;
}

bool SqliteRecordStore::Migrate(bool writing, std::string& error)
{
    if (!writing) return CheckReadable(error);
    // Under the write lock: two programs that open a new file at once create it once.
    if (!Exec(writing ? "BEGIN IMMEDIATE" : "BEGIN", error) ||
        !Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error))
        return false;
    long long version = 0;
    {
        Statement read(db_, "SELECT version FROM schema_version");
        const int step = read.Step();
        if (step == SQLITE_ROW) version = read.Int(0);
        else if (step != SQLITE_DONE) return Fail(error);
        else if (!Exec("INSERT INTO schema_version (version) VALUES (0)", error)) return false;
    }
    if (version > kStoreSchemaVersion) {
        Rollback();
        error = path_ + ": made by a newer vane-upgrade (schema " + std::to_string(version) + ", this one knows " +
                std::to_string(kStoreSchemaVersion) + ")";
        return false;
    }
    const auto steps = SchemaSteps(SqlDialect::Sqlite);
    for (long long step = version; step < kStoreSchemaVersion; ++step) {
        for (const std::string& sql : steps[static_cast<size_t>(step)])
            if (!Exec(sql.c_str(), error)) return false;
        Statement bump(db_, "UPDATE schema_version SET version = ?");
        bump.Bind(1, step + 1);
        if (!bump.Run()) return Fail(error);
    }
    if (!Exec("COMMIT", error)) return false;
    return ProbeWrite(error);
}

bool SqliteRecordStore::ProbeWrite(std::string& error)
{
    // A record and a number written and rolled back on every opening: a file
    // that cannot be written (its folder refuses the journal, a trigger or a
    // full disk refuses the rows) is refused now, not after a job.
    if (!Exec("BEGIN IMMEDIATE", error) ||
        !Exec("INSERT INTO job_records (started_at, ended_at, station, port, command, version_before, version_after,"
              " image, image_sha256, serial_number, outcome, failure, duration_ms)"
              " VALUES ('', '', '', '', '', '', '', '', '', NULL, 'failed', '', 0)",
              error) ||
        !Exec("UPDATE serial_counter SET next_number = next_number WHERE id = 1", error))
        return false;
    Rollback();
    return true;
}

bool SqliteRecordStore::AddRecord(const JobRecord& r, std::string& error)
{
    Statement insert(db_,
                     "INSERT INTO job_records (started_at, ended_at, station, port, command, version_before,"
                     " version_after, image, image_sha256, serial_number, outcome, failure, duration_ms)"
                     " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    int i = 1;
    for (const std::string* text : {&r.startUtc, &r.endUtc, &r.station, &r.port, &r.command, &r.versionBefore,
                                    &r.versionAfter, &r.image, &r.imageSha256})
        insert.Bind(i++, *text);
    if (r.serial) insert.Bind(i++, static_cast<long long>(*r.serial));
    else insert.BindNull(i++);
    insert.Bind(i++, std::string(JobResultName(r.result)));
    insert.Bind(i++, r.failure);
    insert.Bind(i++, static_cast<long long>(r.durationMs));
    if (!insert.Run()) return Fail(error);
    return true;
}

bool SqliteRecordStore::ImportRecord(const JobRecord& r, std::optional<SerialState> serialState, bool& added,
                                     std::string& error)
{
    added = false;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    {
        Statement same(db_, "SELECT 1 FROM job_records WHERE started_at = ? AND station = ? AND port = ? AND command = ?");
        same.Bind(1, r.startUtc);
        same.Bind(2, r.station);
        same.Bind(3, r.port);
        same.Bind(4, r.command);
        const int step = same.Step();
        if (step == SQLITE_ROW) {
            Rollback();
            return true;
        }
        if (step != SQLITE_DONE) return Fail(error);
    }
    if (!AddRecord(r, error)) return false;
    if (r.serial && serialState) {
        const long long number = *r.serial;
        Statement enter(db_, "INSERT INTO serial_numbers (number, state, station, port, taken_at, reason)"
                             " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (number) DO UPDATE SET state = excluded.state,"
                             " reason = excluded.reason");
        enter.Bind(1, number);
        enter.Bind(2, std::string(SerialStateName(*serialState)));
        enter.Bind(3, r.station);
        enter.Bind(4, r.port);
        enter.Bind(5, r.startUtc);
        enter.Bind(6, r.failure);
        if (!enter.Run()) return Fail(error);
        Statement past(db_, "UPDATE serial_counter SET next_number = ? WHERE id = 1 AND next_number IS NOT NULL AND next_number <= ?");
        past.Bind(1, number + 1);
        past.Bind(2, number);
        if (!past.Run()) return Fail(error);
    }
    if (!Exec("COMMIT", error)) return false;
    added = true;
    return true;
}

bool SqliteRecordStore::ListRecords(std::vector<JobRecord>& records, std::string& error)
{
    Statement select(db_,
                     "SELECT started_at, ended_at, station, port, command, version_before, version_after, image,"
                     " image_sha256, serial_number, outcome, failure, duration_ms FROM job_records ORDER BY id");
    records.clear();
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
        JobRecord r;
        int c = 0;
        for (std::string* text : {&r.startUtc, &r.endUtc, &r.station, &r.port, &r.command, &r.versionBefore,
                                  &r.versionAfter, &r.image, &r.imageSha256})
            *text = select.Text(c++);
        if (!select.IsNull(c)) r.serial = static_cast<uint32_t>(select.Int(c));
        ++c;
        r.result = JobResultFromName(select.Text(c++)).value_or(JobResult::Failed);
        r.failure = select.Text(c++);
        r.durationMs = static_cast<uint64_t>(select.Int(c++));
        records.push_back(std::move(r));
    }
    if (step != SQLITE_DONE) return Fail(error);
    return true;
}

bool SqliteRecordStore::TakeSerial(const std::string& station, const std::string& port, uint32_t& number,
                                   std::string& error)
{
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    std::optional<long long> next;
    {
        Statement read(db_, "SELECT next_number FROM serial_counter WHERE id = 1");
        if (read.Step() != SQLITE_ROW) return Fail(error);
        if (!read.IsNull(0)) next = read.Int(0);
    }
    if (!next || *next > kLastSerialNumber) {
        Rollback();
        error = next ? "every series number up to FFFFFFFF was handed out" : "no next series number set (serial-next HEX)";
        return false;
    }
    Statement take(db_, "INSERT INTO serial_numbers (number, state, station, port, taken_at, reason) VALUES (?, ?, ?, ?, ?, '')");
    take.Bind(1, *next);
    take.Bind(2, std::string(SerialStateName(SerialState::Taken)));
    take.Bind(3, station);
    take.Bind(4, port);
    take.Bind(5, UtcText(NowUnixMs()));
    if (!take.Run()) return Fail(error);
    Statement advance(db_, "UPDATE serial_counter SET next_number = ? WHERE id = 1");
    advance.Bind(1, *next + 1);
    if (!advance.Run() || !Exec("COMMIT", error)) return Fail(error);
    number = static_cast<uint32_t>(*next);
    return true;
}

bool SqliteRecordStore::SettleSerial(uint32_t number, SerialState state, const std::string& reason, std::string& error)
{
    Statement settle(db_, "UPDATE serial_numbers SET state = ?, reason = ? WHERE number = ?");
    settle.Bind(1, std::string(SerialStateName(state)));
    settle.Bind(2, reason);
    settle.Bind(3, static_cast<long long>(number));
    if (!settle.Run()) return Fail(error);
    return true;
}

bool SqliteRecordStore::SetNextSerial(uint32_t next, bool& refused, std::string& error)
{
    refused = false;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    {
        Statement highest(db_, "SELECT MAX(number) FROM serial_numbers");
        if (highest.Step() != SQLITE_ROW) return Fail(error);
        if (!highest.IsNull(0) && static_cast<long long>(next) <= highest.Int(0)) {
            Rollback();
            refused = true;
            char text[64];
            std::snprintf(text, sizeof text, "numbers up to %llX were already handed out", static_cast<unsigned long long>(highest.Int(0)));
            error = text;
            return false;
        }
    }
    Statement set(db_, "UPDATE serial_counter SET next_number = ? WHERE id = 1");
    set.Bind(1, static_cast<long long>(next));
    if (!set.Run() || !Exec("COMMIT", error)) return Fail(error);
    return true;
}

bool SqliteRecordStore::HasNextSerial(bool& available, std::string& error)
{
    Statement read(db_, "SELECT next_number FROM serial_counter WHERE id = 1");
    if (read.Step() != SQLITE_ROW) return Fail(error);
    available = !read.IsNull(0) && read.Int(0) <= kLastSerialNumber;
    return true;
}

bool SqliteRecordStore::ListSerials(std::vector<SerialEntry>& serials, std::string& error)
{
    Statement select(db_, "SELECT number, state, station, port, taken_at, reason FROM serial_numbers ORDER BY number");
    serials.clear();
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
        SerialEntry s;
        s.number = static_cast<uint32_t>(select.Int(0));
        s.state = SerialStateFromName(select.Text(1)).value_or(SerialState::Taken);
        s.station = select.Text(2);
        s.port = select.Text(3);
        s.takenUtc = select.Text(4);
        s.reason = select.Text(5);
        serials.push_back(std::move(s));
    }
    if (step != SQLITE_DONE) return Fail(error);
    return true;
}
