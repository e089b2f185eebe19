#include "fault_matrix/matrix_jobs.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <thread>

#include "firmware/image_name.h"
#include "operations/hex_text.h"

namespace {

constexpr uint32_t kBlock = 64 * 1024;
constexpr uint32_t kIdBlock = kEmuIdBlockOffset;
constexpr uint32_t kIdText = kIdBlock + 16;
constexpr char kImageName[] = "Vane_TX_V1030.fir";
constexpr uint32_t kImageNameLength = sizeof kImageName - 1;
constexpr uint32_t kSramImageSize = 10000;
constexpr uint32_t kDumpSize = 20000;
constexpr uint32_t kSeriesOffset = 0x12345;
constexpr uint32_t kDataStart = 0x50100;
constexpr uint32_t kDataSize = 70000;
// A job that ends later than this (virtual time) hangs: the longest honest
// wait is the flash loader's reconnect loop of about half a minute.
constexpr uint64_t kRunBoundMs = 120000;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 11);
    }
    return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint32_t offset, uint32_t length)
{
    return {bytes.begin() + offset, bytes.begin() + offset + length};
}

// "" when flash[offset, +expected.size()) is expected, else a description.
std::string Holds(const std::vector<uint8_t>& flash, uint32_t offset, const std::vector<uint8_t>& expected,
                  const std::string& what)
{
    if (offset + expected.size() > flash.size()) return what + " lies outside the flash";
    if (std::memcmp(expected.data(), flash.data() + offset, expected.size()) == 0) return "";
    auto first = std::mismatch(expected.begin(), expected.end(), flash.begin() + offset).first;
    if (first == expected.end()) return "";
    const size_t at = static_cast<size_t>(first - expected.begin());
    char text[96];
    std::snprintf(text, sizeof text, " differs at flash 0x%zx", offset + at);
    return what + text;
}

// The identity step of a flash download: the image's name in the identity
// block, the rest of its 256 bytes as they were.
std::string IdentityAsked(const std::vector<uint8_t>& flash, const RunStart& start)
{
    std::string d = Holds(flash, kIdText, std::vector<uint8_t>(kImageName, kImageName + kImageNameLength), "identity text");
    if (d.empty()) d = Holds(flash, kIdBlock, Slice(start.flash, kIdBlock, 16), "identity block head");
    const uint32_t tail = kIdText + kImageNameLength;
    if (d.empty()) d = Holds(flash, tail, Slice(start.flash, tail, kIdBlock + 256 - tail), "identity block tail");
    return d;
}

size_t FindFrom(const std::vector<std::string>& trace, size_t from, const std::string& prefix)
{
    for (size_t i = from; i < trace.size(); ++i)
        if (StartsWith(trace[i], prefix)) return i;
    return trace.size();
}

// From the erase that follows the first set-address with this prefix to the
// first read after the write-back (its verification), or to the write-back
// itself when another erase comes first.
std::vector<std::pair<size_t, size_t>> KeptWindow(const std::vector<std::string>& trace, const std::string& setAddress)
{
    const size_t set = FindFrom(trace, 0, setAddress);
    const size_t erase = FindFrom(trace, set, "06 8b ");
    const size_t write = FindFrom(trace, erase, "06 72 ");
    if (write >= trace.size()) return {};
    const size_t nextErase = FindFrom(trace, write, "06 8b ");
    for (size_t i = write + 1; i < nextErase && i < trace.size(); ++i)
        if (StartsWith(trace[i], "06 71 ") && StartsWith(trace[i - 1], setAddress)) return {{erase, i}};
    return {{erase, write}};
}

std::vector<std::pair<size_t, size_t>> IdentityWindow(const std::vector<std::string>& trace)
{
    return KeptWindow(trace, "06 55 00 00 04 40 ");
}

const int kJobControls[] = {IDC_MODE, IDC_CODE_BUTTON, IDC_DATA_BUTTON, IDC_EXECUTE};

const KeptRange kIdentityKept{kIdBlock, 256, kIdText, kImageNameLength};

void AllowVersionRead(DialogRig& rig) { rig.Advance(kGetVersionDelayMs); }

bool IsFailureText(const std::string& text)
{
    if (text.empty() || StartsWith(text, "Complete")) return false;
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, "...") == 0) return false; // a step in progress
    static const char* const kOrdinary[] = {"Download to SPI Falsh", "Connected", "Disconnected", "Ready",
                                            "Detecting target ..."};
    for (const char* t : kOrdinary)
        if (text == t) return false;
    return !StartsWith(text, "Connecting...");
}

// The backup files a message names (".../backup/flash-0x....bin", either separator).
std::vector<std::string> NamedBackups(const RunEnd& end)
{
    static const std::regex kName(R"([Bb]ackup[\\/](flash-0x[0-9a-fA-F]{8}(-[0-9]+)?\.bin))");
    std::vector<std::string> names;
    std::vector<std::string> texts = end.messages;
    texts.push_back(end.status);
    for (const std::string& text : texts)
        for (auto it = std::sregex_iterator(text.begin(), text.end(), kName); it != std::sregex_iterator(); ++it)
            names.push_back((*it)[1].str());
    return names;
}

} // namespace

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::set<std::string> BackupFiles(DialogRig& rig)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(rig.BackupFolder(), ec)) names.insert(entry.path().filename().string());
    return names;
}

bool FailureShown(const RunEnd& end)
{
    return !end.messages.empty() || IsFailureText(end.status) || IsFailureText(end.deviceStatus);
}

// --- the jobs ------------------------------------------------------------------

MatrixJob StandardUpgradeJob()
{
    MatrixJob job;
    job.name = "standard upgrade";
    job.prepare = AllowVersionRead;
    job.erasedBlocks = {0, kBlock, 2 * kBlock, 3 * kBlock, kIdBlock};
    job.kept = {kIdentityKept};
    job.flashDownload = true;
    job.asked = [](DialogRig&, const RunStart& start, const std::vector<uint8_t>& flash) {
        static const std::vector<uint8_t> image = MakeDemoFirmware();
        std::string d = Holds(flash, 0, image, "image");
        return d.empty() ? IdentityAsked(flash, start) : d;
    };
    job.keptWindows = IdentityWindow;
    return job;
}

MatrixJob SramDownloadJob()
{
    MatrixJob job;
    job.name = "SRAM download";
    job.prepare = [](DialogRig& rig) {
        AllowVersionRead(rig);
        const fs::path code = rig.folder.Path() / "sram_code.bin";
        WriteFileBytes(code, Pattern(kSramImageSize, 7));
        rig.window->SelectComboRow(IDC_MODE, kModeRowSram);
        rig.window->QueueFilePath(code.string());
        rig.window->SendClick(IDC_CODE_BUTTON);
    };
    job.asked = [](DialogRig& rig, const RunStart& start, const std::vector<uint8_t>&) -> std::string {
        std::string d = Holds(rig.target.Sram(), 0, Pattern(kSramImageSize, 7), "SRAM");
        if (!d.empty()) return d;
        // Started: the execute command reached the target.
        const std::vector<std::string> trace = rig.target.Trace();
        for (size_t i = start.traceLength; i < trace.size(); ++i)
            if (StartsWith(trace[i], "06 60 ") && trace[i].size() > 3 && trace[i].compare(trace[i].size() - 3, 3, " ok") == 0) return "";
        return "the code was not started";
    };
    return job;
}

MatrixJob DumpJob()
{
    MatrixJob job;
    job.name = "dump";
    job.prepare = [](DialogRig& rig) {
        AllowVersionRead(rig);
        rig.window->SelectComboRow(IDC_MODE, kModeRowDump);
        rig.window->QueueFilePath((rig.folder.Path() / "dump.bin").string());
        rig.window->SendClick(IDC_CODE_BUTTON);
        rig.window->SetWindowText(IDC_DUMP_LENGTH, std::to_string(kDumpSize));
    };
    job.beforeEachRun = [](DialogRig& rig) {
        std::error_code ec;
        fs::remove(rig.folder.Path() / "dump.bin", ec);
    };
    job.asked = [](DialogRig& rig, const RunStart&, const std::vector<uint8_t>& flash) -> std::string {
        const std::vector<uint8_t> file = ReadFileBytes(rig.folder.Path() / "dump.bin");
        if (file.size() != kDumpSize) return "the dump file holds " + std::to_string(file.size()) + " bytes";
        return std::memcmp(file.data(), flash.data(), kDumpSize) == 0 ? "" : "the dump file differs from the flash";
    };
    return job;
}

MatrixJob SeriesBurnJob()
{
    MatrixJob job;
    job.name = "series-number burn";
    job.options.bootState = kFlashLoaderState;
    job.prepare = [](DialogRig& rig) {
        AllowVersionRead(rig);
        rig.window->SetCheck(IDC_CODE_OPTION, false);
        rig.window->Click(IDC_SERIES_OPTION);
        char offset[16];
        std::snprintf(offset, sizeof offset, "%X", kSeriesOffset);
        rig.window->SetWindowText(IDC_OFFSET_EDIT, offset);
        rig.window->SetWindowText(IDC_SERIES_EDIT, "1234ABCD");
    };
    job.erasedBlocks = {kSeriesOffset & ~(kBlock - 1), kIdBlock};
    const uint32_t block = kSeriesOffset & ~(kBlock - 1);
    job.kept = {kIdentityKept, KeptRange{block, kBlock, kSeriesOffset, 4}};
    job.flashDownload = true;
    job.asked = [block](DialogRig&, const RunStart& start, const std::vector<uint8_t>& flash) {
        const uint32_t n = HexTextToUInt(start.seriesNumber);
        std::vector<uint8_t> expected = Slice(start.flash, block, kBlock);
        for (int i = 0; i < 4; ++i) expected[kSeriesOffset - block + i] = static_cast<uint8_t>(n >> (8 * i));
        std::string d = Holds(flash, block, expected, "series block");
        return d.empty() ? IdentityAsked(flash, start) : d;
    };
    job.keptWindows = [](const std::vector<std::string>& trace) {
        auto windows = IdentityWindow(trace);
        auto series = KeptWindow(trace, "06 55 00 00 01 40 ");
        windows.insert(windows.end(), series.begin(), series.end());
        return windows;
    };
    return job;
}

MatrixJob DataStepJob()
{
    MatrixJob job;
    job.name = "data step";
    job.options.bootState = kFlashLoaderState;
    job.prepare = [](DialogRig& rig) {
        AllowVersionRead(rig);
        const fs::path data = rig.folder.Path() / "Data" / "data.bin";
        WriteFileBytes(data, Pattern(kDataSize, 11));
        rig.window->SetCheck(IDC_CODE_OPTION, false);
        rig.window->SetCheck(IDC_DATA_OPTION, true);
        rig.window->QueueFilePath(data.string());
        // The data button is enabled at the end of a job; before the first one
        // its handler is reached directly (as the console front end does).
        if (!rig.window->Click(IDC_DATA_BUTTON)) rig.dlg->OnDataButton();
        char start[16];
        std::snprintf(start, sizeof start, "%X", kDataStart);
        rig.window->SetWindowText(IDC_DATA_START, start);
    };
    const uint32_t block = kDataStart & ~(kBlock - 1);
    job.erasedBlocks = {block, block + kBlock, kIdBlock};
    job.kept = {kIdentityKept, KeptRange{block, kDataStart - block, 0, 0}};
    job.flashDownload = true;
    job.asked = [block](DialogRig&, const RunStart& start, const std::vector<uint8_t>& flash) {
        static const std::vector<uint8_t> data = Pattern(kDataSize, 11);
        std::string d = Holds(flash, block, Slice(start.flash, block, kDataStart - block), "kept head");
        if (d.empty()) d = Holds(flash, kDataStart, data, "data");
        return d.empty() ? IdentityAsked(flash, start) : d;
    };
    job.keptWindows = [](const std::vector<std::string>& trace) {
        auto windows = IdentityWindow(trace);
        auto data = KeptWindow(trace, "06 55 00 00 05 40 ");
        windows.insert(windows.end(), data.begin(), data.end());
        return windows;
    };
    return job;
}

std::vector<MatrixJob> AllMatrixJobs()
{
    return {StandardUpgradeJob(), SramDownloadJob(), DumpJob(), SeriesBurnJob(), DataStepJob()};
}

// --- runs ----------------------------------------------------------------------

namespace {

// Bus notices reach the window as in the fixture, but a worker thread that
// causes one waits until the window thread has handled it: the removal
// handler's ping then always comes at the same place in the trace.
void ListenToTheBus(DialogRig& rig)
{
    DialogRig* r = &rig;
    const std::thread::id windowThread = std::this_thread::get_id();
    rig.target.SetBusListener([r, windowThread](const BusEvent& e) {
        Message m;
        m.message = WM_DEVICECHANGE;
        m.wParam = e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        r->window->PostMessage(m);
        if (std::this_thread::get_id() == windowThread) return;
        auto handled = std::make_shared<std::atomic<bool>>(false);
        r->window->PostTask([handled] { handled->store(true); });
        while (!handled->load() && !r->window->Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
}

} // namespace

std::unique_ptr<DialogRig> MakeJobRig(const MatrixJob& job)
{
    DialogRigOptions options = job.options;
    options.open = false;
    auto rig = std::make_unique<DialogRig>(options);
    ListenToTheBus(*rig);
    // Every byte of the flash known and none 0xFF throughout, so that a stray
    // erase or write anywhere shows.
    static const std::vector<uint8_t> flashPattern = Pattern(kEmuDefaultFlashSize, 3);
    rig->target.LoadFlash(0, flashPattern);
    rig->target.SetIdentityText(kEmuDefaultIdentity);
    rig->window->Open();
    rig->WaitIdle();
    job.prepare(*rig);
    return rig;
}

void ReopenDialog(DialogRig& rig, const MatrixJob& job)
{
    rig.target.SetBusListener(nullptr);
    rig.dlg->Threads().Reap();
    rig.dlg.reset();
    rig.window.reset();
    rig.dlg = std::make_unique<CRODEdizDlg>(rig.services);
    rig.window = std::make_unique<HeadlessWindow>(*rig.dlg, rig.clock, &rig.clock);
    ListenToTheBus(rig);
    rig.window->Open();
    rig.WaitIdle();
    job.prepare(rig);
}

RunStart BeginRun(DialogRig& rig, const MatrixJob& job)
{
    if (job.beforeEachRun) job.beforeEachRun(rig);
    RunStart start;
    start.flash = rig.target.Flash();
    start.backups = BackupFiles(rig);
    start.messageBoxes = rig.window->MessageBoxes().size();
    start.jobsFinished = rig.dlg->JobsFinished();
    start.startMs = rig.clock.NowMs();
    start.seriesNumber = rig.window->Text(IDC_SERIES_EDIT);
    start.traceLength = rig.target.Trace().size();
    for (int id : kJobControls) start.enabled[id] = rig.window->Enabled(id);
    start.acceptsFiles = rig.window->AcceptsFiles();
    return start;
}

RunEnd PressAndWait(DialogRig& rig, const RunStart& start)
{
    if (rig.window->Enabled(IDC_EXECUTE)) {
        rig.window->Click(IDC_EXECUTE);
    } else {
        rig.window->PressKey(VK_RETURN);
    }
    rig.WaitIdle();
    RunEnd end;
    end.pumpGaveUp = rig.window->PumpGaveUp();
    end.virtualMs = rig.clock.NowMs() - start.startMs;
    end.jobRan = rig.dlg->JobsFinished() > start.jobsFinished;
    end.outcome = rig.dlg->LastJobOutcome();
    end.status = rig.window->Text(IDC_PROGRESS_TEXT);
    end.deviceStatus = rig.window->Text(IDC_STATUS);
    const std::vector<MessageBoxRecord> boxes = rig.window->MessageBoxes();
    for (size_t i = start.messageBoxes; i < boxes.size(); ++i)
        ((boxes[i].type & 0xF) == MB_OKCANCEL ? end.questions : end.messages).push_back(boxes[i].text);
    for (const std::string& name : BackupFiles(rig))
        if (!start.backups.count(name)) end.newBackups.insert(name);
    return end;
}

std::vector<std::string> CheckRun(DialogRig& rig, const MatrixJob& job, const RunStart& start, const RunEnd& end,
                                  bool windowHit, std::string* askedOut)
{
    std::vector<std::string> v;
    const std::vector<uint8_t> flash = rig.target.Flash();
    if (end.pumpGaveUp) v.push_back("the dialog's threads did not end");
    if (end.virtualMs > kRunBoundMs) v.push_back("the run took " + std::to_string(end.virtualMs) + " ms of virtual time");

    // Released: busy flag, job controls, Execute (the flash download's failure
    // exits keep it disabled); a press that started no job changes none of them.
    if (rig.dlg->m_bBusy) v.push_back("m_bBusy is still set");
    if (!end.jobRan) {
        for (int id : kJobControls)
            if (rig.window->Enabled(id) != start.enabled.at(id)) v.push_back("control " + std::to_string(id) + " changed");
        if (rig.window->AcceptsFiles() != start.acceptsFiles) v.push_back("accepting dropped files changed");
    } else {
        // What was enabled before the job is enabled again (a control the
        // window never enabled, such as the data button before its first
        // job, may stay as it was).
        const bool designedDisabled = job.flashDownload && end.outcome == JobOutcome::Failed;
        for (int id : kJobControls) {
            if (!start.enabled.at(id) || rig.window->Enabled(id)) continue;
            if (id == IDC_EXECUTE && designedDisabled) continue;
            v.push_back(id == IDC_EXECUTE ? "Execute is disabled" : "control " + std::to_string(id) + " is disabled");
        }
        if (!rig.window->AcceptsFiles()) v.push_back("dropped files are refused");
    }

    // Success is claimed only for what the target holds.
    const std::string asked = job.asked(rig, start, flash);
    if (askedOut) *askedOut = asked;
    if (StartsWith(end.status, "Complete!") && !asked.empty()) v.push_back("says \"" + end.status + "\" but " + asked);
    if (end.jobRan && end.outcome == JobOutcome::Succeeded && !asked.empty()) v.push_back("reports success but " + asked);
    const bool failed = !end.jobRan || end.outcome != JobOutcome::Succeeded || !asked.empty();
    if (failed && !FailureShown(end))
        v.push_back("a silent failure (status \"" + end.status + "\", device \"" + end.deviceStatus + "\")");

    // Nothing outside the job's blocks changes.
    for (uint32_t offset = 0; offset < flash.size(); offset += kBlock) {
        if (job.erasedBlocks.count(offset)) continue;
        if (std::memcmp(flash.data() + offset, start.flash.data() + offset, kBlock) != 0) {
            char text[64];
            std::snprintf(text, sizeof text, "the block at 0x%x changed", offset);
            v.push_back(text);
        }
    }

    // Kept bytes: intact on the flash, or in a copy that a message names.
    const std::vector<std::string> named = NamedBackups(end);
    for (const KeptRange& k : job.kept) {
        bool intact = true;
        for (uint32_t a = k.offset; a < k.offset + k.length && intact; ++a) {
            const bool replaced = a >= k.replacedOffset && a < k.replacedOffset + k.replacedLength;
            intact = replaced || flash[a] == start.flash[a];
        }
        if (intact) continue;
        const std::vector<uint8_t> old = Slice(start.flash, k.offset, k.length);
        const bool copied = std::any_of(named.begin(), named.end(), [&](const std::string& name) {
            return ReadFileBytes(rig.BackupFolder() / name) == old;
        });
        char text[96];
        std::snprintf(text, sizeof text, "the kept bytes at 0x%x are lost without a named copy", k.offset);
        if (!copied) v.push_back(text);
    }
    if (windowHit && failed && named.empty()) v.push_back("a failure between an erase and its verified write-back names no copy");
    if (!failed && !end.newBackups.empty()) v.push_back("a successful run left a copy behind");
    std::error_code ec;
    if (fs::is_empty(rig.BackupFolder(), ec) && !ec) v.push_back("an empty backup folder is left behind");
    if (fs::is_directory(rig.folder.Path() / "Backup", ec)) v.push_back("a Backup folder appeared in the working folder");
    for (const std::string& name : end.newBackups)
        if (std::find(named.begin(), named.end(), name) == named.end()) v.push_back("the copy " + name + " is named nowhere");
    return v;
}

std::vector<std::string> CheckCleanRun(DialogRig& rig, const MatrixJob& job, const RunStart& start, const RunEnd& end)
{
    std::string asked;
    std::vector<std::string> v = CheckRun(rig, job, start, end, false, &asked);
    if (!end.jobRan) v.push_back("the clean run started no job");
    if (end.outcome != JobOutcome::Succeeded) v.push_back("the clean run failed");
    if (!StartsWith(end.status, "Complete!")) v.push_back("the clean run's status is \"" + end.status + "\"");
    for (const std::string& m : end.messages) v.push_back("the clean run showed \"" + m + "\"");
    // The compatibility question is right when an earlier failure left the identity block erased.
    const bool tagged = std::equal(kModelTag, kModelTag + kModelTagLength, start.flash.begin() + kIdText);
    for (const std::string& q : end.questions)
        if (tagged) v.push_back("the clean run asked \"" + q + "\"");
    if (!asked.empty()) v.push_back("the clean run left " + asked);
    return v;
}

bool Recover(DialogRig& rig, bool powerCycle)
{
    rig.target.SetTraceListener(nullptr);
    rig.target.SetFaults({});
    if (powerCycle) rig.target.Unplug();
    rig.Advance(2000); // a return to the bus that was pending; timers
    if (!rig.target.Present()) {
        rig.target.Plug();
        rig.WaitIdle();
        rig.Advance(kGetVersionDelayMs);
    }
    if (rig.dlg->m_bConnected) return false;
    rig.window->Click(IDC_RECONNECT);
    rig.WaitIdle();
    rig.Advance(kGetVersionDelayMs);
    return true;
}
