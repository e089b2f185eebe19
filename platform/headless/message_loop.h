#pragma once
// The message queue of the headless window and the loop that runs it: posted
// messages and tasks, the timers on the injected clock, the requests other
// threads hand to the thread inside the dialog, and the pump.
//
// Posting works from any thread and never waits. Everything else that runs
// messages does so inside the dialog (see DialogThread): requests handed over
// first, then posted messages in order, then due timers, the longest due
// first. Messages that Windows posts (keys, clicks, timers, system commands,
// dropped files) reach the dialog through deliver().
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/messages.h"
#include "platform/headless/dialog_thread.h"
#include "platform/headless/timer_queue.h"
#include "platform/headless/window_life.h"
#include "ports/clock.h"

class MessageLoop {
public:
    // Timers run on clock; AdvanceTime needs virtualClock.
    MessageLoop(DialogThread& thread, WindowLife& life, IClock& clock, VirtualClock* virtualClock,
                std::function<void(const Message&)> deliver);

    // --- any thread ---
    void PostMessage(const Message& message);            // copies message.dropped
    void PostTask(std::function<void()> task);
    void Wake();                                         // a waiting pump looks at its condition again
    void SetSafetyLimit(std::chrono::milliseconds limit); // 0: none
    bool GaveUp() const;
    TimerQueue& Timers() { return timers_; }
    const TimerQueue& Timers() const { return timers_; }
    // Processes messages inside the dialog until done() holds or the safety
    // limit (of real time) runs out; the latter sets GaveUp(). Waits a few ms
    // of real time at most before looking at done() again. While another
    // thread is inside, waits for it to leave (or for done()).
    void Pump(const std::function<bool()>& done);
    // For a window that lives in another toolkit's event loop: wake() runs
    // (on the posting thread, outside every lock) whenever the loop is woken,
    // and the pump waits through idle(ms) instead of sleeping by itself, ms
    // being at most the time to the next timer (or poll when none is sooner).
    void SetHost(std::function<void()> wake, std::function<void(std::chrono::milliseconds)> idle,
                 std::chrono::milliseconds poll);

    // --- inside the dialog ---
    int ProcessPosted();                                 // everything posted so far; returns the count
    bool FireTimer(int timerId);                         // false: not running
    int RunDueTimers();                                  // returns how many fired
    bool AdvanceTime(uint64_t ms);                       // false: no virtual clock
    void SetTimer(int timerId, unsigned periodMs);       // due one period from now

private:
    struct Posted {
        Message message;
        std::shared_ptr<std::vector<std::string>> dropped;
        std::function<void()> task;
    };
    void Push(Posted posted);
    bool ProcessOnePosted();
    void DeliverTimer(int timerId);
    uint64_t Wakes() const;
    void CallHostWake();
    std::chrono::milliseconds HostWait() const;

    DialogThread& thread_;
    WindowLife& life_;
    IClock& clock_;
    VirtualClock* const virtualClock_;
    const std::function<void(const Message&)> deliver_;
    TimerQueue timers_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Posted> posted_;
    uint64_t wakes_ = 0;
    std::chrono::milliseconds safetyLimit_{60000};
    bool gaveUp_ = false;
    std::function<void()> hostWake_;
    std::function<void(std::chrono::milliseconds)> hostIdle_;
    std::chrono::milliseconds hostPoll_{0};
};
