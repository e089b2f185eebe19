#include "programs/vane_upgrade/dialog_session.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "firmware/image_name.h"
#include "operations/hex_text.h"
#include "platform/headless/headless_window.h"
#include "programs/vane_upgrade/cli/exit_codes.h"
#include "programs/vane_upgrade/cli/safe_text.h"
#include "programs/vane_upgrade/output/one_line.h"
#include "ports/interrupts.h"
#include "records/serial_file.h"

namespace {

// The monitor makes ten discovery attempts and four pings; a minute is plenty.
constexpr uint64_t kFirstRunLimitMs = 60000;
// The version read that follows a connection or a job, and the closing.
constexpr uint64_t kQuietLimitMs = 10000;
// A whole job on a real 4 MiB flash takes well under a minute; time spent
// waiting for the user's answer does not count.
constexpr uint64_t kJobLimitMs = 10 * 60 * 1000;
constexpr uint64_t kBusPollMs = 20;

uint64_t FileLength(IFileSystem& files, const std::string& path)
{
    std::string error;
    auto file = files.Open(path, FileOpenMode::Read, error);
    return file ? file->Length() : 0;
}

class DialogSession {
public:
    DialogSession(const Options& options, SessionParts& parts, SessionReport& report)
        : o_(options), p_(parts), r_(report), clock_(parts.services.clock),
          dlg_(std::make_unique<CRODEdizDlg>(parts.services)),
          window_(std::make_unique<HeadlessWindow>(*dlg_, clock_))
    {
        // The session bounds its own waits; the backend's limit is meant for tests.
        window_->SetPumpSafetyLimit(std::chrono::milliseconds(0));
        window_->SetMessageBoxHook([this](const MessageBoxRecord& box) {
            // A box runs on the pumping thread: the pump's waits do not see the question.
            const uint64_t shown = clock_.NowMs();
            const std::optional<int> answer = p_.boxes.Show(box.text, box.caption, box.type);
            boxTimeMs_ += clock_.NowMs() - shown;
            return answer;
        });
        window_->SetTextListener([this](int id, const std::string& text) { p_.reporter.OnText(id, text); });
        // Every position the job gives the bar, as it gives it (the job's
        // thread hands each to the pump): a fast phase is over between two
        // looks of the window's loop.
        window_->SetProgressListener([this](int id, int position) {
            if (id == IDC_PROGRESS) p_.reporter.OnProgress(position);
        });
        if (p_.locate)
            p_.reporter.SetLocator([this](std::string& port, std::string& node) { p_.locate(dlg_->Outcome().target, port, node); });
        p_.bus.Attach([this](uintptr_t event) {
            Message m;
            m.message = WM_DEVICECHANGE;
            m.wParam = event;
            window_->PostMessage(m);
        });
    }

    ~DialogSession()
    {
        p_.bus.Detach();
        p_.reporter.SetLocator(nullptr);
        if (window_->IsOpen() && !window_->Ended()) window_->Close();
        dlg_->Threads().Reap();
        dlg_.reset(); // waits for the dialog's threads while the window still exists
        window_.reset();
    }

    int Run()
    {
        window_->Open();
        if (!Pump([this] { return Idle(); }, kFirstRunLimitMs)) return Stuck("the connection monitor");
        if (!dlg_->Outcome().connected) {
            Fail("no transmitter found");
            return kExitNoTarget;
        }
        if (!WaitQuiet()) return Stuck("the version read");
        report_.versionBefore = VersionShown();
        switch (o_.command) {
        case Command::Version: return ShowVersion();
        case Command::ReadId: return ShowIdentity();
        case Command::Upgrade:
        case Command::Sram:
        case Command::Dump: return RunJob();
        case Command::List:
        case Command::Records:
        case Command::SerialNext:
        case Command::Serve:
        case Command::SlotsLearn: break;
        }
        return kExitUsage;
    }

private:
    // The session learns what happened from the dialog's outcome only; it
    // reads none of the window's texts.
    bool Idle() const { return !dlg_->Outcome().busy; }

    // The version read from the target, without blanks in front; empty when unknown.
    std::string VersionShown() const
    {
        const DialogOutcome outcome = dlg_->Outcome();
        if (!outcome.versionRead) return "";
        std::string text = outcome.version;
        text.erase(0, text.find_first_not_of(' '));
        // An erased or damaged identity block gives bytes, not a version.
        return text == "Unknown" ? "" : KnownVersion(text);
    }

    bool VersionTimerRunning()
    {
        for (const TimerInfo& timer : window_->RunningTimers())
            if (timer.id == kTimerGetVersion) return true;
        return false;
    }

    bool WaitQuiet() { return Pump([this] { return Idle() && !VersionTimerRunning(); }, kQuietLimitMs); }

    // Runs the window until done() holds; false when limitMs passed first.
    // Time in which a question waits for the user is not counted.
    bool Pump(const std::function<bool()>& done, uint64_t limitMs)
    {
        uint64_t deadline = clock_.NowMs() + limitMs;
        uint64_t last = clock_.NowMs();
        uint64_t boxTime = boxTimeMs_.load();
        bool timedOut = false;
        window_->PumpMessagesUntil([&] {
            const uint64_t now = clock_.NowMs();
            // A question shown by the pump itself, or one still open on a
            // thread that went in while nobody pumped.
            const uint64_t boxTimeNow = boxTimeMs_.load();
            deadline += boxTimeNow - boxTime;
            boxTime = boxTimeNow;
            if (p_.boxes.Asking()) deadline += now - last;
            last = now;
            Tick(now);
            if (done()) return true;
            timedOut = now >= deadline;
            return timedOut;
        });
        return !timedOut;
    }

    void Tick(uint64_t now)
    {
        if (now - lastBusPoll_ >= kBusPollMs) {
            lastBusPoll_ = now;
            p_.bus.Poll();
        }
    }

    int Stuck(const std::string& what)
    {
        r_.text = what + " did not end in time; giving up";
        report_.failure = r_.text;
        p_.complain(r_.text);
        p_.abandon(kExitFailure);
        std::fflush(nullptr);
        // A hung dialog thread cannot be ended, and every exit that runs destructors would wait for it.
        std::_Exit(kExitFailure);
    }

    int ShowVersion()
    {
        const DialogOutcome connected = dlg_->Outcome();
        r_.text = connected.versionLine;
        if (connected.versionRead) return VersionRead();
        // The read after the connection did not get it: ask as the user would.
        window_->SendClick(IDC_GET_VER);
        if (!WaitQuiet()) return Stuck("the version read");
        const DialogOutcome again = dlg_->Outcome();
        r_.text = again.versionLine;
        if (again.versionRead) return VersionRead();
        r_.text = "the version could not be read";
        p_.complain(r_.text);
        return kExitFailure;
    }

    // The identity block was read; bytes that are not a version name none.
    int VersionRead()
    {
        if (VersionShown().empty()) r_.text = kUnknownVersionLine;
        return kExitSuccess;
    }

    int ShowIdentity()
    {
        window_->SendClick(IDC_READ_ID_HEX);
        if (!WaitQuiet()) return Stuck("the identity read");
        const DialogOutcome read = dlg_->Outcome();
        const std::string hex = read.identityHex;
        if (!read.identityRead || hex.empty()) {
            r_.text = "the identity block could not be read";
            p_.complain(r_.text);
            return kExitFailure;
        }
        r_.identity = hex;
        r_.text = "Identity block: " + hex;
        p_.reporter.Note(r_.text);
        return kExitSuccess;
    }

    bool SelectMode(int row)
    {
        if (!window_->SelectComboRow(IDC_MODE, row)) return false;
        return window_->ComboSel(IDC_MODE) == row;
    }

    // Chooses a file through the button's file dialog, as the user does. A
    // button that its option's check box does not enable until the next
    // monitor run (the data button) gets its handler called directly.
    void ChooseWith(int button, const std::string& path, const std::function<void()>& handler)
    {
        window_->QueueFilePath(path);
        if (!window_->SendClick(button)) handler();
    }

    bool ChooseUpgrade()
    {
        if (!SelectMode(kModeRowSpi)) return false;
        if (!window_->Checked(IDC_CODE_OPTION)) window_->SendClick(IDC_CODE_OPTION);
        std::string code = kDefaultCodeImagePath;
        if (!o_.image.empty()) {
            code = o_.image;
            ChooseWith(IDC_CODE_BUTTON, code, [this] { dlg_->OnCodeButton(); });
        }
        r_.image = code;
        sizes_ = JobSizes();
        JobSizes& sizes = sizes_;
        sizes.codeBytes = FileLength(p_.services.files, code);
        if (o_.data) {
            if (!window_->Checked(IDC_DATA_OPTION)) window_->Click(IDC_DATA_OPTION);
            ChooseWith(IDC_DATA_BUTTON, o_.data->path, [this] { dlg_->OnDataButton(); });
            window_->SetWindowText(IDC_DATA_START, Hex(o_.data->start));
            sizes.dataBytes = FileLength(p_.services.files, o_.data->path) + (o_.data->start & 0xFFFF);
        }
        if (o_.series) {
            if (!window_->Checked(IDC_SERIES_OPTION)) window_->Click(IDC_SERIES_OPTION);
            SetSeriesNumber(seriesNumber_);
            window_->SetWindowText(IDC_OFFSET_EDIT, Hex(o_.seriesOffset));
            window_->SetWindowText(IDC_OFFSET_DISPLAY, Hex(o_.seriesOffset));
        }
        return true;
    }

    void SetSeriesNumber(uint32_t number)
    {
        window_->SetWindowText(IDC_SERIES_EDIT, Hex(number));
        window_->SetWindowText(IDC_SERIES_DISPLAY, Hex(number));
        seriesInWindow_ = true;
    }

    bool ChooseSram()
    {
        if (!SelectMode(kModeRowSram)) return false; // refused in flash mode (its message was shown)
        ChooseWith(IDC_CODE_BUTTON, o_.image, [this] { dlg_->OnCodeButton(); });
        r_.image = o_.image;
        sizes_ = JobSizes();
        sizes_.codeBytes = FileLength(p_.services.files, o_.image);
        return true;
    }

    bool ChooseDump()
    {
        if (!SelectMode(kModeRowDump)) return false;
        window_->SetWindowText(IDC_DUMP_LENGTH, std::to_string(o_.dumpBytes));
        ChooseWith(IDC_CODE_BUTTON, o_.dumpFile, [this] { dlg_->OnCodeButton(); });
        r_.image = o_.dumpFile;
        sizes_ = JobSizes();
        sizes_.codeBytes = o_.dumpBytes;
        return true;
    }

    bool ReserveSerial()
    {
        seriesNumber_ = o_.seriesNumber;
        std::string error;
        if (o_.series && p_.serials != nullptr) {
            if (!p_.serials->Take(seriesNumber_, error)) {
                Fail("no series number could be taken: " + error);
                report_.failure = r_.text;
                return false;
            }
            report_.serialTaken = true;
            return SerialChosen();
        }
        if (o_.serialFile.empty()) return SerialChosen();
        if (!ReserveSerialNumber(o_.serialFile, seriesNumber_, error)) {
            r_.text = error;
            p_.complain(error);
            return false;
        }
        reserved_ = true;
        DiagPrintf("Series number %X reserved; %s now holds %s", seriesNumber_, o_.serialFile.c_str(),
                   SerialFileTextAfter(seriesNumber_).c_str());
        return SerialChosen();
    }

    bool SerialChosen()
    {
        report_.hasSerial = o_.series;
        report_.serial = seriesNumber_;
        return true;
    }

    int RunJob()
    {
        // The boxes shown from here on are compared with these counts: a
        // refused mode or file, a refusal of Execute and some failed steps of
        // a job leave no trace but their box.
        const DialogOutcome start = dlg_->Outcome();
        report_.jobReached = true;
        bool chosen = false;
        switch (o_.command) {
        case Command::Upgrade: chosen = ReserveSerial() && ChooseUpgrade(); break;
        case Command::Sram: chosen = ChooseSram(); break;
        case Command::Dump: chosen = ChooseDump(); break;
        default: break;
        }
        const DialogOutcome chosenNow = dlg_->Outcome();
        const bool setupRefused = chosenNow.messagesShown > start.messagesShown;
        if (!chosen || setupRefused) {
            if (report_.failure.empty() && r_.text.empty()) {
                if (!setupRefused) Fail("the job could not be set up in the window");
                else r_.text = OneLine(chosenNow.lastMessage);
            }
            if (report_.failure.empty()) report_.failure = r_.text;
            SeriesNotBurned();
            return kExitFailure;
        }

        const int before = chosenNow.jobsFinished;
        interrupts::SetJobRunning(true);
        report_.jobRunning = true;
        p_.reporter.JobStarting(o_.command, sizes_);
        window_->Click(IDC_EXECUTE);
        const DialogOutcome pressed = dlg_->Outcome();
        if (pressed.jobsFinished == before && pressed.job != JobOutcome::Running) {
            interrupts::SetJobRunning(false);
            report_.jobRunning = false;
            p_.reporter.JobEnded();
            const bool refused = pressed.messagesShown > start.messagesShown;
            Fail(refused ? "the job was refused: " + OneLine(pressed.lastMessage)
                         : "the job did not start (the transmitter does not answer)");
            report_.failure = refused ? pressed.lastMessage : r_.text;
            SeriesNotBurned();
            return kExitFailure;
        }
        const bool ended = Pump(
            [&] {
                const DialogOutcome now = dlg_->Outcome();
                return now.jobsFinished > before && !now.busy;
            },
            kJobLimitMs);
        interrupts::SetJobRunning(false);
        report_.jobRunning = false;
        p_.reporter.JobEnded();
        if (!ended) return Stuck("the job");
        // Taken before the version read that follows: its messages are not the job's.
        const DialogOutcome job = dlg_->Outcome();
        const bool declined = job.questionsDeclined > start.questionsDeclined;
        const bool quietJob = job.messagesShown == start.messagesShown && !declined;
        const std::string lastBox = job.lastMessage;
        r_.declined = declined;
        if (!WaitQuiet()) return Stuck("the version read after the job");

        report_.versionAfter = VersionShown();
        const DialogOutcome settled = dlg_->Outcome();
        const bool succeeded = settled.job == JobOutcome::Succeeded && quietJob;
        if (settled.job == JobOutcome::Succeeded && !succeeded)
            DiagPrintf("The job ended as succeeded, but a message was shown or a question declined: failed\n");
        if (!succeeded) {
            std::string why = settled.jobFailure;
            if (why.empty()) why = declined ? "a question was declined" : lastBox;
            why = OneLine(why);
            p_.complain("the job failed" + (why.empty() ? std::string() : ": " + why));
            r_.text = why.empty() ? "the job failed" : why;
            report_.result = declined ? JobResult::Declined : JobResult::Failed;
            report_.failure = r_.text;
            SeriesNotBurned();
            return kExitFailure;
        }
        r_.text = settled.statusLine;
        if (r_.text.empty()) r_.text = "Complete!";
        report_.result = JobResult::Completed;
        if (o_.series) {
            r_.serial = Hex(seriesNumber_);
            if (report_.serialTaken) p_.serials->Settle(seriesNumber_, true, "");
            // The window's field wraps to 0 after FFFFFFFF; the serial file does not.
            else if (reserved_ && seriesNumber_ == 0xFFFFFFFFu)
                p_.reporter.Note(std::string("Next series number: none (") + kSerialRangeUsedUpText + ")");
            else p_.reporter.Note("Next series number: " + Hex(NextSeriesNumber()));
        }
        return kExitSuccess;
    }

    void Fail(const std::string& why)
    {
        r_.text = why;
        p_.complain(why);
    }

    // The window moves its series number on only after the number was
    // written and verified on the transmitter, whatever else failed.
    bool SeriesReachedDevice() const
    {
        const DialogOutcome outcome = dlg_->Outcome();
        return seriesInWindow_ && outcome.seriesAdvanced && outcome.nextSeriesNumber == seriesNumber_ + 1u;
    }

    // The number the window offers next: the one it moved on to, else the one the session set.
    uint32_t NextSeriesNumber() const
    {
        const DialogOutcome outcome = dlg_->Outcome();
        return outcome.seriesAdvanced ? outcome.nextSeriesNumber : seriesNumber_;
    }

    void SeriesNotBurned()
    {
        if (!o_.series) return;
        if ((report_.serialTaken || p_.serials == nullptr) && SeriesReachedDevice()) {
            // A failure in a step that goes on: the transmitter holds the number all the same.
            r_.serial = Hex(seriesNumber_);
            if (report_.serialTaken) {
                for (char& c : report_.failure)
                    if (c == '\n') c = ' ';
                p_.serials->Settle(seriesNumber_, true, report_.failure);
            }
            p_.complain("series number " + Hex(seriesNumber_) + " was burned on the transmitter although the job failed");
            return;
        }
        if (report_.serialTaken) {
            for (char& c : report_.failure)
                if (c == '\n') c = ' ';
            p_.serials->Settle(seriesNumber_, false, report_.failure);
            p_.complain("series number " + Hex(seriesNumber_) + " was not burned and stays unused (void in the store)");
        } else if (p_.serials != nullptr) {
            return; // none was taken
        } else if (o_.serialFile.empty()) p_.complain("series number " + Hex(seriesNumber_) + " was not burned");
        else if (reserved_)
            p_.complain("series number " + Hex(seriesNumber_) + " was not burned and stays unused; " + o_.serialFile +
                        " holds the next one");
    }

    const Options& o_;
    SessionParts& p_;
    SessionReport& r_;
    IClock& clock_;
    std::unique_ptr<CRODEdizDlg> dlg_;
    std::unique_ptr<HeadlessWindow> window_;
    std::atomic<uint64_t> boxTimeMs_{0}; // spent showing message boxes (waiting for the user)
    uint64_t lastBusPoll_ = 0;
    JobSizes sizes_;
    uint32_t seriesNumber_ = 0;
    bool reserved_ = false; // the serial file already holds the number after seriesNumber_
    bool seriesInWindow_ = false;
    JobReport unreported_;
    JobReport& report_ = p_.report != nullptr ? *p_.report : unreported_;
};

} // namespace

int RunDialogSession(const Options& options, SessionParts& parts, SessionReport& report)
{
    DialogSession session(options, parts, report);
    return session.Run();
}
