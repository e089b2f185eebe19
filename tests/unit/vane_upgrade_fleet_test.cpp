// Several targets at once: the event lines of each target's run read back,
// the summary, each run's command line, station mode's ports, and the
// supervisor over runs of a stand-in program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include "backup_folder_files.h"
#include "operations/kept_bytes.h"
#include "platform/portable/command_line_quoting.h"
#include "programs/vane_upgrade/station/supervisor.h"
#include "programs/vane_upgrade/station/station_plan.h"
#include "programs/vane_upgrade/output/target_events.h"

namespace fs = std::filesystem;

namespace {

const std::string kHead = R"({"v":1,"time":"2026-12-08T10:45:12.345Z","port":"1-1.4",)";

TargetEvent Event(const std::string& rest)
{
    const std::optional<TargetEvent> e = ParseTargetEvent(kHead + rest);
    EXPECT_TRUE(e) << rest;
    return e.value_or(TargetEvent{});
}

TEST(TargetEvents, ARecordedRunReadBack)
{
    TargetProgress target("1-1.4", 1000);
    EXPECT_EQ(target.Apply(Event(R"("event":"status","text":"Connected"})")), "Status: Connected");
    EXPECT_EQ(target.Apply(Event(R"("event":"version","text":"Current version:Vane_TX_V1020","version":"Vane_TX_V1020"})")),
              "Current version:Vane_TX_V1020");
    EXPECT_EQ(target.Apply(Event(R"("event":"step","text":"Write CODE to SPI Flash ..."})")), "Write CODE to SPI Flash ...");
    // Plain lines at each tenth only; the live line always shows the latest figure.
    EXPECT_EQ(target.Apply(Event(R"("event":"progress","phase":"write","percent":7,"bytes_per_second":1900000})")), std::nullopt);
    EXPECT_EQ(target.Apply(Event(R"("event":"progress","phase":"write","percent":61,"bytes_per_second":1900000,"seconds_left":3})")),
              "Progress:  60%  1.9 MB/s  0:03 left");
    EXPECT_EQ(target.LiveLine(200), "1-1.4     Write CODE to SPI Flash ...      61%  1.9 MB/s");
    EXPECT_EQ(target.LiveLine(12), "1-1.4     Wr");
    // A new step starts a new bar: its tenths are shown again.
    target.Apply(Event(R"("event":"step","text":"Data Compare..."})"));
    EXPECT_EQ(target.Apply(Event(R"("event":"progress","phase":"verify","percent":20})")), "Progress:  20%");
    EXPECT_EQ(target.Apply(Event(R"("event":"message","caption":"","text":"Compare Error!!"})")), "Message (): Compare Error!!");
    target.Apply(Event(R"("event":"version","text":"Current version:Vane_TX_V1030","version":"Vane_TX_V1030"})"));
    target.Apply(Event(R"("event":"result","outcome":"failed","exit_code":1,"text":"Compare\nError!!","seconds":4.5})"));
    target.Ended(1, "", 7500);
    const TargetSummary s = target.Summary();
    EXPECT_EQ(s.outcome, "failed");
    EXPECT_EQ(s.failure, "Compare Error!!");
    // Versions from the version lines when the result does not name them.
    EXPECT_EQ(s.versionBefore, "Vane_TX_V1020");
    EXPECT_EQ(s.versionAfter, "Vane_TX_V1030");
    EXPECT_DOUBLE_EQ(s.seconds, 6.5);
    EXPECT_EQ(target.LiveLine(200), "1-1.4     failed: Compare Error!!");

    // Not events: left for the display to show as they are.
    for (const char* line : {"", "Complete!", "{", "[1,2]", R"({"v":1,"port":"x"})", R"({"event":5})"})
        EXPECT_FALSE(ParseTargetEvent(line)) << line;
}

TEST(TargetEvents, HowARunEndedDecidesItsResult)
{
    // Completed only when the run says so and ends with 0.
    TargetProgress good("emu-1", 0);
    good.Apply(Event(R"("event":"result","outcome":"completed","exit_code":0,"text":"Complete!","version_before":"Vane_TX_V1020","version_after":"Vane_TX_V1030","serial":"1A2B"})"));
    good.Ended(0, "", 2000);
    EXPECT_TRUE(good.Summary().Completed());
    EXPECT_EQ(good.Summary().failure, "");
    EXPECT_EQ(good.Summary().serial, "1A2B");

    TargetProgress lying("emu-2", 0);
    lying.Apply(Event(R"("event":"result","outcome":"completed","exit_code":0,"text":"Complete!"})"));
    lying.Ended(134, "", 2000);
    EXPECT_FALSE(lying.Summary().Completed());
    EXPECT_NE(lying.Summary().failure.find("134"), std::string::npos);

    TargetProgress crashed("emu-3", 0);
    crashed.Ended(137, "the run ended by signal 9 (Killed)", 2000);
    EXPECT_EQ(crashed.Summary().outcome, "failed");
    EXPECT_EQ(crashed.Summary().failure, "the run ended by signal 9 (Killed)");

    // The line that stands in for a missing result reads back as one.
    const auto stand = ParseTargetEvent(MakeResultLine("emu-3", "failed", 137, "the run \"ended\"", 2.0, 1796726712345));
    ASSERT_TRUE(stand);
    EXPECT_EQ(stand->event, "result");
    EXPECT_EQ(stand->port, "emu-3");
    EXPECT_EQ(stand->exitCode, 137);
    EXPECT_EQ(stand->text, "the run \"ended\"");
    EXPECT_NE(MakeResultLine("p", "failed", 1, "", 0, 1796726712345).find(R"("time":"2026-12-08T10:45:12.345Z")"), std::string::npos);

    TargetProgress erased("emu-4", 0);
    erased.Apply(Event(R"("event":"result","outcome":"completed","exit_code":0,"version_before":"\ufffd\ufffd\u0001"})"));
    erased.Ended(0, "", 1000);
    const std::string table = FormatSummaryTable({good.Summary(), crashed.Summary(), erased.Summary()});
    EXPECT_NE(table.find("emu-4  ??? -> -"), std::string::npos) << table;
    EXPECT_NE(table.find("emu-1  Vane_TX_V1020 -> Vane_TX_V1030  1A2B"), std::string::npos) << table;
    EXPECT_NE(table.find("emu-3  - -> -"), std::string::npos) << table;
    EXPECT_NE(table.find("failed: the run ended by signal 9 (Killed)  0:02"), std::string::npos) << table;

    // The device is done, its record is not: completed all the same, and the row says where the record is.
    TargetProgress unstored("emu-5", 0);
    const auto complaint = unstored.Apply(Event(R"("event":"error","text":"the records store did not take the job's record"})"));
    EXPECT_EQ(complaint.value_or(""), "the records store did not take the job's record");
    unstored.Apply(Event(R"("event":"result","outcome":"completed","exit_code":4,"record":"not stored","unsaved_records":"/s/unsaved-records.jsonl"})"));
    unstored.Ended(4, "", 1000);
    EXPECT_TRUE(unstored.Summary().Completed());
    EXPECT_EQ(unstored.Summary().ResultText(), "completed, record not stored: /s/unsaved-records.jsonl");

    // Within a terminal's width: one line a row, a long result cut there and given whole below.
    TargetProgress kept("1-1.2", 0);
    const std::string note = "Compare Error!! The flash's bytes are kept in /home/operator/.local/state/vane-upgrade/kept/1-1.2.bin";
    kept.Apply(Event(R"("event":"result","outcome":"failed","exit_code":1,"text":")" + note + R"("})"));
    kept.Ended(1, "", 1000);
    const std::string narrow = FormatSummaryTable({good.Summary(), kept.Summary(), unstored.Summary()}, 80);
    size_t rowsSeen = 0;
    for (size_t at = 0, end; (end = narrow.find('\n', at)) != std::string::npos && end > at; at = end + 1, ++rowsSeen)
        EXPECT_LE(end - at, 80u) << narrow;
    EXPECT_EQ(rowsSeen, 4u) << narrow;
    EXPECT_NE(narrow.find("\n\n1-1.2: failed: " + note + "\n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("emu-5: completed, record not stored: /s/unsaved-records.jsonl\n"), std::string::npos) << narrow;
}

Options WithArguments(std::initializer_list<const char*> args)
{
    Options o;
    for (const char* a : args) o.arguments.emplace_back(a);
    return o;
}

TEST(FleetPlan, EachTargetsCommandLine)
{
    // The options of several targets go; the user's other options stay, in order.
    Options o = WithArguments({"--emulate-targets", "3", "--yes", "--emulate-fault", "fail:20@2", "--emulate-fault=busy:4",
                               "--emulate-flash-dir", "flash", "--log=log.txt", "upgrade", "img.fir", "--all",
                               "--records", "store.db", "--json"});
    o.emulate = true;
    o.emulateTargets = 3;
    o.emulateFlashDir = "flash";
    o.logFile = "log.txt";
    o.faults = {{FaultOption::Kind::Fail, 20, 2}, {FaultOption::Kind::Busy, 4, 0}};
    using Args = std::vector<std::string>;
    EXPECT_EQ(ChildArguments(o, "emu-2", 2),
              (Args{"--yes", "upgrade", "img.fir", "--records", "store.db", "--json", "--port-name", "emu-2", "--log",
                    "log.txt.emu-2", "--emulate", "--emulate-flash", "flash/emu-2.bin", "--emulate-fault", "fail:20",
                    "--emulate-fault", "busy:4"}));
    EXPECT_EQ(ChildArguments(o, "emu-1", 1),
              (Args{"--yes", "upgrade", "img.fir", "--records", "store.db", "--json", "--port-name", "emu-1", "--log",
                    "log.txt.emu-1", "--emulate", "--emulate-flash", "flash/emu-1.bin", "--emulate-fault", "busy:4"}));

    // The pages and the slot names stay with the supervisor.
    Options real = WithArguments({"--slots", "slots.txt", "--serve-token=0123456789abcdef", "upgrade", "--watch", "--serve",
                                  "0.0.0.0:8080", "--count", "5", "--serial-offset", "3F000", "--serial-file", "s.txt"});
    EXPECT_EQ(ChildArguments(real, "1-1.4", 0), (Args{"upgrade", "--serial-offset", "3F000", "--serial-file", "s.txt", "--json",
                                                      "--port-name", "1-1.4", "--device", "1-1.4"}));
    // A target known by its drive letter alone still gets a log file of its own.
    Options logged = WithArguments({"--log", "runs\\log.txt", "upgrade", "--all"});
    logged.logFile = "runs\\log.txt";
    EXPECT_EQ(ChildArguments(logged, "E:", 0),
              (Args{"upgrade", "--json", "--port-name", "E:", "--log", "runs\\log.txt.E_", "--device", "E:"}));

    // On Windows the arguments travel as one command line that the run splits
    // again: blanks, quotes and backslashes before a quote or at the end survive.
    EXPECT_EQ(WindowsCommandLine("C:\\Program Files\\vane-upgrade.exe",
                                 {"--device", "PCIROOT(0)#PCI(1400)#USB(3)", "", "my image.fir", "say \"hi\"",
                                  "C:\\images\\", "a\\\\\"b", "dir\\sub dir\\", "plain\\path"}),
              "\"C:\\Program Files\\vane-upgrade.exe\" --device PCIROOT(0)#PCI(1400)#USB(3) \"\" \"my image.fir\" "
              "\"say \\\"hi\\\"\" C:\\images\\ \"a\\\\\\\\\\\"b\" \"dir\\sub dir\\\\\" plain\\path");

    EXPECT_EQ(EmulatedIndex("emu-12"), 12u);
    EXPECT_EQ(EmulatedIndex("1-1.4"), 0u);
    EXPECT_EQ(EmulatedIndex("emu-x"), 0u);
    EXPECT_TRUE(NaturalLess("emu-2", "emu-10"));
    EXPECT_TRUE(NaturalLess("1-1.9", "1-1.10"));
    EXPECT_FALSE(NaturalLess("1-1.10", "1-1.10"));
    EXPECT_TRUE(NaturalLess("1-1", "1-1.2"));
}

TEST(FleetPlan, StationTouchesATargetAgainOnlyAfterItLeft)
{
    using Ports = std::vector<std::string>;
    StationPorts station;
    EXPECT_EQ(station.Seen({"1-1.2", "1-1.10", "1-1.3"}, 2), (Ports{"1-1.2", "1-1.3"}));
    EXPECT_EQ(station.Seen({"1-1.2", "1-1.10", "1-1.3"}, 5), (Ports{"1-1.10"}));
    // Its own job re-enumerates the target: gone and back while running is no departure.
    EXPECT_EQ(station.Seen({"1-1.10", "1-1.3"}, 5), Ports{});
    EXPECT_EQ(station.Seen({"1-1.2", "1-1.10", "1-1.3"}, 5), Ports{});
    station.JobEnded("1-1.2");
    EXPECT_EQ(station.Running(), 2u);
    // Still there after its job: not touched again.
    EXPECT_EQ(station.Seen({"1-1.2", "1-1.10", "1-1.3"}, 5), Ports{});
    // Seen empty after the job, then a new target at the port.
    EXPECT_EQ(station.Seen({"1-1.10", "1-1.3"}, 5), Ports{});
    EXPECT_EQ(station.Seen({"1-1.2", "1-1.10", "1-1.3"}, 5), (Ports{"1-1.2"}));

    EmulatedHub hub({"emu-1", "emu-2", "emu-3"}, 200, 1000);
    EXPECT_EQ(hub.Present(1000), (std::set<std::string>{"emu-1"}));
    EXPECT_EQ(hub.NextArrivalMs(1000), 1200u);
    EXPECT_EQ(hub.Present(1350), (std::set<std::string>{"emu-1", "emu-2"}));
    hub.Left("emu-1");
    EXPECT_EQ(hub.Present(1500), (std::set<std::string>{"emu-2", "emu-3"}));
    EXPECT_FALSE(hub.NextArrivalMs(1500));
    hub.Left("emu-2");
    EXPECT_FALSE(hub.Exhausted());
    hub.Left("emu-3");
    EXPECT_TRUE(hub.Exhausted());
}

// The runs of several targets share one backup folder for the bytes their
// jobs erase and write back.
class TakenMeanwhile final : public IFileSystem {
public:
    // Exists answers "no" once for path: another run creates it right after the look.
    TakenMeanwhile(IFileSystem& real, std::string path) : real_(real), path_(std::move(path)) {}
    std::unique_ptr<IFile> Open(const std::string& p, FileOpenMode m, std::string& e) override { return real_.Open(p, m, e); }
    bool ToLocalTime(int64_t t, std::tm& l) override { return real_.ToLocalTime(t, l); }
    std::string ProgramPath() override { return real_.ProgramPath(); }
    bool Remove(const std::string& p) override { return real_.Remove(p); }
    bool Rename(const std::string& f, const std::string& t) override { return real_.Rename(f, t); }
    bool CreateFolder(const std::string& p) override { return real_.CreateFolder(p); }
    bool RemoveFolder(const std::string& p) override { return real_.RemoveFolder(p); }
    std::string BackupFolder() override { return real_.BackupFolder(); }
    bool Exists(const std::string& p) override
    {
        if (p == path_ && !lied_) {
            lied_ = true;
            return false;
        }
        return real_.Exists(p);
    }

private:
    IFileSystem& real_;
    std::string path_;
    bool lied_ = false;
};

TEST(SharedFolder, TwoRunsNeverKeepTheirBytesInOneFile)
{
    const fs::path dir = fs::temp_directory_path() / ("vane-kept-" + std::to_string(::getpid()));
    FilesWithBackupFolder files((dir / "Backup").string());
    const uint8_t first[4] = {1, 1, 1, 1}, second[4] = {2, 2, 2, 2};
    KeptBytesCopy one(files);
    ASSERT_TRUE(one.Keep(0x40000, first, 4));
    TakenMeanwhile racing(files, one.Path());
    KeptBytesCopy other(racing);
    ASSERT_TRUE(other.Keep(0x40000, second, 4));
    EXPECT_NE(other.Path(), one.Path());
    // The first run's job succeeds: its copy goes, the other's stays as it was.
    one.Discard();
    std::ifstream kept(other.Path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string(4, '\x02'));
    other.Discard();
    fs::remove_all(dir);
}

// The supervisor over a stand-in program that writes what a target's run
// writes: emu-1 completes, emu-2 fails, emu-3 dies without a result.
class Supervisor : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vane-fleet-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        program_ = (dir_ / "run.sh").string();
        std::ofstream(program_) << R"(#!/bin/sh
port=""
while [ $# -gt 0 ]; do [ "$1" = --port-name ] && port=$2; shift; done
h="\"v\":1,\"time\":\"2026-12-08T10:45:12.345Z\",\"port\":\"$port\""
echo "{$h,\"event\":\"step\",\"text\":\"Write CODE to SPI Flash ...\"}"
echo "{$h,\"event\":\"progress\",\"phase\":\"write\",\"percent\":50}"
echo "said on $port" >&2
case $port in
emu-2) printf '%s\n' "{$h,\"event\":\"result\",\"outcome\":\"failed\",\"exit_code\":1,\"text\":\"Write fail\\nagain \\u001b[2J\"}"; exit 1;;
emu-3) kill -9 $$;;
esac
echo "{$h,\"event\":\"result\",\"outcome\":\"completed\",\"exit_code\":0,\"text\":\"Complete!\",\"version_before\":\"Vane_TX_V1020\",\"version_after\":\"Vane_TX_V1030\"}"
)";
        chmod(program_.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int Run(Options o)
    {
        o.emulate = true;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = RunFleet(o, program_);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return code;
    }
    bool Out(const std::string& text) const { return out_.find(text) != std::string::npos; }

    fs::path dir_;
    std::string program_, out_, err_;
};

TEST_F(Supervisor, EveryTargetEndsAndIsSummedUp)
{
    Options o = WithArguments({"upgrade", "--all"});
    o.all = true;
    o.emulateTargets = 3;
    EXPECT_EQ(Run(o), 1);
    EXPECT_TRUE(Out("emu-1: Write CODE to SPI Flash ...")) << out_;
    EXPECT_TRUE(Out("emu-2: Progress:  50%")) << out_;
    EXPECT_NE(err_.find("emu-3: said on emu-3"), std::string::npos) << err_;
    EXPECT_TRUE(Out("emu-1  Vane_TX_V1020 -> Vane_TX_V1030  -       completed")) << out_;
    EXPECT_TRUE(Out("emu-2  - -> -                          -       failed: Write fail")) << out_;
    EXPECT_TRUE(Out("emu-3  - -> -                          -       failed: the run ended by signal 9")) << out_;
    // A failure's text of several lines with an escape sequence: on one line, shown, not obeyed.
    EXPECT_TRUE(Out("emu-2: failed: Write fail again ?[2J\n")) << out_;
    EXPECT_EQ(out_.find('\x1b'), std::string::npos) << out_;

    // With --json only the runs' lines, and a result line for the run that wrote none.
    o.output = OutputMode::Json;
    EXPECT_EQ(Run(o), 1);
    size_t lines = 0, results = 0;
    std::istringstream in(out_);
    for (std::string line; std::getline(in, line); ++lines) {
        const auto e = ParseTargetEvent(line);
        ASSERT_TRUE(e) << line;
        if (e->event == "result") ++results;
    }
    EXPECT_EQ(lines, 9u) << out_;
    EXPECT_EQ(results, 3u) << out_;

    // Station mode: each arrives once and leaves when its run ends; --count ends it.
    o = WithArguments({"upgrade", "--watch"});
    o.output = OutputMode::Quiet;
    o.watch = true;
    o.emulateTargets = 3;
    o.arriveEveryMs = 50;
    o.count = 2;
    EXPECT_EQ(Run(o), 1);
    EXPECT_TRUE(Out("emu-1  Vane_TX_V1020")) << out_;
    EXPECT_TRUE(Out("emu-2  - -> -")) << out_;
    EXPECT_FALSE(Out("emu-3")) << out_;
    EXPECT_FALSE(Out("Write CODE")) << "quiet: " << out_;
}

// A run that never ends on a host of virtual time: every wait advances the
// clock by its length, so that the supervisor's limit comes without a real wait.
class HangingRunsHost final : public StationHost {
public:
    explicit HangingRunsHost(VirtualClock& clock) : clock_(clock) {}

    struct Run final : StationChild {
        explicit Run(HangingRunsHost& host) : host(host) {}
        bool Start(const std::string&, const std::vector<std::string>&, std::string&) override { return true; }
        void Collect() override {}
        LineSplitter& OutLines() override { return out; }
        LineSplitter& ErrLines() override { return err; }
        bool StreamsEnded() const override { return killed; }
        bool TryReap() override { return killed; }
        int ExitCode() const override { return 137; }
        const std::string& HowItEnded() const override { return how; }
        void Kill() override
        {
            killed = true;
            how = "ended by signal 9 (Killed)";
            host.killedAtMs = host.clock_.NowMs();
        }
        void PassInterrupt() override {}

        HangingRunsHost& host;
        LineSplitter out, err;
        bool killed = false;
        std::string how;
    };

    bool Start(std::string&) override { return true; }
    std::unique_ptr<StationChild> NewChild() override { return std::make_unique<Run>(*this); }
    bool WatchArrivals(std::string&) override { return false; }
    void StopWatching() override {}
    int Wait(const std::vector<StationChild*>& running, int waitMs, bool& arrived) override
    {
        clock_.Advance(static_cast<uint64_t>(waitMs));
        arrived = false;
        // A supervisor that never stops its runs would wait for ever: the host ends them after an hour.
        if (clock_.NowMs() > 60 * 60 * 1000) {
            gaveUp = true;
            for (StationChild* run : running) static_cast<Run*>(run)->killed = true;
        }
        return 0;
    }
    std::set<std::string> AttachedTargets(std::string& error) override
    {
        error.clear();
        return {"1-1"};
    }
    std::string OwnProgramPath() override { return "vane-upgrade"; }
    bool OutputIsTerminal() override { return false; }
    size_t TerminalWidth() override { return 80; }
    [[noreturn]] void EndNow(int) override { std::abort(); }

    uint64_t killedAtMs = 0;
    bool gaveUp = false;

private:
    VirtualClock& clock_;
};

TEST_F(Supervisor, AHungRunIsStoppedAtItsTimeLimitOnVirtualTime)
{
    Options o = WithArguments({"upgrade", "--all"});
    o.all = true;
    VirtualClock clock;
    HangingRunsHost host(clock);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = RunStation(o, host, clock);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(host.gaveUp) << "the supervisor never stopped the run";
    constexpr uint64_t kLimitMs = 15 * 60 * 1000;
    EXPECT_GE(host.killedAtMs, kLimitMs);
    EXPECT_LT(host.killedAtMs, kLimitMs + 1000) << "stopped promptly once its time is up";
    EXPECT_NE(err_.find("1-1: no end after 15:00; stopped"), std::string::npos) << err_;
    EXPECT_TRUE(Out("failed: no end after 15:00")) << out_;
}

} // namespace
