#pragma once
// The five jobs of the fault matrix on the headless dialog and the emulated
// target, and the checks every run of them must pass: what a run asked for
// is on the target exactly when the dialog says so, every failure is shown,
// the flash outside the blocks the job erases is untouched, bytes kept across
// an erase are never lost without a named copy, and the dialog is released.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "unit/dialog_fixture.h"

// Bytes a job reads, erases and writes back: a range of flash, less the part
// the job replaces on purpose.
struct KeptRange {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t replacedOffset = 0; // replacedLength bytes from here are written anew
    uint32_t replacedLength = 0;
};

// What the rig held just before a run.
struct RunStart {
    std::vector<uint8_t> flash;
    std::set<std::string> backups;   // files in the user's backup folder
    size_t messageBoxes = 0;
    int jobsFinished = 0;
    uint64_t startMs = 0;
    std::string seriesNumber;        // the series edit's text
    size_t traceLength = 0;
    std::map<int, bool> enabled;     // the job controls and Execute
    bool acceptsFiles = false;
};

// What a run left.
struct RunEnd {
    bool jobRan = false;             // a job thread started and finished
    JobOutcome outcome = JobOutcome::None;
    std::string status;              // the status line (IDC_PROGRESS_TEXT)
    std::string deviceStatus;        // IDC_STATUS
    std::vector<std::string> messages;  // message boxes, questions apart
    std::vector<std::string> questions;
    std::set<std::string> newBackups;
    uint64_t virtualMs = 0;
    bool pumpGaveUp = false;
};

struct MatrixJob {
    std::string name;
    DialogRigOptions options;
    std::function<void(DialogRig&)> prepare;                // mode, files and options, once per rig
    std::function<void(DialogRig&)> beforeEachRun;          // optional
    std::set<uint32_t> erasedBlocks;                        // flash offsets of the 64 KiB blocks it erases
    std::vector<KeptRange> kept;
    bool flashDownload = false;                             // its failure exits leave Execute disabled
    // "" when the target (its flash now: flash) or the output file holds what
    // the run asked for, else what differs.
    std::function<std::string(DialogRig&, const RunStart&, const std::vector<uint8_t>& flash)> asked;
    // Positions (0-based in the clean trace) from each kept range's erase to
    // the verification of its write-back.
    std::function<std::vector<std::pair<size_t, size_t>>(const std::vector<std::string>&)> keptWindows;
};

MatrixJob StandardUpgradeJob();
MatrixJob SramDownloadJob();
MatrixJob DumpJob();
MatrixJob SeriesBurnJob();
MatrixJob DataStepJob();
std::vector<MatrixJob> AllMatrixJobs();

// A rig for one job: flash filled with a pattern, the job set up.
std::unique_ptr<DialogRig> MakeJobRig(const MatrixJob& job);

// A new dialog and window on the same target (the program started anew),
// set up for the job.
void ReopenDialog(DialogRig& rig, const MatrixJob& job);

RunStart BeginRun(DialogRig& rig, const MatrixJob& job);
// Presses Execute (Return when the button is disabled, as the user can) and
// waits until every thread of the dialog ended.
RunEnd PressAndWait(DialogRig& rig, const RunStart& start);

// Every violation of the run's promises ("" entries are never returned).
// windowHit: the fault lay between a kept range's erase and its verified write-back.
// askedOut (optional) receives job.asked's verdict.
std::vector<std::string> CheckRun(DialogRig& rig, const MatrixJob& job, const RunStart& start, const RunEnd& end,
                                  bool windowHit, std::string* askedOut = nullptr);
// A run without faults that must succeed in every respect.
std::vector<std::string> CheckCleanRun(DialogRig& rig, const MatrixJob& job, const RunStart& start, const RunEnd& end);

// Brings the rig back to a usable state after a fault: faults off, the
// target plugged in, time for a return to the bus, Re-Connect if the dialog
// lost the target. powerCycle: the user unplugs and plugs the device (a flash
// chip that stays busy needs it). Returns whether Re-Connect had to be pressed.
bool Recover(DialogRig& rig, bool powerCycle);

// A run's failure is visible: a message box, or a status text that names a failure.
bool FailureShown(const RunEnd& end);
bool StartsWith(const std::string& text, const std::string& prefix);
std::set<std::string> BackupFiles(DialogRig& rig);
