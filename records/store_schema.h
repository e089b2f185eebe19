#pragma once
// The tables of a records store, the same for every backend apart from the
// spelling of an auto-numbered key. The database holds its schema version in
// schema_version; a store opens only when it is at kStoreSchemaVersion or can
// be migrated there (each step runs in the transaction that bumps the number).
#include <string>
#include <vector>

constexpr int kStoreSchemaVersion = 1;

enum class SqlDialect { Sqlite, Postgres };

// The statements that take a store from version i to i + 1 (element i).
std::vector<std::vector<std::string>> SchemaSteps(SqlDialect dialect);

// The largest series number; the counter passes it when the range is used up.
constexpr long long kLastSerialNumber = 0xFFFFFFFFLL;
