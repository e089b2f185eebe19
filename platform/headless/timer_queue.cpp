#include "platform/headless/timer_queue.h"

#include <algorithm>

#include "platform/headless/state_lock.h"

namespace {

constexpr unsigned kUserTimerMinimum = 10; // USER_TIMER_MINIMUM: shorter periods are raised to it

} // namespace

void TimerQueue::Set(int timerId, unsigned periodMs, uint64_t now)
{
    HeadlessStateLock lock(mutex_);
    const unsigned period = std::max(periodMs, kUserTimerMinimum);
    timers_[timerId] = {period, now + period};
}

void TimerQueue::Kill(int timerId)
{
    HeadlessStateLock lock(mutex_);
    timers_.erase(timerId);
}

void TimerQueue::Clear()
{
    HeadlessStateLock lock(mutex_);
    timers_.clear();
}

bool TimerQueue::Restart(int timerId, uint64_t now)
{
    HeadlessStateLock lock(mutex_);
    auto it = timers_.find(timerId);
    if (it == timers_.end()) return false;
    it->second.dueMs = now + it->second.periodMs;
    return true;
}

bool TimerQueue::RestartIfDue(int timerId, uint64_t now)
{
    HeadlessStateLock lock(mutex_);
    auto it = timers_.find(timerId);
    if (it == timers_.end() || it->second.dueMs > now) return false;
    it->second.dueMs = now + it->second.periodMs;
    return true;
}

std::vector<int> TimerQueue::Due(uint64_t now) const
{
    std::vector<std::pair<uint64_t, int>> due;
    {
        HeadlessStateLock lock(mutex_);
        for (const auto& [id, t] : timers_)
            if (t.dueMs <= now) due.emplace_back(t.dueMs, id);
    }
    std::sort(due.begin(), due.end());
    std::vector<int> ids;
    for (const auto& [when, id] : due) ids.push_back(id);
    return ids;
}

std::optional<uint64_t> TimerQueue::NextDue() const
{
    HeadlessStateLock lock(mutex_);
    std::optional<uint64_t> next;
    for (const auto& [id, t] : timers_)
        if (!next || t.dueMs < *next) next = t.dueMs;
    return next;
}

std::vector<TimerInfo> TimerQueue::Running() const
{
    HeadlessStateLock lock(mutex_);
    std::vector<TimerInfo> all;
    for (const auto& [id, t] : timers_) all.push_back({id, t.periodMs, t.dueMs});
    return all;
}
