#include "programs/vane_upgrade/cli/options.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "emulator/emulated_target.h"
#include "firmware/image_name.h"
#include "programs/vane_upgrade/cli/device_choice.h"
#include "programs/vane_upgrade/program_version.h"
#include "programs/vane_upgrade/cli/record_store_access.h"
#include "programs/vane_upgrade/cli/safe_text.h"
#include "records/serial_file.h"
#include "programs/vane_upgrade/cli/slot_names.h"
#include "programs/vane_upgrade/http/web_server.h"

namespace {

constexpr uint64_t kMaxDumpBytes = 0x7FFFFFFF;
constexpr uint32_t kPageSize = 256;
constexpr uint64_t kMaxStatus = 255;
// A station's name heads columns and rows of the records.
constexpr size_t kMaxStationChars = 64;
// The series number's 4 bytes stay within one 64 KiB block (the window refuses the rest).
constexpr uint32_t kLastSeriesPosition = 0xFFFC;
// A device's flash size is not known before it is reached: the largest flash
// that three-byte SPI addresses reach bounds the offset, as in the window.
constexpr uint64_t kLargestFlashSize = 0x1000000;
constexpr uint32_t kSeriesBytes = 4;

std::string HexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string NativePath(std::string path)
{
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// An existing regular file that can be read; its length.
bool CheckReadableFile(const std::string& what, const std::string& path, uint64_t& length, std::string& error)
{
    struct stat st {};
    if (stat(NativePath(path).c_str(), &st) != 0) {
        error = what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = what + " " + path + ": not a regular file";
        return false;
    }
    if (access(NativePath(path).c_str(), R_OK) != 0) {
        error = what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    length = static_cast<uint64_t>(st.st_size);
    return true;
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A misplaced store URI comes back in CLI11's message as it was typed: each
// word that holds a URI is named as the store's messages name it.
std::string WithoutStoreSecrets(std::string message, int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        const size_t scheme = word.find("://");
        if (scheme == std::string::npos) continue;
        if (const size_t equals = word.find('='); word.starts_with('-') && equals < scheme) word.erase(0, equals + 1);
        const std::string shown = StoreShownName(word);
        for (size_t at = message.find(word); at != std::string::npos; at = message.find(word, at + shown.size()))
            message.replace(at, word.size(), shown);
    }
    return message;
}

std::optional<std::string> StationProblem(const std::string& station)
{
    if (station.empty()) return "--station needs a name (without it the host name is the station's)";
    if (!IsPrintableUtf8(station)) return "--station: the name must be UTF-8 text without control characters";
    if (ShownWidth(station) > kMaxStationChars)
        return "--station: the name is longer than " + std::to_string(kMaxStationChars) + " characters";
    return std::nullopt;
}

ParsedCommandLine Usage(const std::string& message)
{
    ParsedCommandLine result;
    result.exitCode = kExitUsage;
    result.message = message;
    return result;
}

// --all, --watch and the emulated hub.
std::optional<std::string> ValidateSeveralTargets(Options& o)
{
    if (o.emulateTargets > 0) o.emulate = true;
    if (o.all && o.watch) return "--all and --watch exclude each other";
    if (o.all && o.command != Command::Upgrade && o.command != Command::Version) return "--all belongs to upgrade and version";
    if (o.watch && o.command != Command::Upgrade) return "--watch belongs to upgrade";
    if (o.count > 0 && !o.watch) return "--count needs --watch";
    if ((o.all || o.watch) && !o.device.empty()) return "--device chooses one target: it cannot be used with --all or --watch";
    const bool learning = o.command == Command::SlotsLearn;
    if (o.emulateTargets > 0 && !o.all && !o.watch && !learning) return "--emulate-targets needs --all or --watch";
    if (!o.emulateFlashDir.empty() && o.emulateTargets == 0) return "--emulate-flash-dir needs --emulate-targets";
    if (!o.emulateFlash.empty() && o.emulateTargets > 0)
        return "--emulate-flash holds one target's flash: use --emulate-flash-dir with --emulate-targets";
    if (o.arriveEveryMs > 0 && ((!o.watch && !learning) || o.emulateTargets == 0))
        return "--emulate-arrive-every needs --watch and --emulate-targets";
    return std::nullopt;
}

// The pages: where they are served, the token, the slot names.
std::optional<std::string> ValidateServing(Options& o)
{
    if (!o.serve.empty()) {
        if (o.command == Command::Upgrade && !o.all && !o.watch) return "--serve needs --watch or --all";
        const std::optional<ServeAddress> address = ParseServeAddress(o.serve);
        if (!address)
            return (o.command == Command::Serve ? "serve " : "--serve ") + o.serve +
                   ": expected [ADDRESS:]PORT (a port up to 65535, 0 for any free one; an IP address)";
        o.serveAddress = address->address;
        o.servePort = address->port;
    }
    if (!o.serveToken.empty()) {
        if (o.serve.empty()) return "--serve-token needs --serve or serve";
        if (!IsUsableToken(o.serveToken))
            return "--serve-token: expected 16 to 128 letters, digits, '-', '_' or '.'";
    }
    if (o.command == Command::Serve && o.records.empty()) return "serve needs --records STORE";
    if (!o.slotName.empty() && !IsUsableSlotName(o.slotName)) return "--slot-name " + o.slotName + ": not a slot's name";
    if (!o.slotsFile.empty() && o.command == Command::Upgrade && !o.all && !o.watch)
        return "--slots names the slots of --watch and --all";
    return std::nullopt;
}

// The checks that CLI11 cannot make: values, combinations, files.
std::optional<std::string> Validate(Options& o, const std::string& offsetText, const std::string& numberText,
                                    const std::string& dataText, const std::string& bytesText,
                                    const std::vector<std::string>& faultTexts, bool& refused)
{
    if (auto problem = ValidateSeveralTargets(o)) return problem;
    if (auto problem = ValidateServing(o)) return problem;
    if (!o.emulate && (!o.emulateFlash.empty() || o.emulateFlashState || !faultTexts.empty() || o.realisticTiming))
        return "--emulate-flash, --emulate-state, --emulate-fault and --emulate-timing need --emulate";
    if (o.emulate && !o.device.empty()) return "--device chooses a real target: it cannot be used with --emulate";
    if (!o.device.empty() && !IsDeviceChoice(o.device))
        return "--device " + o.device + ": expected " + DeviceChoiceForms();
    for (const std::string& text : faultTexts) {
        const std::optional<FaultOption> fault = ParseFaultOption(text);
        if (!fault)
            return "--emulate-fault " + text + ": expected fail:K, leave:K, flip:K, busy:K (K from 1) or status:V (0-255), "
                                                "optionally followed by @I (target I)";
        if (fault->target > o.emulateTargets)
            return "--emulate-fault " + text + ": there is no emulated target " + std::to_string(fault->target) +
                   " (see --emulate-targets)";
        for (const FaultOption& earlier : o.faults)
            if (earlier.kind == fault->kind && (earlier.target == 0 || fault->target == 0 || earlier.target == fault->target))
                return "--emulate-fault " + text + ": a fault of this kind was already given";
        o.faults.push_back(*fault);
    }
    if (numberText.size() > 0 && (o.all || o.watch))
        return "--serial-number would give every target the same number: use --serial-file with --all and --watch";

    const bool seriesGiven = !offsetText.empty() || !numberText.empty() || !o.serialFile.empty();
    if (seriesGiven && o.command != Command::Upgrade) return "--serial-offset, --serial-number and --serial-file belong to upgrade";
    if (!dataText.empty() && o.command != Command::Upgrade) return "--data belongs to upgrade";
    if (seriesGiven) {
        if (offsetText.empty()) return "--serial-offset is needed with --serial-number or --serial-file";
        if (!numberText.empty() && !o.serialFile.empty()) return "--serial-file replaces --serial-number: give one of them";
        o.serialFromStore = numberText.empty() && o.serialFile.empty() && !o.records.empty();
        if (numberText.empty() && o.serialFile.empty() && !o.serialFromStore)
            return "--serial-offset needs --serial-number, --serial-file or --records";
        const std::optional<uint32_t> offset = ParseHexField(offsetText);
        if (!offset) return "--serial-offset " + offsetText + ": expected 1 to 8 hexadecimal digits without a prefix";
        o.seriesOffset = *offset;
        if ((*offset & 0xFFFF) > kLastSeriesPosition)
            return "--serial-offset " + offsetText +
                   ": the number's 4 bytes must lie within one 64 KiB block (offsets ending in FFFD to FFFF cross its end)";
        const uint64_t flashSize = o.emulate ? kEmuDefaultFlashSize : kLargestFlashSize;
        if (uint64_t{*offset} + kSeriesBytes > flashSize)
            return "--serial-offset " + offsetText + ": the number's 4 bytes lie beyond the end of the " +
                   (o.emulate ? "emulated flash (" : "largest flash a target addresses (") + HexText(flashSize) + " bytes)";
        if (!numberText.empty()) {
            const std::optional<uint32_t> number = ParseHexField(numberText);
            if (!number) return "--serial-number " + numberText + ": expected 1 to 8 hexadecimal digits without a prefix";
            o.seriesNumber = *number;
        }
        o.series = true;
    }

    if ((o.command == Command::Records || o.command == Command::SerialNext) && o.records.empty())
        return std::string(o.command == Command::Records ? "records" : "serial-next") + " needs --records STORE";
    if (o.recordsCsv && o.recordsJson) return "--csv and --json exclude each other";
    if (!o.records.empty())
        if (auto problem = StoreLocationProblem(o.records)) return problem;

    std::string error;
    uint64_t length = 0, dataLength = 0;
    if (o.command == Command::Upgrade) {
        if (o.image.empty()) {
            if (o.emulate && !IsDirectory("Data"))
                return "no Data folder here: the emulated target needs the demo images; create them with: make_demo_images Data";
            if (!CheckReadableFile("default image", kDefaultCodeImagePath, length, error)) return error;
        } else if (!CheckReadableFile("image", o.image, length, error)) {
            return error;
        }
        if (!dataText.empty()) {
            o.data = ParseDataOption(dataText);
            if (!o.data) return "--data " + dataText + ": expected FILE@HEX (1 to 8 hexadecimal digits)";
            if (o.data->start % kPageSize != 0) return "--data " + dataText + ": the start must be a multiple of 256 (0x100)";
            if (DataOverlapsCode(o.data->start, length)) return "--data " + dataText + ": the start lies inside the code image";
            if (!CheckReadableFile("data image", o.data->path, dataLength, error)) return error;
        }
    }
    if (o.command == Command::Sram && !CheckReadableFile("image", o.image, length, error)) return error;
    if (o.command == Command::Dump) {
        const std::optional<uint64_t> bytes = ParseByteCount(bytesText);
        if (!bytes) return "dump " + bytesText + ": BYTES must be decimal digits (at most 2147483647)";
        o.dumpBytes = *bytes;
    }
    if (!o.serialFile.empty()) {
        uint64_t serialFileLength = 0;
        if (!CheckReadableFile("serial file", o.serialFile, serialFileLength, error)) return error;
        // A used-up file is refused as a records store refuses its used-up counter.
        if (!ReadSerialFile(o.serialFile, o.seriesNumber, error, &refused)) return error;
    }
    // The series step comes last and would burn its number over what the same
    // run has just written and verified.
    if (o.series && o.command == Command::Upgrade) {
        const std::string offset = "--serial-offset " + HexText(o.seriesOffset);
        if (SeriesOverlapsImage(o.seriesOffset, 0, length))
            return offset + ": the number's 4 bytes would overwrite the code image (flash 0 to " + HexText(length - 1) + ")";
        if (o.data && SeriesOverlapsImage(o.seriesOffset, o.data->start, dataLength))
            return offset + ": the number's 4 bytes would overwrite the data image (flash " + HexText(o.data->start) + " to " +
                   HexText(o.data->start + dataLength - 1) + ")";
    }
    return std::nullopt;
}

} // namespace

std::optional<uint64_t> ParseByteCount(const std::string& text)
{
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kMaxDumpBytes) return std::nullopt;
    return value;
}

std::optional<DataImage> ParseDataOption(const std::string& text)
{
    const size_t at = text.rfind('@');
    if (at == std::string::npos || at == 0) return std::nullopt;
    const std::optional<uint32_t> start = ParseHexField(text.substr(at + 1));
    if (!start) return std::nullopt;
    return DataImage{text.substr(0, at), *start};
}

std::optional<FaultOption> ParseFaultOption(const std::string& text)
{
    FaultOption fault;
    const size_t at = text.find('@');
    if (at != std::string::npos) {
        const std::optional<uint64_t> target = ParseByteCount(text.substr(at + 1));
        if (!target || *target == 0) return std::nullopt;
        fault.target = static_cast<unsigned>(*target);
    }
    const std::string plain = text.substr(0, at);
    const size_t colon = plain.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::string kind = plain.substr(0, colon);
    const std::string value = plain.substr(colon + 1);
    if (kind == "fail") fault.kind = FaultOption::Kind::Fail;
    else if (kind == "leave") fault.kind = FaultOption::Kind::Leave;
    else if (kind == "flip") fault.kind = FaultOption::Kind::Flip;
    else if (kind == "busy") fault.kind = FaultOption::Kind::Busy;
    else if (kind == "status") fault.kind = FaultOption::Kind::Status;
    else return std::nullopt;
    std::optional<uint64_t> number;
    if (fault.kind == FaultOption::Kind::Status && (value.starts_with("0x") || value.starts_with("0X"))) {
        if (const auto hex = ParseHexField(value.substr(2))) number = *hex;
    } else {
        number = ParseByteCount(value);
    }
    if (!number) return std::nullopt;
    if (fault.kind == FaultOption::Kind::Status ? *number > kMaxStatus : *number == 0) return std::nullopt;
    fault.value = *number;
    return fault;
}

bool DataOverlapsCode(uint32_t start, uint64_t codeLength)
{
    const uint64_t codeEnd = (codeLength + kPageSize - 1) / kPageSize * kPageSize;
    return start < codeEnd;
}

bool SeriesOverlapsImage(uint32_t offset, uint64_t imageStart, uint64_t imageLength)
{
    return imageLength > 0 && uint64_t{offset} + kSeriesBytes > imageStart && offset < imageStart + imageLength;
}

std::string ProgramVersionText()
{
    std::string text = std::string("vane-upgrade ") + kProgramVersion;
    if (kProgramCommit[0] != '\0') text += std::string(" (commit ") + kProgramCommit + ")";
    return text;
}

bool WantsJsonOutput(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        if (word == "--json") return true;
    }
    return false;
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CLI::App app{"Upgrades the firmware of a Vane transmitter over USB.", "vane-upgrade"};
    app.require_subcommand(1);
    app.fallthrough();

    Options o;
    std::string offsetText, numberText, dataText, bytesText, stateText, nextText;
    std::vector<std::string> faultTexts;
    bool yes = false, no = false, json = false, verbose = false, quiet = false;

    app.add_option("--device", o.device, std::string("Use only the target at ") + DeviceChoiceForms());
    app.set_version_flag("--version", ProgramVersionText(), "Show the program's version and end");
    app.add_flag("-v,--verbose", verbose, "Show every change of the window's texts");
    app.add_flag("-q,--quiet", quiet, "Show only questions, errors and the result");
    app.add_flag("--json", json, "Write one JSON object per event to standard output, nothing else");
    app.add_option("--port-name", o.portName, "The name of the target's port in the output");
    app.add_option("--trace", o.traceFile, "Write the wire trace (one line per command) to FILE");
    app.add_option("--log", o.logFile, "Write the diagnostic lines to FILE");
    app.add_flag("--yes", yes, "Answer every question with OK");
    app.add_flag("--no", no, "Answer every question with Cancel");
    app.add_flag("--emulate", o.emulate, "Use the emulated target instead of a device");
    app.add_option("--emulate-flash", o.emulateFlash, "Keep the emulated flash in FILE between runs");
    app.add_option("--emulate-state", stateText, "State of the emulated target at the start: boot or flash")
        ->check(CLI::IsMember({"boot", "flash"}));
    app.add_option("--emulate-fault", faultTexts,
                   "Fault of the emulated target: fail:K leave:K flip:K busy:K status:V (with @I: of target I only)")
        ->allow_extra_args(false);
    std::string timingText;
    app.add_option("--emulate-timing", timingText, "The emulated target takes a real device's time")
        ->check(CLI::IsMember({"realistic"}))
        ->group(""); // for benchmarks and tests
    app.add_option("--emulate-targets", o.emulateTargets, "N emulated targets (emu-1 ... emu-N) for --all and --watch")
        ->check(CLI::Range(1, 64));
    app.add_option("--emulate-flash-dir", o.emulateFlashDir, "Emulated target I keeps its flash in DIR/emu-I.bin");
    app.add_option("--emulate-arrive-every", o.arriveEveryMs, "With --watch: the emulated targets arrive MS apart")
        ->check(CLI::Range(1, 3600000));
    app.add_option("--records", o.records, std::string("Keep a record of every job in STORE (") + RecordStoreForms() + ")");
    CLI::Option* station = app.add_option("--station", o.station, "The station's name in the records (default: the host name)");
    app.add_option("--serve-token", o.serveToken, "The token the pages require (on every address)");
    app.add_option("--slots", o.slotsFile, "The hub's slot names: a file of PORT = NAME lines");
    app.add_option("--slot-name", o.slotName, "The name of the target's slot (given by a station to its runs)")
        ->group("");

    CLI::App* upgrade = app.add_subcommand("upgrade", "Write a firmware image to the flash (the default image when none is given)");
    upgrade->add_option("IMAGE", o.image, "Firmware image");
    upgrade->add_option("--data", dataText, "Also write FILE at flash address HEX (a multiple of 256)");
    CLI::Option* offsetOption =
        upgrade->add_option("--serial-offset", offsetText, "Burn a series number at this flash offset (hexadecimal)");
    CLI::Option* numberOption = upgrade->add_option("--serial-number", numberText, "The series number to burn (hexadecimal)");
    CLI::Option* serialFileOption =
        upgrade->add_option("--serial-file", o.serialFile, "Take the series number from FILE and reserve the next one there");
    upgrade->add_flag("--all", o.all, "Upgrade every attached target at the same time");
    upgrade->add_flag("--watch", o.watch, "Keep running: upgrade each target when it arrives");
    upgrade->add_option("--count", o.count, "With --watch: end after K targets have ended")->check(CLI::Range(1, 1000000));
    upgrade->add_option("--serve", o.serve, "With --watch or --all: serve the station page on [ADDRESS:]PORT (127.0.0.1 by default)");
    CLI::App* sram = app.add_subcommand("sram", "Load an image into the target's SRAM and start it");
    sram->add_option("IMAGE", o.image, "SRAM image (at most 32 KiB)")->required();
    CLI::App* dump = app.add_subcommand("dump", "Read the first BYTES bytes of the flash into FILE");
    dump->add_option("BYTES", bytesText, "Number of bytes (decimal)")->required();
    dump->add_option("FILE", o.dumpFile, "Output file")->required();
    CLI::App* version = app.add_subcommand("version", "Show the firmware version of the target");
    version->add_flag("--all", o.all, "Show the version of every attached target");
    CLI::App* readId = app.add_subcommand("read-id", "Show the identity block of the target in hexadecimal");
    CLI::App* list = app.add_subcommand("list", "List every attached target with its node and version");
    CLI::App* records = app.add_subcommand("records", "Print the records of the store of --records");
    records->add_flag("--csv", o.recordsCsv, "As CSV");
    records->add_flag("--json", o.recordsJson, "As JSON");
    records->add_flag("--serials", o.recordsSerials, "The series numbers handed out instead of the jobs");
    CLI::App* serve = app.add_subcommand("serve", "Serve the page of the whole line from the store of --records (read-only)");
    serve->add_option("ADDRESS_PORT", o.serve, "[ADDRESS:]PORT (127.0.0.1 by default)")->required();
    CLI::App* slots = app.add_subcommand("slots", "The names of the hub's slots");
    CLI::App* learn = slots->add_subcommand("learn", "Name the slots: plug a transmitter into each in turn and type its label");
    learn->add_option("FILE", o.slotsFile, "The file of slot names (kept names stay)")->required();
    slots->require_subcommand(1);
    CLI::App* import = records->add_subcommand("import", "Add the records of an unsaved-records file to the store (once)");
    import->add_option("FILE", o.recordsImport, "The unsaved-records file")->required();
    CLI::App* serialNext = app.add_subcommand("serial-next", "Set the next series number the store of --records hands out");
    serialNext->add_option("HEX", nextText, "The next number (hexadecimal, above every number handed out)")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion&) {
        ParsedCommandLine version;
        version.message = ProgramVersionText() + "\n";
        return version;
    } catch (const CLI::CallForHelp&) {
        ParsedCommandLine help;
        help.message = app.help();
        return help;
    } catch (const CLI::ParseError& e) {
        // A word that names no command leaves CLI11 wanting a subcommand.
        const std::vector<std::string> rest = app.remaining();
        if (!rest.empty() && app.get_subcommands().empty())
            return Usage(WithoutStoreSecrets("unknown command " + rest.front() + " (see --help)", argc, argv));
        return Usage(WithoutStoreSecrets(std::string(e.what()) + " (see --help)", argc, argv));
    }
    // An empty value would silently leave the option out.
    const std::pair<CLI::Option*, const std::string*> seriesValues[] = {
        {offsetOption, &offsetText}, {numberOption, &numberText}, {serialFileOption, &o.serialFile}};
    for (const auto& [option, value] : seriesValues)
        if (option->count() > 0 && value->empty()) return Usage("--" + option->get_lnames().front() + " is empty");
    if (yes && no) return Usage("--yes and --no exclude each other");
    if (json + verbose + quiet > 1) return Usage("--json, --verbose and --quiet exclude each other");
    o.output = json ? OutputMode::Json : verbose ? OutputMode::Verbose : quiet ? OutputMode::Quiet : OutputMode::Human;
    o.questions = yes ? QuestionPolicy::Yes : no ? QuestionPolicy::No : QuestionPolicy::Ask;
    o.emulateFlashState = stateText == "flash";
    o.realisticTiming = timingText == "realistic";
    for (int i = 1; i < argc; ++i) o.arguments.emplace_back(argv[i]);
    if (!stateText.empty() && !o.emulate && o.emulateTargets == 0) return Usage("--emulate-state needs --emulate");
    if (station->count() > 0)
        if (auto problem = StationProblem(o.station)) return Usage(*problem);

    if (upgrade->parsed()) o.command = Command::Upgrade;
    else if (sram->parsed()) o.command = Command::Sram;
    else if (dump->parsed()) o.command = Command::Dump;
    else if (version->parsed()) o.command = Command::Version;
    else if (readId->parsed()) o.command = Command::ReadId;
    else if (list->parsed()) o.command = Command::List;
    else if (records->parsed()) o.command = Command::Records;
    else if (serve->parsed()) o.command = Command::Serve;
    else if (learn->parsed()) o.command = Command::SlotsLearn;
    else if (serialNext->parsed()) {
        o.command = Command::SerialNext;
        const std::optional<uint32_t> next = ParseHexField(nextText);
        if (!next) return Usage("serial-next " + nextText + ": expected 1 to 8 hexadecimal digits without a prefix");
        o.serialNext = *next;
    }

    bool refused = false;
    if (auto problem = Validate(o, offsetText, numberText, dataText, bytesText, faultTexts, refused)) {
        ParsedCommandLine result = Usage(*problem);
        if (refused) result.exitCode = kExitFailure;
        return result;
    }
    ParsedCommandLine result;
    result.run = true;
    result.options = o;
    return result;
}
