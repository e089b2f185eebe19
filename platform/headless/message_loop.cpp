#include "platform/headless/message_loop.h"

#include <optional>

#include "platform/headless/state_lock.h"

namespace {

// Longest real-time sleep of a pump before it looks at its condition again.
constexpr std::chrono::milliseconds kPumpPoll{2};

} // namespace

MessageLoop::MessageLoop(DialogThread& thread, WindowLife& life, IClock& clock, VirtualClock* virtualClock,
                         std::function<void(const Message&)> deliver)
    : thread_(thread), life_(life), clock_(clock), virtualClock_(virtualClock), deliver_(std::move(deliver))
{
}

// ---------------------------------------------------------------- any thread

void MessageLoop::Push(Posted posted)
{
    {
        HeadlessStateLock lock(mutex_);
        posted_.push_back(std::move(posted));
        ++wakes_;
    }
    wake_.notify_all();
    CallHostWake();
}

void MessageLoop::PostMessage(const Message& message)
{
    Posted p;
    p.message = message;
    if (message.dropped) {
        p.dropped = std::make_shared<std::vector<std::string>>(*message.dropped);
        p.message.dropped = nullptr;
    }
    Push(std::move(p));
}

void MessageLoop::PostTask(std::function<void()> task)
{
    Posted p;
    p.task = std::move(task);
    Push(std::move(p));
}

void MessageLoop::Wake()
{
    {
        HeadlessStateLock lock(mutex_);
        ++wakes_;
    }
    wake_.notify_all();
    CallHostWake();
}

void MessageLoop::SetHost(std::function<void()> wake, std::function<void(std::chrono::milliseconds)> idle,
                          std::chrono::milliseconds poll)
{
    HeadlessStateLock lock(mutex_);
    hostWake_ = std::move(wake);
    hostIdle_ = std::move(idle);
    hostPoll_ = poll;
}

void MessageLoop::CallHostWake()
{
    std::function<void()> wake;
    {
        HeadlessStateLock lock(mutex_);
        wake = hostWake_;
    }
    if (wake) wake();
}

std::chrono::milliseconds MessageLoop::HostWait() const
{
    std::chrono::milliseconds wait;
    {
        HeadlessStateLock lock(mutex_);
        wait = hostPoll_;
    }
    if (const std::optional<uint64_t> next = timers_.NextDue()) {
        const uint64_t now = clock_.NowMs();
        const uint64_t until = *next > now ? *next - now : 0;
        if (until < static_cast<uint64_t>(wait.count())) wait = std::chrono::milliseconds(until);
    }
    return wait;
}

uint64_t MessageLoop::Wakes() const
{
    HeadlessStateLock lock(mutex_);
    return wakes_;
}

void MessageLoop::SetSafetyLimit(std::chrono::milliseconds limit)
{
    HeadlessStateLock lock(mutex_);
    safetyLimit_ = limit;
}

bool MessageLoop::GaveUp() const
{
    HeadlessStateLock lock(mutex_);
    return gaveUp_;
}

void MessageLoop::Pump(const std::function<bool()>& done)
{
    HeadlessStateLock::CheckNoneHeld();
    std::chrono::milliseconds limit;
    {
        HeadlessStateLock lock(mutex_);
        limit = safetyLimit_;
    }
    const auto start = std::chrono::steady_clock::now();
    auto expired = [&] { return limit.count() > 0 && std::chrono::steady_clock::now() - start >= limit; };
    auto giveUp = [&] {
        HeadlessStateLock lock(mutex_);
        gaveUp_ = true;
    };
    if (!thread_.Enter([&] { return done() || expired(); })) {
        if (!done()) giveUp();
        return;
    }
    struct LeaveAtEnd {
        DialogThread& thread;
        ~LeaveAtEnd() { thread.Leave(); }
    } leave{thread_};
    while (!done()) {
        const uint64_t seen = Wakes();
        if (thread_.RunWaitingRequests() > 0) continue;
        if (ProcessOnePosted()) continue;
        if (RunDueTimers() > 0) continue;
        if (expired()) {
            giveUp();
            return;
        }
        std::function<void(std::chrono::milliseconds)> idle;
        {
            HeadlessStateLock lock(mutex_);
            idle = hostIdle_;
        }
        if (idle) {
            idle(HostWait());
            continue;
        }
        // Wakes on a post, a handed request or any Wake(); else polls done() again soon.
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, kPumpPoll, [&] { return !posted_.empty() || wakes_ != seen; });
    }
}

// ---------------------------------------------------------------- inside the dialog

bool MessageLoop::ProcessOnePosted()
{
    Posted p;
    {
        HeadlessStateLock lock(mutex_);
        if (posted_.empty()) return false;
        p = std::move(posted_.front());
        posted_.pop_front();
    }
    HeadlessStateLock::CheckNoneHeld();
    if (p.task) {
        p.task();
        return true;
    }
    Message m = p.message;
    if (p.dropped) m.dropped = p.dropped.get();
    deliver_(m);
    return true;
}

int MessageLoop::ProcessPosted()
{
    int count = 0;
    for (;;) {
        thread_.RunWaitingRequests();
        if (!ProcessOnePosted()) return count;
        ++count;
    }
}

void MessageLoop::DeliverTimer(int timerId)
{
    Message m;
    m.message = WM_TIMER;
    m.wParam = static_cast<uintptr_t>(timerId);
    deliver_(m);
}

void MessageLoop::SetTimer(int timerId, unsigned periodMs)
{
    timers_.Set(timerId, periodMs, clock_.NowMs());
    Wake();
}

bool MessageLoop::FireTimer(int timerId)
{
    if (!life_.Live() || !timers_.Restart(timerId, clock_.NowMs())) return false;
    DeliverTimer(timerId);
    return true;
}

int MessageLoop::RunDueTimers()
{
    if (life_.Destroyed()) return 0;
    const uint64_t now = clock_.NowMs();
    int fired = 0;
    for (int id : timers_.Due(now)) {
        // Killed or set anew by a handler of an earlier timer of this round.
        if (life_.Destroyed() || !timers_.RestartIfDue(id, now)) continue;
        DeliverTimer(id);
        ++fired;
    }
    return fired;
}

bool MessageLoop::AdvanceTime(uint64_t ms)
{
    if (!virtualClock_) return false;
    const uint64_t target = virtualClock_->NowMs() + ms;
    for (;;) {
        ProcessPosted();
        const int fired = RunDueTimers();
        if (life_.Destroyed()) break;
        const std::optional<uint64_t> next = timers_.NextDue();
        const uint64_t now = virtualClock_->NowMs();
        if (!next || *next > target) break;
        if (*next > now) {
            virtualClock_->Advance(*next - now);
        } else if (fired == 0) {
            break; // nothing came due that could fire
        }
    }
    const uint64_t now = virtualClock_->NowMs();
    if (now < target) virtualClock_->Advance(target - now);
    ProcessPosted();
    return true;
}
