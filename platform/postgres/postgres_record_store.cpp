#include "platform/postgres/postgres_record_store.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "records/store_schema.h"

namespace {

// Unless the URI says otherwise: a server that does not answer is given up
// before a station's worker wonders what happens.
constexpr const char* kConnectTimeoutSeconds = "10";
// Any constant: the key of the lock that serialises schema changes.
constexpr const char* kSchemaLockKey = "7391046";

class Result {
public:
    explicit Result(PGresult* result) : result_(result) {}
    ~Result() { PQclear(result_); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool Ok() const
    {
        const ExecStatusType status = PQresultStatus(result_);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    int Rows() const { return PQntuples(result_); }
    bool IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
    std::string Text(int row, int column) const { return PQgetvalue(result_, row, column); }
    long long Int(int row, int column) const { return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10); }

private:
    PGresult* result_;
};

std::string OneLine(const char* message)
{
    // libpq's messages run over several indented lines: one line, single spaces.
    std::string text;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank) text += *c;
        else if (!text.empty() && text.back() != ' ') text += ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

uint64_t NowUnixMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

void IgnoreNotice(void*, const char*) {}

std::vector<std::string> SplitAtCommas(const std::string& text)
{
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

// The values the URI gives, percent-decoded, by keyword.
std::map<std::string, std::string> UriValues(const std::string& uri)
{
    std::map<std::string, std::string> values;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), nullptr);
    if (options == nullptr) return values;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o)
        if (o->val != nullptr) values[o->keyword] = o->val;
    PQconninfoFree(options);
    return values;
}

// A password holding an '@' that was not percent-encoded ends up partly in
// the host ("user:p@ss@host" has the host "ss@host"): a host name never
// holds one (a leading one names an abstract socket). What comes before it
// is masked; the '@' stays, the fault to mend.
std::string ShownHost(const std::string& host)
{
    const size_t at = host.rfind('@');
    return at == std::string::npos || at == 0 ? host : "***" + host.substr(at);
}

// Where libpq's messages name a host that carries part of a password.
std::string WithShownHosts(std::string text, const std::string& uri)
{
    const auto values = UriValues(uri);
    for (const char* key : {"host", "hostaddr"}) {
        const auto it = values.find(key);
        if (it == values.end()) continue;
        for (const std::string& host : SplitAtCommas(it->second)) {
            if (ShownHost(host) == host) continue;
            const std::string shown = ShownHost(host);
            for (size_t at = text.find(host); at != std::string::npos; at = text.find(host, at + shown.size()))
                text.replace(at, host.size(), shown);
        }
    }
    return text;
}

} // namespace

std::string PostgresRecordStore::ShownName(const std::string& uri)
{
    const std::string scheme = uri.substr(0, uri.find("://") + 3);
    std::string problem;
    if (!CheckUri(uri, problem)) return scheme + "...";
    auto values = UriValues(uri);
    const std::string hostList = values.count("host") > 0 ? values["host"] : values["hostaddr"];
    std::vector<std::string> hosts = hostList.empty() ? std::vector<std::string>() : SplitAtCommas(hostList);
    const std::vector<std::string> ports = values["port"].empty() ? std::vector<std::string>() : SplitAtCommas(values["port"]);
    bool socketFolder = false;
    for (std::string& host : hosts) {
        host = ShownHost(host);
        socketFolder = socketFolder || host.starts_with('/');
    }
    std::string authority, query;
    if (socketFolder) {
        // A socket folder reads better as a parameter than percent-encoded.
        query = "host=";
        for (size_t i = 0; i < hosts.size(); ++i) query += (i > 0 ? "," : "") + hosts[i];
        if (!values["port"].empty()) query += "&port=" + values["port"];
    } else if (hosts.empty() && !ports.empty()) {
        authority = ":" + values["port"];
    } else {
        for (size_t i = 0; i < hosts.size(); ++i) {
            if (i > 0) authority += ',';
            authority += hosts[i].find(':') != std::string::npos ? "[" + hosts[i] + "]" : hosts[i];
            const std::string& port = ports.size() == 1 ? ports[0] : i < ports.size() ? ports[i] : std::string();
            if (!port.empty()) authority += ":" + port;
        }
    }
    if (!values["service"].empty()) query += (query.empty() ? "" : "&") + std::string("service=") + values["service"];
    return scheme + authority + "/" + values["dbname"] + (query.empty() ? "" : "?" + query);
}

bool PostgresRecordStore::CheckUri(const std::string& uri, std::string& problem)
{
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &message);
    if (options == nullptr) {
        problem = message != nullptr ? OneLine(message) : "cannot be read";
        PQfreemem(message);
        // libpq quotes what it could not read: the URI, a token of it, a
        // password among them. An unknown parameter's name is kept; nothing
        // that could be a value is.
        const size_t quoted = problem.find(": \"");
        if (quoted != std::string::npos && !problem.starts_with("invalid URI query parameter")) problem.erase(quoted);
        return false;
    }
    PQconninfoFree(options);
    return true;
}

std::unique_ptr<PostgresRecordStore> PostgresRecordStore::Open(const std::string& uri, bool writing, std::string& error)
{
    // Later keywords win: a connect_timeout in the URI replaces the default.
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {kConnectTimeoutSeconds, uri.c_str(), nullptr};
    pg_conn* conn = PQconnectdbParams(keys, values, 1);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
        error = "cannot connect: " +
                (conn != nullptr ? WithShownHosts(OneLine(PQerrorMessage(conn)), uri) : std::string("out of memory"));
        PQfinish(conn);
        return nullptr;
    }
    PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
    std::unique_ptr<PostgresRecordStore> store(new PostgresRecordStore(conn));
    if (!store->Migrate(writing, error)) return nullptr;
    return store;
}

PostgresRecordStore::~PostgresRecordStore() { PQfinish(conn_); }

namespace {

class Session {
public:
    explicit Session(pg_conn* conn) : conn_(conn) {}
    ~Session()
    {
        if (open_) PQclear(PQexec(conn_, "ROLLBACK"));
    }

    std::unique_ptr<Result> Run(const std::string& sql, const std::vector<std::string>& params = {},
                                const std::vector<bool>& nulls = {})
    {
        std::vector<const char*> values;
        for (size_t i = 0; i < params.size(); ++i)
            values.push_back(i < nulls.size() && nulls[i] ? nullptr : params[i].c_str());
        auto result = std::make_unique<Result>(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()),
                                                            nullptr, values.data(), nullptr, nullptr, 0));
        return result;
    }
    bool Do(const std::string& sql, const std::vector<std::string>& params = {}, const std::vector<bool>& nulls = {})
    {
        return Run(sql, params, nulls)->Ok();
    }
    bool Begin() { return open_ = Do("BEGIN"); }
    bool Commit()
    {
        open_ = false;
        return Do("COMMIT");
    }
    // The server's message without the statement it quotes.
    std::string Error() const
    {
        std::string text = PQerrorMessage(conn_);
        text = text.substr(0, text.find("\nLINE "));
        return "PostgreSQL: " + OneLine(text.c_str());
    }

private:
    pg_conn* conn_;
    bool open_ = false;
};

std::string Number(long long value) { return std::to_string(value); }

} // namespace

bool PostgresRecordStore::Migrate(bool writing, std::string& error)
{
    Session s(conn_);
    if (!s.Begin() || !s.Do(std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")")) {
        error = s.Error();
        return false;
    }
    // Created only when missing: a station whose user may not create tables
    // still opens a store that exists.
    auto exists = s.Run("SELECT to_regclass('schema_version') IS NOT NULL");
    if (!exists->Ok() || exists->Rows() != 1) {
        error = s.Error();
        return false;
    }
    // Printing a store never creates or changes it.
    if (!writing && exists->Text(0, 0) != "t") {
        error = "the database holds no records store";
        return false;
    }
    if (exists->Text(0, 0) != "t" && !s.Do("CREATE TABLE schema_version (version INTEGER NOT NULL)")) {
        error = s.Error();
        return false;
    }
    auto read = s.Run("SELECT version FROM schema_version");
    if (!read->Ok()) {
        error = s.Error();
        return false;
    }
    long long version = 0;
    if (read->Rows() > 0) version = read->Int(0, 0);
    else if (writing && !s.Do("INSERT INTO schema_version (version) VALUES (0)")) {
        error = s.Error();
        return false;
    }
    if (version > kStoreSchemaVersion) {
        error = "the database was made by a newer vane-upgrade (schema " + Number(version) + ", this one knows " +
                Number(kStoreSchemaVersion) + ")";
        return false;
    }
    if (!writing && version < kStoreSchemaVersion) {
        error = "the database holds no records store, or one of an older vane-upgrade (a job with --records brings it up to date)";
        return false;
    }
    const auto steps = SchemaSteps(SqlDialect::Postgres);
    for (long long step = version; step < kStoreSchemaVersion; ++step) {
        for (const std::string& sql : steps[static_cast<size_t>(step)])
            if (!s.Do(sql)) {
                error = s.Error();
                return false;
            }
        if (!s.Do("UPDATE schema_version SET version = $1", {Number(step + 1)})) {
            error = s.Error();
            return false;
        }
    }
    // A store this station cannot write is refused now, not after a job.
    auto writable = s.Run("SELECT has_table_privilege('job_records', 'INSERT')"
                          " AND has_table_privilege('serial_numbers', 'INSERT, UPDATE')"
                          " AND has_table_privilege('serial_counter', 'SELECT, UPDATE')"
                          " AND current_setting('transaction_read_only') = 'off'");
    if (!writable->Ok() || writable->Rows() != 1) {
        error = s.Error();
        return false;
    }
    if (writing && writable->Text(0, 0) != "t") {
        error = "the database user may not write the records (or the server is read-only)";
        return false;
    }
    // Rights are not all: a record and a number written and rolled back
    // prove that the store takes them (a trigger, a policy, a full disk).
    if (writing &&
        (!s.Do("SAVEPOINT probe") ||
         !s.Do("INSERT INTO job_records (started_at, ended_at, station, port, command, version_before, version_after,"
               " image, image_sha256, serial_number, outcome, failure, duration_ms)"
               " VALUES ('', '', '', '', '', '', '', '', '', NULL, 'failed', '', 0)") ||
         !s.Do("UPDATE serial_counter SET next_number = next_number WHERE id = 1") ||
         !s.Do("ROLLBACK TO SAVEPOINT probe"))) {
        error = s.Error();
        return false;
    }
    if (!s.Commit()) {
        error = s.Error();
        return false;
    }
    return true;
}

namespace {

bool InsertRecord(Session& s, const JobRecord& r)
{
    const std::vector<std::string> params = {r.startUtc, r.endUtc, r.station, r.port, r.command, r.versionBefore,
                                             r.versionAfter, r.image, r.imageSha256,
                                             r.serial ? Number(*r.serial) : std::string(), JobResultName(r.result),
                                             r.failure, Number(static_cast<long long>(r.durationMs))};
    std::vector<bool> nulls(params.size(), false);
    nulls[9] = !r.serial;
    return s.Do("INSERT INTO job_records (started_at, ended_at, station, port, command, version_before, version_after,"
                " image, image_sha256, serial_number, outcome, failure, duration_ms)"
                " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13)",
                params, nulls);
}

} // namespace

bool PostgresRecordStore::AddRecord(const JobRecord& r, std::string& error)
{
    Session s(conn_);
    if (!InsertRecord(s, r)) {
        error = s.Error();
        return false;
    }
    return true;
}

bool PostgresRecordStore::ImportRecord(const JobRecord& r, std::optional<SerialState> serialState, bool& added,
                                       std::string& error)
{
    added = false;
    Session s(conn_);
    // Under the counter's lock: two imports of one file add its records once.
    if (!s.Begin() || !s.Do("SELECT next_number FROM serial_counter WHERE id = 1 FOR UPDATE")) {
        error = s.Error();
        return false;
    }
    auto same = s.Run("SELECT 1 FROM job_records WHERE started_at = $1 AND station = $2 AND port = $3 AND command = $4",
                      {r.startUtc, r.station, r.port, r.command});
    if (!same->Ok()) {
        error = s.Error();
        return false;
    }
    if (same->Rows() > 0) return true;
    if (!InsertRecord(s, r)) {
        error = s.Error();
        return false;
    }
    if (r.serial && serialState) {
        const std::string number = Number(*r.serial);
        if (!s.Do("INSERT INTO serial_numbers (number, state, station, port, taken_at, reason) VALUES ($1, $2, $3, $4, $5, $6)"
                  " ON CONFLICT (number) DO UPDATE SET state = excluded.state, reason = excluded.reason",
                  {number, SerialStateName(*serialState), r.station, r.port, r.startUtc, r.failure}) ||
            !s.Do("UPDATE serial_counter SET next_number = $1::bigint + 1 WHERE id = 1 AND next_number <= $1::bigint", {number})) {
            error = s.Error();
            return false;
        }
    }
    if (!s.Commit()) {
        error = s.Error();
        return false;
    }
    added = true;
    return true;
}

bool PostgresRecordStore::ListRecords(std::vector<JobRecord>& records, std::string& error)
{
    Session s(conn_);
    auto rows = s.Run("SELECT started_at, ended_at, station, port, command, version_before, version_after, image,"
                      " image_sha256, serial_number, outcome, failure, duration_ms FROM job_records ORDER BY id");
    if (!rows->Ok()) {
        error = s.Error();
        return false;
    }
    records.clear();
    for (int row = 0; row < rows->Rows(); ++row) {
        JobRecord r;
        int c = 0;
        for (std::string* text : {&r.startUtc, &r.endUtc, &r.station, &r.port, &r.command, &r.versionBefore,
                                  &r.versionAfter, &r.image, &r.imageSha256})
            *text = rows->Text(row, c++);
        if (!rows->IsNull(row, c)) r.serial = static_cast<uint32_t>(rows->Int(row, c));
        ++c;
        r.result = JobResultFromName(rows->Text(row, c++)).value_or(JobResult::Failed);
        r.failure = rows->Text(row, c++);
        r.durationMs = static_cast<uint64_t>(rows->Int(row, c++));
        records.push_back(std::move(r));
    }
    return true;
}

bool PostgresRecordStore::TakeSerial(const std::string& station, const std::string& port, uint32_t& number,
                                     std::string& error)
{
    Session s(conn_);
    if (!s.Begin()) {
        error = s.Error();
        return false;
    }
    auto counter = s.Run("SELECT next_number FROM serial_counter WHERE id = 1 FOR UPDATE");
    if (!counter->Ok() || counter->Rows() != 1) {
        error = s.Error();
        return false;
    }
    if (counter->IsNull(0, 0) || counter->Int(0, 0) > kLastSerialNumber) {
        error = counter->IsNull(0, 0) ? "no next series number set (serial-next HEX)"
                                      : "every series number up to FFFFFFFF was handed out";
        return false;
    }
    const long long next = counter->Int(0, 0);
    if (!s.Do("INSERT INTO serial_numbers (number, state, station, port, taken_at, reason) VALUES ($1, $2, $3, $4, $5, '')",
              {Number(next), SerialStateName(SerialState::Taken), station, port, UtcText(NowUnixMs())}) ||
        !s.Do("UPDATE serial_counter SET next_number = $1 WHERE id = 1", {Number(next + 1)}) || !s.Commit()) {
        error = s.Error();
        return false;
    }
    number = static_cast<uint32_t>(next);
    return true;
}

bool PostgresRecordStore::SettleSerial(uint32_t number, SerialState state, const std::string& reason, std::string& error)
{
    Session s(conn_);
    if (!s.Do("UPDATE serial_numbers SET state = $1, reason = $2 WHERE number = $3",
              {SerialStateName(state), reason, Number(number)})) {
        error = s.Error();
        return false;
    }
    return true;
}

bool PostgresRecordStore::SetNextSerial(uint32_t next, bool& refused, std::string& error)
{
    refused = false;
    Session s(conn_);
    if (!s.Begin() || !s.Do("SELECT next_number FROM serial_counter WHERE id = 1 FOR UPDATE")) {
        error = s.Error();
        return false;
    }
    auto highest = s.Run("SELECT MAX(number) FROM serial_numbers");
    if (!highest->Ok()) {
        error = s.Error();
        return false;
    }
    if (!highest->IsNull(0, 0) && static_cast<long long>(next) <= highest->Int(0, 0)) {
        refused = true;
        char text[64];
        std::snprintf(text, sizeof text, "numbers up to %llX were already handed out", static_cast<unsigned long long>(highest->Int(0, 0)));
        error = text;
        return false;
    }
    if (!s.Do("UPDATE serial_counter SET next_number = $1 WHERE id = 1", {Number(next)}) || !s.Commit()) {
        error = s.Error();
        return false;
    }
    return true;
}

bool PostgresRecordStore::HasNextSerial(bool& available, std::string& error)
{
    Session s(conn_);
    auto counter = s.Run("SELECT next_number FROM serial_counter WHERE id = 1");
    if (!counter->Ok() || counter->Rows() != 1) {
        error = s.Error();
        return false;
    }
    available = !counter->IsNull(0, 0) && counter->Int(0, 0) <= kLastSerialNumber;
    return true;
}

bool PostgresRecordStore::ListSerials(std::vector<SerialEntry>& serials, std::string& error)
{
    Session s(conn_);
    auto rows = s.Run("SELECT number, state, station, port, taken_at, reason FROM serial_numbers ORDER BY number");
    if (!rows->Ok()) {
        error = s.Error();
        return false;
    }
    serials.clear();
    for (int row = 0; row < rows->Rows(); ++row) {
        SerialEntry e;
        e.number = static_cast<uint32_t>(rows->Int(row, 0));
        e.state = SerialStateFromName(rows->Text(row, 1)).value_or(SerialState::Taken);
        e.station = rows->Text(row, 2);
        e.port = rows->Text(row, 3);
        e.takenUtc = rows->Text(row, 4);
        e.reason = rows->Text(row, 5);
        serials.push_back(std::move(e));
    }
    return true;
}
