#pragma once
// The record of one target's job on a production line: the series number it
// takes from the store, and the record written when the job ended. A store
// lost during the run takes no new number; what it could not take is kept in
// a local file, named in a message.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "programs/vane_upgrade/job_report.h"
#include "programs/vane_upgrade/cli/options.h"
#include "records/record_store.h"

class JobRecorder final : public ISeriesNumberSource {
public:
    using Complain = std::function<void(const std::string& line)>;
    JobRecorder(IRecordStore& store, const Options& options, Complain complain);

    // The target's USB port, once it is known; or where to ask for it when a number is taken.
    void SetPort(const std::string& port)
    {
        record_.port = port;
        portSource_ = nullptr;
    }
    void SetPortSource(std::function<std::string()> source) { portSource_ = std::move(source); }
    JobReport& Report() { return report_; }

    bool Take(uint32_t& number, std::string& error) override;
    void Settle(uint32_t number, bool burned, const std::string& reason) override;

    // After the session: writes the record of a job that was reached (once).
    void Finish();
    // On the signals' thread, when an interrupt abandons the running job just
    // before the program ends: its record, outcome interrupted (the series
    // number stays taken: whether it reached the transmitter is not known).
    void FinishInterrupted();
    // After Finish: the record did not reach the store; the file that keeps
    // it (empty when it is lost).
    bool RecordNotStored() const { return notStored_; }
    const std::string& UnsavedRecords() const { return unsavedPath_; }

private:
    void WriteRecord();
    void KeepLocally(const std::string& what, const std::string& storeError);

    IRecordStore& store_;
    Complain complain_;
    std::function<std::string()> portSource_;
    std::string slot_; // " (slot 7)" beside the port when the station named the slot
    JobRecord record_;
    JobReport report_;
    uint64_t startMs_;
    bool storeLost_ = false;
    bool finished_ = false;
    std::mutex finishMutex_; // the main thread's Finish and an interrupt's
    bool notStored_ = false;
    std::string unsavedPath_;
    std::string unsettledState_; // the state of the series number the store was not told
};

// --station, or the host name.
std::string StationName(const Options& options);
// Milliseconds since 1970 (UTC).
uint64_t UnixNowMs();
