#pragma once
// The command line of vane-upgrade: its subcommands and options, parsed with
// CLI11 and checked before anything reaches a device. Wrong usage of any kind
// is one line of error and exit code 2.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "operations/hex_text.h"
#include "programs/vane_upgrade/cli/exit_codes.h"

enum class Command { Upgrade, Sram, Dump, Version, ReadId, List, Records, SerialNext, Serve, SlotsLearn };
enum class QuestionPolicy { Ask, Yes, No };
enum class OutputMode { Human, Verbose, Quiet, Json };

struct DataImage {
    std::string path;
    uint32_t start = 0;
};

struct FaultOption {
    enum class Kind { Fail, Leave, Flip, Busy, Status } kind = Kind::Fail;
    uint64_t value = 0; // the command number K, or the status V
    unsigned target = 0; // KIND:K@I: emulated target I only (0: every target)
};

struct Options {
    Command command = Command::Upgrade;
    std::string image;               // upgrade: empty for the default image; sram: the image
    std::optional<DataImage> data;   // upgrade --data FILE@HEX
    bool series = false;             // --serial-offset with --serial-number, --serial-file or --records
    uint32_t seriesOffset = 0;
    uint32_t seriesNumber = 0;       // from --serial-number (or the serial file, read later)
    std::string serialFile;
    uint64_t dumpBytes = 0;
    std::string dumpFile;
    std::string device;              // --device PORT|NODE
    std::string portName;            // --port-name: the port the output names
    OutputMode output = OutputMode::Human;
    std::string traceFile;
    std::string logFile;
    QuestionPolicy questions = QuestionPolicy::Ask;
    bool emulate = false;
    std::string emulateFlash;
    bool emulateFlashState = false;  // --emulate-state flash (else the boot ROM)
    std::vector<FaultOption> faults;
    std::string records;             // --records STORE: an SQLite file or a postgresql:// URI
    std::string station;             // --station NAME (empty: the host name)
    bool serialFromStore = false;    // --serial-offset with --records: the store hands out the number
    bool recordsCsv = false;         // records --csv
    bool recordsJson = false;        // records --json
    bool recordsSerials = false;     // records --serials
    uint32_t serialNext = 0;         // serial-next HEX
    std::string recordsImport;       // records import FILE
    bool realisticTiming = false;    // --emulate-timing realistic: the device's own pace, on the real clock
    // Several targets, each in a run of its own (see station/supervisor.h).
    bool all = false;                // upgrade --all, version --all
    bool watch = false;              // upgrade --watch
    uint32_t count = 0;              // --watch --count K (0: until interrupted)
    uint32_t emulateTargets = 0;     // --emulate-targets N: emu-1 ... emu-N
    std::string emulateFlashDir;     // --emulate-flash-dir DIR: DIR/emu-I.bin
    uint32_t arriveEveryMs = 0;      // --emulate-arrive-every MS (with --watch)
    // The pages in the browser (see web/).
    std::string serve;               // upgrade --serve [ADDR:]PORT, serve [ADDR:]PORT
    std::string serveAddress;        // from serve: 127.0.0.1 unless given
    uint16_t servePort = 0;
    std::string serveToken;          // --serve-token: required on every address
    std::string slotsFile;           // --slots FILE: the hub's slot names; slots learn FILE
    std::string slotName;            // --slot-name: a station's run, the name of its target's slot
    std::vector<std::string> arguments; // the command line as given, without the program name
};

struct ParsedCommandLine {
    bool run = false;    // false: exit now with exitCode, printing message
                         // (kExitFailure: refused before any target, as a used-up --serial-file)
    int exitCode = kExitSuccess;
    std::string message; // the error line (stderr) or the help text (stdout)
    Options options;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// "vane-upgrade 1.0 (commit 1a2b3c4)": the program's version from its build.
std::string ProgramVersionText();
// Whether the words ask for the machine output (before any "--").
bool WantsJsonOutput(int argc, const char* const* argv);

// --- the pieces, pure ---
// Decimal digits only, at most 2^31 - 1 (the dialog reads the size as an int).
std::optional<uint64_t> ParseByteCount(const std::string& text);
// "FILE@HEX", split at the last '@'.
std::optional<DataImage> ParseDataOption(const std::string& text);
// "fail:K", "leave:K", "flip:K", "busy:K" (K from 1), "status:V" (0-255,
// decimal or 0x hexadecimal), each optionally followed by "@I" (I from 1):
// the fault of emulated target I only.
std::optional<FaultOption> ParseFaultOption(const std::string& text);

// Whether a data image at start would overlap a code image of codeLength
// bytes (written from flash offset 0, padded to whole 256-byte pages).
bool DataOverlapsCode(uint32_t start, uint64_t codeLength);
// Whether a series number's 4 bytes at offset would land on an image of
// imageLength bytes written from flash address imageStart.
bool SeriesOverlapsImage(uint32_t offset, uint64_t imageStart, uint64_t imageLength);
