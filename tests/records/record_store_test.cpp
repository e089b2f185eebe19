// The records store against a real database: an SQLite file, or the
// PostgreSQL server named by VANE_TEST_POSTGRES_URI (tests/records/with_postgres.sh).
// Series numbers are taken by separate processes, as stations take them.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "programs/vane_upgrade/record_store_access.h"
#include "programs/vane_upgrade/records_commands.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStations = 8;
constexpr int kTakesEach = 6;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class RecordStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        const std::string name = "store_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        if (Env("VANE_TEST_POSTGRES_URI").empty()) {
            dir_ = fs::temp_directory_path() / ("vane-records-" + name);
            fs::create_directories(dir_);
            location_ = (dir_ / "records.sqlite").string();
            return;
        }
        // A database of its own for each test.
        PGconn* admin = PQconnectdb(Env("VANE_TEST_POSTGRES_URI").c_str());
        ASSERT_EQ(PQstatus(admin), CONNECTION_OK) << PQerrorMessage(admin);
        PGresult* created = PQexec(admin, ("CREATE DATABASE " + name).c_str());
        EXPECT_EQ(PQresultStatus(created), PGRES_COMMAND_OK) << PQerrorMessage(admin);
        PQclear(created);
        PQfinish(admin);
        location_ = "postgresql:///" + name + "?host=" + Env("VANE_TEST_POSTGRES_DIR") + "&user=" +
                    Env("VANE_TEST_POSTGRES_USER");
    }
    void TearDown() override
    {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::unique_ptr<IRecordStore> Open()
    {
        std::string error;
        auto store = OpenRecordStore(location_, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    fs::path dir_;
    std::string location_;
};

// Runs body in a child process; its exit status (or the signal that ended it, negated).
template <typename Body>
pid_t Spawn(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

TEST_F(RecordStore, StationsTakingAtOnceNeverShareANumber)
{
    // The stations open the new store together (its tables are made once),
    // then wait until the first number is set and take theirs all at once.
    int opened[2], start[2], numbers[2];
    ASSERT_EQ(pipe(opened), 0);
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(numbers), 0);
    std::vector<pid_t> stations;
    for (int s = 0; s < kStations; ++s) {
        stations.push_back(Spawn([&, s] {
            close(start[1]);
            std::string error;
            auto store = OpenRecordStore(location_, error);
            const char ready = store ? 'y' : 'n';
            if (write(opened[1], &ready, 1) != 1 || !store) return 2;
            char go;
            if (read(start[0], &go, 1) != 0) return 3; // closed by the parent: go
            for (int t = 0; t < kTakesEach; ++t) {
                uint32_t number = 0;
                if (!store->TakeSerial("station-" + std::to_string(s), "1-1." + std::to_string(t), number, error)) return 4;
                if (!store->SettleSerial(number, t % 2 ? SerialState::Burned : SerialState::Void, "test", error)) return 5;
                if (write(numbers[1], &number, sizeof number) != sizeof number) return 6;
            }
            return 0;
        }));
    }
    close(start[0]);
    close(numbers[1]);
    for (int s = 0; s < kStations; ++s) {
        char ready = 0;
        ASSERT_EQ(read(opened[0], &ready, 1), 1);
        ASSERT_EQ(ready, 'y') << "a station could not open the new store";
    }
    auto store = Open();
    ASSERT_TRUE(store);
    bool refused = false;
    std::string error;
    ASSERT_TRUE(store->SetNextSerial(0x100, refused, error)) << error;
    close(start[1]);

    std::vector<uint32_t> taken;
    uint32_t number;
    while (read(numbers[0], &number, sizeof number) == sizeof number) taken.push_back(number);
    for (pid_t pid : stations) EXPECT_EQ(Wait(pid), 0);
    close(numbers[0]);
    close(opened[0]);
    close(opened[1]);

    ASSERT_EQ(taken.size(), static_cast<size_t>(kStations * kTakesEach));
    std::sort(taken.begin(), taken.end());
    for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(taken[i], 0x100 + i) << "handed out twice or skipped";
    std::vector<SerialEntry> entries;
    ASSERT_TRUE(store->ListSerials(entries, error)) << error;
    EXPECT_EQ(entries.size(), taken.size());
}

TEST_F(RecordStore, ANumberTakenIsNeverHandedOutAgain)
{
    // Reading where there is no store yet refuses, and creates none: a job's opening does.
    std::string why;
    EXPECT_FALSE(OpenRecordStore(location_, why, false));
    EXPECT_FALSE(OpenRecordStore(location_, why, false)) << "the first reading created a store";
    auto store = Open();
    ASSERT_TRUE(store);
    std::string error;
    uint32_t number = 0;
    EXPECT_FALSE(store->TakeSerial("a", "1-1", number, error));
    EXPECT_NE(error.find("serial-next"), std::string::npos) << error;
    bool refused = false;
    ASSERT_TRUE(store->SetNextSerial(0x10, refused, error)) << error;

    // A station killed between the take and the burn.
    const pid_t killed = Spawn([this] {
        std::string why;
        auto own = OpenRecordStore(location_, why);
        uint32_t n = 0;
        if (!own || !own->TakeSerial("killed", "1-2", n, why)) return 1;
        raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(Wait(killed), -SIGKILL);
    EXPECT_FALSE(store->SetNextSerial(0x10, refused, error));
    EXPECT_TRUE(refused) << error;
    ASSERT_TRUE(store->TakeSerial("a", "1-1", number, error)) << error;
    EXPECT_EQ(number, 0x11u);
    std::vector<SerialEntry> entries;
    ASSERT_TRUE(store->ListSerials(entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].state, SerialState::Taken);
    EXPECT_EQ(entries[0].station, "killed");
    EXPECT_NE(FormatSerials(entries, RecordsFormat::Csv).find("10,taken,killed,1-2,"), std::string::npos);
    EXPECT_NE(FormatSerials(entries, RecordsFormat::Csv).find(",no record of its job\r\n"), std::string::npos);

    // The killed station's record, kept in its file, comes back: once, and
    // its number takes the state it had on the transmitter.
    JobRecord kept;
    kept.startUtc = "2026-12-08T10:45:03.120Z";
    kept.station = "killed";
    kept.port = "1-2";
    kept.command = "upgrade";
    kept.serial = 0x10;
    kept.result = JobResult::Completed;
    std::optional<SerialState> state;
    ASSERT_TRUE(RecordFromJsonLine(RecordJsonLine(kept, "burned"), kept, state));
    bool added = false;
    for (bool first : {true, false}) {
        ASSERT_TRUE(store->ImportRecord(kept, state, added, error)) << error;
        EXPECT_EQ(added, first);
    }
    std::vector<JobRecord> records;
    ASSERT_TRUE(store->ListRecords(records, error)) << error;
    EXPECT_EQ(records.size(), 1u);
    ASSERT_TRUE(store->ListSerials(entries, error)) << error;
    EXPECT_EQ(entries[0].state, SerialState::Burned);

    // Moving the counter ahead is allowed; back to a number handed out is not.
    ASSERT_TRUE(store->SetNextSerial(0x20, refused, error)) << error;
    ASSERT_TRUE(store->TakeSerial("a", "1-1", number, error)) << error;
    EXPECT_EQ(number, 0x20u);
    EXPECT_FALSE(store->SetNextSerial(0x15, refused, error));
    EXPECT_TRUE(refused);
    ASSERT_TRUE(store->SetNextSerial(0x21, refused, error)) << error;

    // The end of the range.
    ASSERT_TRUE(store->SetNextSerial(0xFFFFFFFF, refused, error)) << error;
    ASSERT_TRUE(store->TakeSerial("a", "1-1", number, error)) << error;
    EXPECT_EQ(number, 0xFFFFFFFFu);
    EXPECT_FALSE(store->TakeSerial("a", "1-1", number, error));
    bool available = true;
    ASSERT_TRUE(store->HasNextSerial(available, error)) << error;
    EXPECT_FALSE(available);
}

TEST_F(RecordStore, RecordsKeepEveryFieldAndExportAsWritten)
{
    auto store = Open();
    ASSERT_TRUE(store);
    JobRecord failed;
    failed.startUtc = "2026-12-08T10:00:00.000Z";
    failed.endUtc = "2026-12-08T10:00:03.250Z";
    failed.station = "line 2, \"east\"";
    failed.port = "1-1.4";
    failed.command = "upgrade";
    failed.versionBefore = "Vane_TX_V1020";
    failed.image = "Data/Vane_TX_V1030.fir";
    failed.imageSha256 = std::string(64, 'a');
    failed.serial = 0xFFFFFFFF;
    failed.result = JobResult::Failed;
    failed.failure = "Write data to SPI Flash failed!!!\n  Because, it said so";
    failed.durationMs = 3250;
    JobRecord declined = failed;
    declined.serial.reset();
    declined.result = JobResult::Declined;
    std::string error;
    ASSERT_TRUE(store->AddRecord(failed, error)) << error;
    ASSERT_TRUE(store->AddRecord(declined, error)) << error;

    std::vector<JobRecord> records;
    ASSERT_TRUE(store->ListRecords(records, error)) << error;
    ASSERT_EQ(records.size(), 2u);
    const JobRecord& back = records[0];
    EXPECT_EQ(back.station, failed.station);
    EXPECT_EQ(back.failure, failed.failure);
    EXPECT_EQ(back.serial, failed.serial);
    EXPECT_EQ(back.result, JobResult::Failed);
    EXPECT_EQ(back.durationMs, 3250u);
    EXPECT_EQ(back.endUtc, failed.endUtc);
    EXPECT_FALSE(records[1].serial);
    EXPECT_EQ(records[1].result, JobResult::Declined);

    const std::string csv = FormatRecords(records, RecordsFormat::Csv);
    EXPECT_NE(csv.find("\"line 2, \"\"east\"\"\",1-1.4,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",FFFFFFFF,failed,\"Write data to SPI Flash failed!!!\n  Because, it said so\",3250\r\n"),
              std::string::npos) << csv;
    const nlohmann::json json = nlohmann::json::parse(FormatRecords(records, RecordsFormat::Json));
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["serial_number"], "FFFFFFFF");
    EXPECT_TRUE(json[1]["serial_number"].is_null());
    EXPECT_EQ(json[1]["outcome"], "declined");
    EXPECT_EQ(json[0]["failure"], failed.failure);
}

TEST_F(RecordStore, TheTableShowsWhatAnotherToolWroteOnOneLineWithoutEscapes)
{
    auto store = Open();
    ASSERT_TRUE(store);
    JobRecord hostile;
    hostile.startUtc = "2026-12-08T10:00:00.000Z";
    hostile.station = "bench\x1b]0;owned\x07-3\x1b[2J";
    hostile.port = "1-1.4\r";
    hostile.command = "upgrade";
    hostile.versionBefore = "\x1b[31m";   // not a version: unknown
    hostile.versionAfter = "Vane_TX_V1030";
    hostile.result = JobResult::Failed;
    hostile.failure = "first line\nsecond line\tand a \xc2\x9b""31m C1 sequence";
    std::string error;
    ASSERT_TRUE(store->AddRecord(hostile, error)) << error;
    std::vector<JobRecord> records;
    ASSERT_TRUE(store->ListRecords(records, error)) << error;
    ASSERT_EQ(records.size(), 1u);

    const std::string table = FormatRecords(records, RecordsFormat::Table);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2) << table;
    EXPECT_EQ(table.find_first_of("\x1b\x07\r\t"), std::string::npos) << table;
    EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos) << table;
    EXPECT_NE(table.find("first line second line"), std::string::npos) << table;
    EXPECT_NE(table.find(" - "), std::string::npos) << "the unknown version is shown as -:\n" << table;
    EXPECT_NE(table.find("Vane_TX_V1030"), std::string::npos) << table;
    // The export formats keep the fields as stored.
    EXPECT_EQ(nlohmann::json::parse(FormatRecords(records, RecordsFormat::Json))[0]["station"], hostile.station);
}

} // namespace
