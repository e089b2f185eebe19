#pragma once
// One run of the main dialog behind the console: the dialog on the headless
// window, driven as a user drives it. The window opens (the connection
// monitor's first run starts), the session waits for that run, chooses the
// mode, files and numbers through the controls, presses Execute, waits for
// the job's thread and learns what happened from the dialog's outcome
// (app/dialog_outcome.h), never from the window's texts or the boxes printed.
// Every wait is bounded.
#include <functional>
#include <string>

#include "app/dialog_services.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/job_report.h"
#include "programs/vane_upgrade/output/message_boxes.h"
#include "programs/vane_upgrade/cli/options.h"
#include "programs/vane_upgrade/output/console_events.h"

struct SessionParts {
    DialogServices services;
    IBusEvents& bus;
    EventReporter& reporter;
    ConsoleMessageBoxes& boxes;
    // A complaint of the program's own ("no transmitter found").
    std::function<void(const std::string& line)> complain;
    // The port and node of the target behind a handle the tree opened.
    std::function<void(DeviceHandle handle, std::string& port, std::string& node)> locate;
    // Ends the program at once with this exit code (after the result is told).
    std::function<void(int exitCode)> abandon;
    // With --records: what the job did, and the store's series numbers (else null).
    JobReport* report = nullptr;
    ISeriesNumberSource* serials = nullptr;
};

// What the run leaves for its result, beside the exit code.
struct SessionReport {
    std::string text;      // the failure that ended it, or the line of its success
    std::string image;     // the file the job wrote or read
    std::string serial;    // the series number burned (hexadecimal)
    std::string identity;  // read-id: the identity block in hexadecimal
    bool declined = false; // a question was answered Cancel
};

// Runs the command (upgrade, sram, dump, version, read-id) and returns its exit code.
int RunDialogSession(const Options& options, SessionParts& parts, SessionReport& report);
