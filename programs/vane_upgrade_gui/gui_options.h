#pragma once
// The command line of vane-upgrade-gui: the window needs no options; the
// emulated target takes the console program's emulation options. Qt's own
// options (-platform, -display, ...) are left for Qt.
#include <string>
#include <vector>

#include "programs/vane_upgrade/options.h"

struct GuiOptions {
    bool emulate = false;
    std::string emulateFlash;       // --emulate-flash FILE
    bool emulateFlashState = false; // --emulate-state flash (else the boot ROM)
    std::vector<FaultOption> faults;
    bool realisticTiming = false;   // --emulate-timing realistic
};

struct ParsedGuiCommandLine {
    bool run = false;     // false: exit now with exitCode, printing message
    int exitCode = 0;
    std::string message;  // the error line (stderr) or the help or version text (stdout)
    GuiOptions options;
};

ParsedGuiCommandLine ParseGuiCommandLine(int argc, const char* const* argv);

// Where the diagnostic log goes: $XDG_STATE_HOME/vane-upgrade, else
// $HOME/.local/state/vane-upgrade ("" when neither is set).
std::string GuiLogFolder(const char* stateHome, const char* home);
