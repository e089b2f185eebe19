// The resource script against the control table: the Windows dialog is built
// by the resource compiler from the same rows as the C++ table, through
// macros of the .rc file, and its identifiers are named in resource.h. These
// checks catch the drift that neither compiler sees on a Linux build: an
// identifier named twice or not at all, a kind or style token the script
// does not define, a row outside the dialog, a dialog line of the script that
// disagrees with the template the headless window is built from.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "resources/control_table.h"

namespace {

const std::string kResources = std::string(VANE_SOURCE_DIR) + "/resources/";

std::string ReadText(const std::string& name)
{
    std::ifstream in(kResources + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every "#define NAME value" of a text whose name matches the pattern.
std::map<std::string, std::string> Defines(const std::string& text, const std::string& namePattern)
{
    std::map<std::string, std::string> found;
    const std::regex define("^#define (" + namePattern + ")[ \\t]+(.*)$", std::regex::multiline);
    for (std::sregex_iterator it(text.begin(), text.end(), define), end; it != end; ++it) found[(*it)[1]] = (*it)[2];
    return found;
}

} // namespace

TEST(ResourceTemplate, EveryControlHasOneNameAndEveryNameAControl)
{
    const std::map<std::string, std::string> names = Defines(ReadText("resource.h"), "IDC_[A-Z0-9_]+");
    ASSERT_FALSE(names.empty()) << "resource.h not found at " << kResources;
    std::map<int, std::set<std::string>> namesOfId;
    for (const auto& [name, value] : names) namesOfId[std::stoi(value)].insert(name);

    std::set<int> rows;
    for (const ControlRow& row : MainDialogControls()) {
        EXPECT_TRUE(rows.insert(row.id).second) << "control " << row.id << " is in the table twice";
        EXPECT_EQ(namesOfId[row.id].size(), 1u) << "control " << row.id << " needs exactly one IDC_ name";
    }
    for (const auto& [id, idNames] : namesOfId)
        EXPECT_TRUE(rows.count(id)) << *idNames.begin() << " (" << id << ") names no control of the table";
}

TEST(ResourceTemplate, ScriptDefinesEveryKindAndStyleTheTableUses)
{
    const std::string script = ReadText("rodediz.rc");
    const std::map<std::string, std::string> tokens = Defines(script, "[A-Z_]+_KIND|STYLE_[A-Z_]+");
    ASSERT_FALSE(tokens.empty()) << "rodediz.rc not found at " << kResources;

    const std::string table = ReadText("dialog_controls.def");
    const std::regex row(R"re(^CONTROL_ROW\((\d+), *([A-Z_]+), *"[^"]*"(?:, *\d+){7}, *([A-Z_]+)\))re",
                         std::regex::multiline);
    size_t rows = 0;
    for (std::sregex_iterator it(table.begin(), table.end(), row), end; it != end; ++it, ++rows) {
        EXPECT_TRUE(tokens.count((*it)[2])) << "row " << (*it)[1] << ": the script does not define " << (*it)[2];
        EXPECT_TRUE(tokens.count((*it)[3])) << "row " << (*it)[1] << ": the script does not define " << (*it)[3];
    }
    // Every row was read by the pattern above, or a row of a new shape went unchecked.
    EXPECT_EQ(rows, MainDialogControls().size());
}

TEST(ResourceTemplate, RowsLieInsideTheDialog)
{
    const DialogTemplateInfo& dialog = MainDialogTemplate();
    for (const ControlRow& row : MainDialogControls()) {
        EXPECT_GE(row.x, 0) << row.id;
        EXPECT_GE(row.y, 0) << row.id;
        EXPECT_GT(row.width, 0) << row.id;
        EXPECT_GT(row.height, 0) << row.id;
        EXPECT_LE(row.x + row.width, dialog.width) << row.id;
        EXPECT_LE(row.y + row.height, dialog.height) << row.id;
    }
}

TEST(ResourceTemplate, ScriptDialogMatchesTheTemplateBothWindowsShare)
{
    const std::string script = ReadText("rodediz.rc");
    const DialogTemplateInfo& info = MainDialogTemplate();
    std::smatch m;
    const std::regex dialog(
        R"re(IDD_RODEDIZ_DIALOG DIALOGEX 0, 0, (\d+), (\d+)\s*\nSTYLE ([^\n]*)\nCAPTION "([^"]*)"\nFONT (\d+), "([^"]*)")re");
    ASSERT_TRUE(std::regex_search(script, m, dialog)) << "no main dialog in rodediz.rc";
    EXPECT_EQ(std::stoi(m[1]), info.width);
    EXPECT_EQ(std::stoi(m[2]), info.height);
    EXPECT_EQ(m[4].str(), info.caption);
    EXPECT_EQ(std::stoi(m[5]), info.fontPoints);
    EXPECT_EQ(m[6].str(), info.fontName);
    for (const char* style : {"DS_MODALFRAME", "WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "WS_MINIMIZEBOX"})
        EXPECT_NE(m[3].str().find(style), std::string::npos) << style;
    // The script builds its rows from the table, never from a copy of its own.
    EXPECT_NE(script.find("#include \"dialog_controls.def\""), std::string::npos);
}
