#pragma once
// The events for machines: one JSON object per line on the output, nothing
// else. The fields are described in docs/json-events.md; kJsonEventsVersion
// changes whenever a field changes its meaning or goes away.
#include <cstdio>
#include <mutex>
#include <string>

#include "programs/vane_upgrade/output/console_events.h"

constexpr int kJsonEventsVersion = 1;

// "2026-12-08T10:45:12.345Z".
std::string FormatUtcTime(uint64_t wallMs);
// The event as one line of JSON (without the line end).
std::string JsonEventLine(const ConsoleEvent& event);

class JsonOutput final : public IEventSink {
public:
    explicit JsonOutput(std::FILE* out) : out_(out) {}
    void Emit(const ConsoleEvent& event) override;

private:
    std::mutex mutex_;
    std::FILE* out_;
};
