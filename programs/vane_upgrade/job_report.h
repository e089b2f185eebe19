#pragma once
// What a dialog session tells a production line's records about its job,
// and where it takes a series number from when a store hands them out.
#include <atomic>
#include <cstdint>
#include <string>

#include "records/job_record.h"

struct JobReport {
    bool jobReached = false;    // a target was found and the job was set up (or tried)
    std::string versionBefore;  // as the window showed it; empty when unknown
    std::string versionAfter;
    JobResult result = JobResult::Failed;
    std::string failure;
    bool hasSerial = false;     // the job was to burn serial
    bool serialTaken = false;   // ... taken from the store
    uint32_t serial = 0;
    // The window's job runs: the session writes none of the fields above meanwhile.
    std::atomic<bool> jobRunning{false};
};

class ISeriesNumberSource {
public:
    virtual ~ISeriesNumberSource() = default;
    // A number no one else ever receives; false with a line of text when none can be had.
    virtual bool Take(uint32_t& number, std::string& error) = 0;
    // After the job: burned (reason: the job's failure, if it failed after the
    // number reached the transmitter), or not burned for reason (void).
    virtual void Settle(uint32_t number, bool burned, const std::string& reason) = 0;
};
