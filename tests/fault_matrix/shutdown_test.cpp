// Closing the dialog while a job runs: the close waits for the job, nothing
// crashes, and a program started anew on the same target repairs whatever the
// job left (a clean run succeeds in every respect).
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "fault_matrix/matrix_jobs.h"

namespace {

constexpr size_t kClosePoints = 10;

struct ShutdownResult {
    size_t tried = 0, passed = 0, cutShort = 0;
    std::vector<std::string> failures;
};

size_t CleanTraceLength(const MatrixJob& job)
{
    auto rig = MakeJobRig(job);
    const RunStart start = BeginRun(*rig, job);
    PressAndWait(*rig, start);
    return rig->target.Trace().size() - start.traceLength;
}

// Closes the window (its close box) once the job has sent `after` commands.
std::vector<std::string> CloseDuringJob(const MatrixJob& job, size_t after, bool& cutShort)
{
    std::vector<std::string> v;
    auto rig = MakeJobRig(job);
    DialogRig* r = rig.get();
    const uint64_t closeAt = rig->target.CommandCount() + after;
    auto asked = std::make_shared<std::atomic<bool>>(false);
    rig->target.SetTraceListener([r, closeAt, asked](const std::string&) {
        if (r->target.CommandCount() >= closeAt && !asked->exchange(true))
            r->window->PostTask([r] { r->window->Close(); });
    });
    if (rig->window->Enabled(IDC_EXECUTE)) {
        rig->window->Click(IDC_EXECUTE);
    } else {
        rig->window->PressKey(VK_RETURN);
    }
    rig->window->PumpMessagesUntil([r] { return r->window->Ended(); });
    rig->target.SetTraceListener(nullptr);
    cutShort = rig->dlg->LastJobOutcome() != JobOutcome::Succeeded;
    if (!rig->window->Ended()) v.push_back("the window did not close");
    if (rig->window->PumpGaveUp()) v.push_back("closing did not end");
    if (!rig->dlg->Threads().Idle()) v.push_back("a thread outlived the close");
    if (rig->dlg->m_bBusy) v.push_back("m_bBusy is still set after the close");

    // The program again, on the same target after a while.
    rig->clock.Advance(5000);
    if (!rig->target.Present()) rig->target.Plug();
    ReopenDialog(*rig, job);
    if (!rig->dlg->m_bConnected) v.push_back("the new dialog found no target");
    const RunStart start = BeginRun(*rig, job);
    const RunEnd end = PressAndWait(*rig, start);
    for (const std::string& problem : CheckCleanRun(*rig, job, start, end)) v.push_back("next run: " + problem);
    return v;
}

void RunShutdownCases(const MatrixJob& job)
{
    const auto began = std::chrono::steady_clock::now();
    const size_t length = CleanTraceLength(job);
    ASSERT_GT(length, 0u);
    std::vector<size_t> points = {0};
    for (size_t i = 1; i < kClosePoints; ++i) points.push_back(length * i / kClosePoints);
    points.erase(std::unique(points.begin(), points.end()), points.end());
    ShutdownResult r;
    for (size_t after : points) {
        ++r.tried;
        bool cut = false;
        std::vector<std::string> v = CloseDuringJob(job, after, cut);
        r.cutShort += cut;
        if (v.empty()) {
            ++r.passed;
        } else {
            std::string text = "closed after command " + std::to_string(after) + ":";
            for (const std::string& p : v) text += " " + p + ";";
            r.failures.push_back(text);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("[shut-down] %s: %zu cases tried, %zu passed (%zu jobs ended early by the close), %.1f s\n",
                job.name.c_str(), r.tried, r.passed, r.cutShort, seconds);
    std::fflush(stdout);
    for (const std::string& f : r.failures) ADD_FAILURE() << f;
    EXPECT_EQ(r.passed, r.tried);
}

} // namespace

TEST(ShutDownDuringJob, StandardUpgrade) { RunShutdownCases(StandardUpgradeJob()); }
TEST(ShutDownDuringJob, SramDownload) { RunShutdownCases(SramDownloadJob()); }
TEST(ShutDownDuringJob, Dump) { RunShutdownCases(DumpJob()); }
TEST(ShutDownDuringJob, SeriesNumberBurn) { RunShutdownCases(SeriesBurnJob()); }
TEST(ShutDownDuringJob, DataStep) { RunShutdownCases(DataStepJob()); }
