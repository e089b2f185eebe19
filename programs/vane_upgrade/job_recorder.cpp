#include "programs/vane_upgrade/job_recorder.h"

#include <chrono>
#include <cstdio>

#include "firmware/image_name.h"
#include "ports/file_digest.h"
#include "ports/host_name.h"
#include "programs/vane_upgrade/cli/record_store_access.h"
#include "programs/vane_upgrade/records_commands.h"

namespace {

const char* CommandName(Command command)
{
    switch (command) {
    case Command::Upgrade: return "upgrade";
    case Command::Sram: return "sram";
    case Command::Dump: return "dump";
    default: break;
    }
    return "";
}

} // namespace

uint64_t UnixNowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string StationName(const Options& options)
{
    if (!options.station.empty()) return options.station;
    const std::string host = HostName();
    return host.empty() ? "unknown" : host;
}

JobRecorder::JobRecorder(IRecordStore& store, const Options& options, Complain complain)
    : store_(store), complain_(std::move(complain)), startMs_(UnixNowMs())
{
    record_.station = StationName(options);
    record_.command = CommandName(options.command);
    if (!options.slotName.empty()) slot_ = " (slot " + options.slotName + ")";
    if (options.command == Command::Upgrade) record_.image = options.image.empty() ? kDefaultCodeImagePath : options.image;
    if (options.command == Command::Sram) record_.image = options.image;
    for (char& c : record_.image)
        if (c == '\\') c = '/'; // the window's default path is written the Windows way
    std::string error;
    if (!record_.image.empty() && !FileSha256(record_.image, record_.imageSha256, error)) complain_(error);
}

bool JobRecorder::Take(uint32_t& number, std::string& error)
{
    if (storeLost_) {
        error = "the records store was lost";
        return false;
    }
    if (portSource_) record_.port = portSource_();
    return store_.TakeSerial(record_.station, record_.port + slot_, number, error);
}

void JobRecorder::Settle(uint32_t number, bool burned, const std::string& reason)
{
    std::string error;
    const SerialState state = burned ? SerialState::Burned : SerialState::Void;
    if (store_.SettleSerial(number, state, reason, error)) return;
    storeLost_ = true;
    unsettledState_ = SerialStateName(state);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", number);
    complain_(std::string("the records store did not take series number ") + hex + " as " + unsettledState_ + ": " + error);
}

void JobRecorder::FinishInterrupted()
{
    std::unique_lock<std::mutex> lock(finishMutex_, std::try_to_lock);
    // Outside the job the session may be writing the report, or the store in
    // use: nothing is written then (as before an interrupt ever came).
    if (!lock.owns_lock() || !report_.jobRunning || finished_) return;
    report_.result = JobResult::Interrupted;
    report_.failure = "interrupted";
    WriteRecord();
}

void JobRecorder::Finish()
{
    std::lock_guard<std::mutex> lock(finishMutex_);
    WriteRecord();
}

void JobRecorder::WriteRecord()
{
    if (!report_.jobReached || finished_) return;
    finished_ = true;
    const uint64_t endMs = UnixNowMs();
    record_.startUtc = UtcText(startMs_);
    record_.endUtc = UtcText(endMs);
    record_.durationMs = endMs - startMs_;
    record_.versionBefore = report_.versionBefore;
    record_.versionAfter = report_.versionAfter;
    record_.result = report_.result;
    record_.failure = report_.result == JobResult::Completed ? "" : report_.failure;
    for (char& c : record_.failure) // a message box's text runs over lines; a record's is one
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (report_.hasSerial) record_.serial = report_.serial;
    if (!slot_.empty() && !record_.port.ends_with(slot_)) record_.port += slot_;
    std::string error;
    if (unsettledState_.empty() && store_.AddRecord(record_, error)) return;
    KeepLocally("the job's record", error);
}

void JobRecorder::KeepLocally(const std::string& what, const std::string& storeError)
{
    std::string path, error;
    const std::string why = storeError.empty() ? "" : " (" + storeError + ")";
    notStored_ = true;
    if (KeepUnsavedLine(RecordJsonLine(record_, unsettledState_), path, error)) {
        unsavedPath_ = path;
        complain_("the records store did not take " + what + why + "; it is kept in " + path);
    } else {
        complain_("the records store did not take " + what + why + ", and " + error + ": it is lost");
    }
}
