#pragma once
// What a production line keeps about each target's job, and about each
// series number handed out by a shared store.
#include <cstdint>
#include <optional>
#include <string>

enum class JobResult { Completed, Failed, Declined, Interrupted };

struct JobRecord {
    std::string startUtc;       // "2026-12-08T10:45:03.120Z"
    std::string endUtc;
    std::string station;        // --station, by default the host name
    std::string port;           // the USB port of the target ("emulated" for the emulated one)
    std::string command;        // upgrade, sram, dump
    std::string versionBefore;  // as the window showed it; empty when unknown
    std::string versionAfter;
    std::string image;          // the image file as given
    std::string imageSha256;    // lower-case hexadecimal; empty without an image
    std::optional<uint32_t> serial;
    JobResult result = JobResult::Failed;
    std::string failure;        // the message that ended a job that did not complete
    uint64_t durationMs = 0;
};

// A number taken stays taken: it is burned (the transmitter holds it; the
// reason is the failure of a job that failed after it), or void with its
// reason (it never reached the transmitter). A number still "taken" after its
// job ended belongs to a station that was stopped or interrupted while the job
// ran: whether the transmitter holds it is not known, and it is never handed
// out again.
enum class SerialState { Taken, Burned, Void };

struct SerialEntry {
    uint32_t number = 0;
    SerialState state = SerialState::Taken;
    std::string station;
    std::string port;
    std::string takenUtc;
    std::string reason;         // why a void number was not burned; the failure beside a burned one
};

const char* JobResultName(JobResult result);
std::optional<JobResult> JobResultFromName(const std::string& name);
const char* SerialStateName(SerialState state);
std::optional<SerialState> SerialStateFromName(const std::string& name);
// "2026-12-08T10:45:03.120Z" for milliseconds since 1970 (UTC).
std::string UtcText(uint64_t unixMs);
