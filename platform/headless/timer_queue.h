#pragma once
// The window's timers on the injected clock: periods under 10 ms are raised
// to 10 (USER_TIMER_MINIMUM); a timer keeps its period until killed; setting
// a running timer restarts it. Every member may be called from any thread.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

struct TimerInfo {
    int id = 0;
    unsigned periodMs = 0;
    uint64_t dueMs = 0;                 // next due time on the injected clock
};

class TimerQueue {
public:
    void Set(int timerId, unsigned periodMs, uint64_t now);
    void Kill(int timerId);
    void Clear();
    // Starts the next period of a running timer that fires now; false: not running.
    bool Restart(int timerId, uint64_t now);
    // Like Restart, but only for a timer still due at now (a handler earlier
    // in the round may have killed it or set it anew).
    bool RestartIfDue(int timerId, uint64_t now);
    // The timers due at now, the longest due first.
    std::vector<int> Due(uint64_t now) const;
    std::optional<uint64_t> NextDue() const;
    std::vector<TimerInfo> Running() const; // by identifier

private:
    struct Timer {
        unsigned periodMs = 0;
        uint64_t dueMs = 0;
    };
    mutable std::mutex mutex_;
    std::map<int, Timer> timers_;
};
