#include "records/job_record.h"

#include <cstdio>
#include <ctime>

const char* JobResultName(JobResult result)
{
    switch (result) {
    case JobResult::Completed: return "completed";
    case JobResult::Declined: return "declined";
    case JobResult::Interrupted: return "interrupted";
    case JobResult::Failed: break;
    }
    return "failed";
}

std::optional<JobResult> JobResultFromName(const std::string& name)
{
    for (JobResult result : {JobResult::Completed, JobResult::Failed, JobResult::Declined, JobResult::Interrupted})
        if (name == JobResultName(result)) return result;
    return std::nullopt;
}

const char* SerialStateName(SerialState state)
{
    switch (state) {
    case SerialState::Burned: return "burned";
    case SerialState::Void: return "void";
    case SerialState::Taken: break;
    }
    return "taken";
}

std::optional<SerialState> SerialStateFromName(const std::string& name)
{
    for (SerialState state : {SerialState::Taken, SerialState::Burned, SerialState::Void})
        if (name == SerialStateName(state)) return state;
    return std::nullopt;
}

std::string UtcText(uint64_t unixMs)
{
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<unsigned>(unixMs % 1000));
    return text;
}
