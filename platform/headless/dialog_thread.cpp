#include "platform/headless/dialog_thread.h"

#include <algorithm>

namespace {

// How often a pump waiting to enter looks at whether to give up.
constexpr std::chrono::milliseconds kEnterPoll{2};

} // namespace

bool DialogThread::TryEnterLocked(std::thread::id me)
{
    if (owner_ == me) {
        ++depth_;
        return true;
    }
    if (owner_ != std::thread::id()) return false;
    owner_ = me;
    depth_ = 1;
    return true;
}

void DialogThread::Run(const std::function<void()>& fn)
{
    Waiter me;
    me.work = &fn;
    me.thread = std::this_thread::get_id();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!TryEnterLocked(me.thread)) {
            waiting_.push_back(&me);
            lock.unlock();
            onWaiting_();
            lock.lock();
            changed_.wait(lock, [&] { return me.state == Waiter::Done || me.state == Waiter::Entered; });
            if (me.state == Waiter::Done) return; // the thread inside ran it
        }
    }
    struct LeaveAtEnd {
        DialogThread& thread;
        ~LeaveAtEnd() { thread.Leave(); }
    } leave{*this};
    fn();
}

bool DialogThread::Enter(const std::function<bool()>& giveUp)
{
    Waiter me;
    me.thread = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    if (TryEnterLocked(me.thread)) return true;
    waiting_.push_back(&me);
    for (;;) {
        changed_.wait_for(lock, kEnterPoll, [&] { return me.state == Waiter::Entered; });
        if (me.state == Waiter::Entered) return true;
        lock.unlock();
        const bool stop = giveUp();
        lock.lock();
        if (me.state == Waiter::Entered) return true; // the caller looks at giveUp() again itself
        if (stop) {
            waiting_.erase(std::find(waiting_.begin(), waiting_.end(), &me));
            return false;
        }
    }
}

void DialogThread::Leave()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--depth_ > 0) return;
        owner_ = std::thread::id();
        if (!waiting_.empty()) {
            Waiter* next = waiting_.front();
            waiting_.pop_front();
            owner_ = next->thread;
            depth_ = 1;
            next->state = Waiter::Entered;
        }
    }
    changed_.notify_all();
}

int DialogThread::RunWaitingRequests()
{
    int ran = 0;
    for (;;) {
        Waiter* request = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (owner_ != std::this_thread::get_id()) return ran;
            auto it = std::find_if(waiting_.begin(), waiting_.end(), [](const Waiter* w) { return w->work != nullptr; });
            if (it == waiting_.end()) return ran;
            request = *it;
            waiting_.erase(it);
            request->state = Waiter::Running;
        }
        (*request->work)();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request->state = Waiter::Done; // from here on the waiter may be gone
        }
        changed_.notify_all();
        ++ran;
    }
}

bool DialogThread::Inside() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return owner_ == std::this_thread::get_id();
}
