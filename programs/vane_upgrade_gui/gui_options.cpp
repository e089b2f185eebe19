#include "programs/vane_upgrade_gui/gui_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace {

// Options that belong to Qt and take a value.
bool IsQtOptionWithValue(const std::string& word)
{
    static const char* const kWithValue[] = {"-platform", "-display", "-style", "-stylesheet", "-qwindowgeometry",
                                             "-qwindowtitle", "-qwindowicon", "-platformtheme", "-plugin"};
    for (const char* option : kWithValue)
        if (word == option || word == std::string("-") + option) return true;
    return false;
}

bool IsQtFlag(const std::string& word)
{
    static const char* const kFlags[] = {"-reverse", "-session", "-nograb", "-dograb", "-sync", "-widgetcount"};
    for (const char* option : kFlags)
        if (word == option) return true;
    return false;
}

} // namespace

ParsedGuiCommandLine ParseGuiCommandLine(int argc, const char* const* argv)
{
    ParsedGuiCommandLine parsed;
    // Qt's options stay for Qt; CLI11 takes the rest, last word first.
    std::vector<std::string> ours;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (IsQtOptionWithValue(word)) {
            ++i;
            continue;
        }
        if (!IsQtFlag(word)) ours.push_back(word);
    }
    std::reverse(ours.begin(), ours.end());

    GuiOptions& o = parsed.options;
    CLI::App app("The Vane transmitter's firmware upgrade window", "vane-upgrade-gui");
    std::vector<std::string> faultTexts;
    std::string stateText, timingText;
    bool version = false;
    app.add_flag("--version", version, "Print the program's version and exit");
    app.add_flag("--emulate", o.emulate, "Use the emulated target instead of a device");
    app.add_option("--emulate-flash", o.emulateFlash, "Keep the emulated flash in FILE between runs");
    app.add_option("--emulate-state", stateText, "State of the emulated target at the start: boot or flash")
        ->check(CLI::IsMember({"boot", "flash"}));
    app.add_option("--emulate-fault", faultTexts, "Fault of the emulated target: fail:K leave:K flip:K busy:K status:V");
    app.add_option("--emulate-timing", timingText, "The emulated target takes a real device's time")
        ->check(CLI::IsMember({"realistic"}));
    try {
        app.parse(ours);
    } catch (const CLI::CallForHelp&) {
        parsed.message = app.help();
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.exitCode = kExitUsage;
        parsed.message = std::string("vane-upgrade-gui: ") + e.what();
        return parsed;
    }
    if (version) {
        parsed.message = "vane-upgrade-gui " + ProgramVersionText().substr(ProgramVersionText().find(' ') + 1);
        return parsed;
    }
    o.emulateFlashState = stateText == "flash";
    o.realisticTiming = timingText == "realistic";
    for (const std::string& text : faultTexts) {
        const std::optional<FaultOption> fault = ParseFaultOption(text);
        if (!fault || fault->target > 1) {
            parsed.exitCode = kExitUsage;
            parsed.message = "vane-upgrade-gui: --emulate-fault " + text +
                             ": expected fail:K, leave:K, flip:K, busy:K (K from 1) or status:V (0-255)";
            return parsed;
        }
        o.faults.push_back(*fault);
    }
    if (!o.emulate && (!o.emulateFlash.empty() || !stateText.empty() || !faultTexts.empty() || !timingText.empty())) {
        parsed.exitCode = kExitUsage;
        parsed.message = "vane-upgrade-gui: --emulate-flash, --emulate-state, --emulate-fault and --emulate-timing need --emulate";
        return parsed;
    }
    parsed.run = true;
    return parsed;
}

std::string GuiLogFolder(const char* stateHome, const char* home)
{
    // A relative XDG_STATE_HOME does not count (XDG's own rule).
    if (stateHome != nullptr && stateHome[0] == '/') return std::string(stateHome) + "/vane-upgrade";
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/vane-upgrade";
    return {};
}
