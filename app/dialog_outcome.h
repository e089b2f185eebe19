#pragma once
// What the dialog decided, for a front end that drives the dialog without
// looking at its window (the console program). The dialog stays the one
// holder of a run's state: its handlers fill these facts where they decide
// them, and CRODEdizDlg::Outcome() hands out a copy. Nothing here changes
// what the window shows.
#include <cstdint>
#include <string>

#include "device/ibr_commands.h"

// How the last job ended, recorded at its exits.
enum class JobOutcome { None, Running, Succeeded, Failed };

struct DialogOutcome {
    // --- the target ---
    bool connected = false;          // the last monitor run found a target that answers
    DeviceHandle target = nullptr;   // its handle (to name its port)
    // Something holds the target or runs on a thread of the dialog: a job, a
    // monitor run, a version or identity read.
    bool busy = false;

    // --- the job that Execute started last ---
    JobOutcome job = JobOutcome::None;
    int jobsFinished = 0;            // counts up as each job's thread ends
    std::string jobFailure;          // the failure that ended it ("" when none was marked)
    std::string statusLine;          // the status line's text ("Complete!" after a success)

    // --- the message boxes the dialog showed, counted from its start ---
    // Some steps report a failure only by a box and go on (a status poll that
    // fails, a refused mode or file, a refusal of Execute): for those the box
    // is the only trace, so a front end compares these counts before and after.
    int messagesShown = 0;           // boxes that ask nothing
    int questionsDeclined = 0;       // questions answered other than OK
    std::string lastMessage;         // the text of the last box of either kind

    // --- the identity block ---
    bool versionRead = false;        // the last version read got the block (false too once the target left)
    std::string version;             // its version text as read, up to 13 characters of any bytes
    std::string versionLine;         // what the version field shows
    bool identityRead = false;       // the last identity read got the block
    std::string identityHex;         // its first 20 bytes in hexadecimal, as the field shows them

    // --- the series number ---
    bool seriesAdvanced = false;     // the last job wrote and verified its number, and moved the field on
    uint32_t nextSeriesNumber = 0;   // the number the field then offers
};
