#pragma once
// One run of the main dialog behind the console: the dialog on the headless
// window, driven as a user drives it. The window opens (the connection
// monitor's first run starts), the session waits for that run, chooses the
// mode, files and numbers through the controls, presses Execute, waits for
// the job's thread and reads the job's outcome. Every wait is bounded.
#include <functional>
#include <string>

#include "app/dialog_services.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/job_report.h"
#include "programs/vane_upgrade/message_boxes.h"
#include "programs/vane_upgrade/options.h"
#include "programs/vane_upgrade/terminal_display.h"

struct SessionParts {
    DialogServices services;
    IBusEvents& bus;
    TerminalDisplay& display;
    ConsoleMessageBoxes& boxes;
    // A line of the program's own on standard error ("vane-upgrade: ...").
    std::function<void(const std::string& line)> complain;
    // With --records: what the job did, and the store's series numbers (else null).
    JobReport* report = nullptr;
    ISeriesNumberSource* serials = nullptr;
};

// Runs the command (upgrade, sram, dump, version, read-id) and returns its exit code.
int RunDialogSession(const Options& options, SessionParts& parts);
