// The fault matrix: each job's clean wire trace, then for every position k in
// it a run with (a) the k-th command failing at the transport, (b) the target
// leaving the bus before it, (c) one byte of its reply flipped, (d) a status
// that never clears (an erase that never finishes, a non-zero final status).
// Every run is checked, then a clean run on the same target must succeed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "fault_matrix/matrix_jobs.h"

namespace {

struct FaultCase {
    FaultCase(std::string k, size_t p) : kind(std::move(k)), position(p) {}
    std::string kind;
    size_t position = 0;       // 0-based in the clean trace
    FaultPlan plan;            // command numbers relative to the run's first command
    uint64_t finalStatusFrom = 0;
    int finalStatus = 1;
};

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        size_t next = line.find(' ', at);
        if (next == std::string::npos) next = line.size();
        if (next > at) words.push_back(line.substr(at, next - at));
        at = next + 1;
    }
    return words;
}

std::vector<FaultCase> CasesOf(const std::vector<std::string>& trace)
{
    std::vector<FaultCase> cases;
    std::string lastFlashStep; // "72" or "8b": what the status now reports on
    for (size_t p = 0; p < trace.size(); ++p) {
        const uint64_t k = p + 1;
        const std::vector<std::string> w = Words(trace[p]);
        const std::string sub = w.at(1);
        const bool in = w.at(10) == "in";
        const uint32_t length = static_cast<uint32_t>(std::stoul(w.at(11)));

        FaultCase fail("fail", p);
        fail.plan.failCommand = k;
        cases.push_back(fail);
        FaultCase leave("leave", p);
        leave.plan.leaveBeforeCommand = k;
        cases.push_back(leave);
        if (in && length > 0) {
            FaultCase flip("flip", p);
            flip.plan.flipReadAt = k;
            cases.push_back(flip);
            if (sub == "71" && length > 1) {
                flip.kind = "flip-last";
                flip.plan.flipOffset = length - 1;
                cases.push_back(flip);
            }
        }
        if (sub == "8b") {
            FaultCase erase("erase-busy", p);
            erase.plan.eraseNeverFinishesAt = k;
            cases.push_back(erase);
        }
        if (sub == "89" && lastFlashStep == "72") {
            FaultCase status("final-status", p);
            status.finalStatusFrom = k;
            cases.push_back(status);
        }
        if (sub == "72" || sub == "8b") lastFlashStep = sub;
    }
    // The signature refusal for the whole run.
    FaultCase signature("signature", 0);
    signature.finalStatusFrom = 1;
    signature.finalStatus = 2;
    cases.push_back(signature);
    return cases;
}

struct MatrixResult {
    size_t tried = 0, passed = 0, positions = 0;
    uint64_t longestRunMs = 0;
    std::vector<std::string> reconnected; // cases after which the user had to press Re-Connect
    std::vector<std::string> failures;
};

// VANE_MATRIX_CASE="kind:position" runs one case only (for debugging).
bool Selected(const FaultCase& c)
{
    const char* only = std::getenv("VANE_MATRIX_CASE");
    return only == nullptr || c.kind + ":" + std::to_string(c.position) == only;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
    return text;
}

MatrixResult RunMatrix(const MatrixJob& job)
{
    MatrixResult result;
    std::vector<std::string> trace;
    {
        auto rig = MakeJobRig(job);
        const RunStart start = BeginRun(*rig, job);
        const RunEnd end = PressAndWait(*rig, start);
        std::vector<std::string> v = CheckCleanRun(*rig, job, start, end);
        if (!v.empty()) {
            result.failures.push_back("clean run: " + Joined(v));
            return result;
        }
        std::vector<std::string> all = rig->target.Trace();
        trace.assign(all.begin() + static_cast<long>(start.traceLength), all.end());
    }
    result.positions = trace.size();
    const auto windows = job.keptWindows ? job.keptWindows(trace) : std::vector<std::pair<size_t, size_t>>{};

    for (const FaultCase& c : CasesOf(trace)) {
        if (!Selected(c)) continue;
        ++result.tried;
        auto rig = MakeJobRig(job);
        const uint64_t base = rig->target.CommandCount();
        FaultPlan plan = c.plan;
        auto absolute = [base](uint64_t& k) {
            if (k != 0) k += base;
        };
        absolute(plan.failCommand);
        absolute(plan.leaveBeforeCommand);
        absolute(plan.flipReadAt);
        absolute(plan.eraseNeverFinishesAt);
        rig->target.SetFaults(plan);
        if (c.finalStatusFrom != 0) {
            DialogRig* r = rig.get();
            const uint64_t from = base + c.finalStatusFrom;
            const int status = c.finalStatus;
            // Called after each command: the next one reports the status.
            if (from == base + 1) r->target.Faults().finalStatus = status;
            r->target.SetTraceListener([r, from, status](const std::string&) {
                if (r->target.CommandCount() + 1 >= from) r->target.Faults().finalStatus = status;
            });
        }
        const bool windowHit = std::any_of(windows.begin(), windows.end(), [&](const auto& w) {
            return c.position > w.first && c.position <= w.second;
        });

        const RunStart start = BeginRun(*rig, job);
        const RunEnd end = PressAndWait(*rig, start);
        rig->target.SetTraceListener(nullptr);
        std::vector<std::string> v = CheckRun(*rig, job, start, end, windowHit);
        result.longestRunMs = std::max(result.longestRunMs, end.virtualMs);

        if (Recover(*rig, c.kind == "erase-busy")) result.reconnected.push_back(c.kind + ":" + std::to_string(c.position));
        const RunStart again = BeginRun(*rig, job);
        const RunEnd againEnd = PressAndWait(*rig, again);
        for (const std::string& problem : CheckCleanRun(*rig, job, again, againEnd)) v.push_back("later clean run: " + problem);

        if (v.empty()) {
            ++result.passed;
        } else {
            result.failures.push_back(c.kind + ":" + std::to_string(c.position) + " [" + trace[c.position] + "] " +
                                      Joined(v));
        }
    }
    return result;
}

void RunAndReport(const MatrixJob& job)
{
    const auto started = std::chrono::steady_clock::now();
    const MatrixResult r = RunMatrix(job);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[fault matrix] %s: %zu cases tried, %zu passed, %.1f s (%zu positions, longest run %.1f s virtual, %d Re-Connect)\n",
                job.name.c_str(), r.tried, r.passed, seconds, r.positions, static_cast<double>(r.longestRunMs) / 1000, static_cast<int>(r.reconnected.size()));
    for (const std::string& name : r.reconnected) std::printf("    Re-Connect needed after %s\n", name.c_str());
    std::fflush(stdout);
    for (size_t i = 0; i < r.failures.size() && i < 40; ++i) ADD_FAILURE() << r.failures[i];
    EXPECT_EQ(r.passed, r.tried);
    EXPECT_TRUE(r.failures.empty()) << r.failures.size() << " failures";
}

} // namespace

TEST(FaultMatrix, StandardUpgrade) { RunAndReport(StandardUpgradeJob()); }
TEST(FaultMatrix, SramDownload) { RunAndReport(SramDownloadJob()); }
TEST(FaultMatrix, Dump) { RunAndReport(DumpJob()); }
TEST(FaultMatrix, SeriesNumberBurn) { RunAndReport(SeriesBurnJob()); }
TEST(FaultMatrix, DataStep) { RunAndReport(DataStepJob()); }
