#include "records/store_schema.h"

std::vector<std::vector<std::string>> SchemaSteps(SqlDialect dialect)
{
    const std::string autoKey =
        dialect == SqlDialect::Sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
    return {
        // 0 -> 1: records, the counter (one row; no next number until one is set), the numbers.
        {
            "CREATE TABLE job_records (id " + autoKey +
                ", started_at TEXT NOT NULL, ended_at TEXT NOT NULL, station TEXT NOT NULL, port TEXT NOT NULL,"
                " command TEXT NOT NULL, version_before TEXT NOT NULL, version_after TEXT NOT NULL,"
                " image TEXT NOT NULL, image_sha256 TEXT NOT NULL, serial_number BIGINT, outcome TEXT NOT NULL,"
                " failure TEXT NOT NULL, duration_ms BIGINT NOT NULL)",
            "CREATE TABLE serial_counter (id INTEGER PRIMARY KEY CHECK (id = 1), next_number BIGINT)",
            "INSERT INTO serial_counter (id, next_number) VALUES (1, NULL)",
            "CREATE TABLE serial_numbers (number BIGINT PRIMARY KEY, state TEXT NOT NULL, station TEXT NOT NULL,"
            " port TEXT NOT NULL, taken_at TEXT NOT NULL, reason TEXT NOT NULL)",
        },
    };
}
