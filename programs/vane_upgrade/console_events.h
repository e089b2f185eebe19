#pragma once
// What a run of the console program has to tell, as events: the target found,
// the window's texts as they change, the progress of each phase of a job,
// questions with their answers, message boxes, and the result. The reporter
// makes them from the window (its text and progress listeners, any thread)
// and from the program's own steps; a sink presents them (for people, or one
// JSON object per line for machines).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "ports/clock.h"
#include "programs/vane_upgrade/options.h"
#include "programs/vane_upgrade/progress_figures.h"

enum class EventKind { Target, Status, Product, Version, Step, Progress, Question, Message, Note, Error, Result };

// The name of the kind in the machine output ("target", "progress", ...).
const char* EventName(EventKind kind);

struct ConsoleEvent {
    EventKind kind = EventKind::Note;
    uint64_t wallMs = 0;  // UTC, milliseconds since 1970
    std::string port;     // the target's port (or the name given for it)
    std::string text;     // status, product, version line, step, question, message, note, error, result
    std::string caption;  // question, message
    std::string node;     // target
    std::string version;  // version: the bare name ("" when the line names none); target of a list
    std::string answer;   // question: "ok" or "cancel"

    // progress
    std::string phase;    // erase, write, data, verify, sram, dump, job
    int percent = 0;
    std::optional<uint64_t> bytes;
    std::optional<uint64_t> total;
    std::optional<double> bytesPerSecond;
    std::optional<uint64_t> secondsLeft;
    bool phaseStart = false; // the first figures of a new run of the bar

    // result
    std::string outcome;  // completed, failed, declined, no-target, usage, interrupted
    int exitCode = 0;
    double seconds = 0;
    std::string versionBefore, versionAfter, serial, image, identity;
    // With --records: the job's record did not reach the store; it is kept in
    // unsavedRecords (empty when even that file could not take it).
    bool recordNotStored = false;
    std::string unsavedRecords;
    // records and serial-next: the list printed ("records" or "serials", a
    // JSON array), the next series number set.
    std::string listName, listJson;
    std::string nextSerial;
};

// ", record not stored: FILE" when the result's record did not reach the store, else "".
std::string RecordNotStoredNote(bool notStored, const std::string& unsavedRecords);

class IEventSink {
public:
    virtual ~IEventSink() = default;
    virtual void Emit(const ConsoleEvent& event) = 0;
};

// The phase of a job that a step text (and the command) stands for.
std::string PhaseOfStep(const std::string& step, Command command);
// "Current version:Vane_TX_V1030" -> "Vane_TX_V1030"; "" when the line names none.
std::string VersionOfLine(const std::string& line);
// The outcome name of an exit code.
std::string OutcomeOfExitCode(int exitCode, bool declined);

class EventReporter {
public:
    EventReporter(IEventSink& sink, IClock& clock, std::function<uint64_t()> wallMs, std::string port);

    // The port's name, when it becomes known (the name given by the user stays).
    void SetPort(const std::string& port, bool fixed = false);
    // Asked for the port and node of the target at each connection.
    void SetLocator(std::function<void(std::string& port, std::string& node)> locate);

    // The window's listeners.
    void OnText(int controlId, const std::string& text);
    void OnProgress(int percent);

    // The job of command starts (sizes: the bytes a full bar stands for), and ends.
    void JobStarting(Command command, const JobSizes& sizes);
    void JobEnded();

    void Target(const std::string& port, const std::string& node, const std::string& version);
    void Question(const std::string& caption, const std::string& text, bool ok);
    void Message(const std::string& caption, const std::string& text);
    void Note(const std::string& text);
    void Error(const std::string& text);
    // The last event of a run: fields of result other than the common ones,
    // versions and duration are filled here.
    void Result(ConsoleEvent result);

    uint64_t ElapsedMs() const { return clock_.NowMs() - startMs_; }

private:
    ConsoleEvent Make(EventKind kind) const;
    void EmitLocked(const ConsoleEvent& event) { sink_.Emit(event); }
    void StepLocked(const std::string& step);
    uint64_t PhaseBytesLocked(const std::string& phase) const;

    mutable std::mutex mutex_;
    IEventSink& sink_;
    IClock& clock_;
    std::function<uint64_t()> wallMs_;
    std::function<void(std::string&, std::string&)> locate_;
    std::string port_;
    bool portFixed_ = false;
    uint64_t startMs_ = 0;
    std::string status_, product_, versionLine_, step_;
    std::string knownVersion_, versionBefore_;
    bool jobRunning_ = false, jobStarted_ = false;
    Command command_ = Command::Upgrade;
    JobSizes sizes_;
    bool codeVerified_ = false;
    std::string phase_;
    int lastPercent_ = 0;
    bool runStarted_ = false;
    bool freshRun_ = false; // no figures of the current run were told yet
    ProgressEstimator estimator_;
};
