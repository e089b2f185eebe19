#pragma once
// Who is inside the dialog. One thread at a time runs the dialog's handlers,
// the hooks of the test and the backend's work for a request; the headless
// window has no thread of its own, so the thread inside is the one that pumps
// (the test thread, the console program's main thread) or, while nobody
// pumps, the one that called.
//
// A request from a thread that is not inside is handed to the thread inside
// and waits for it, as SendMessage to another thread's window does; that
// thread runs it the next time it processes messages (a pump,
// ProcessPostedMessages, AdvanceTime). When the thread inside leaves without
// having run it, the first waiting request gets the dialog and runs on its
// own thread: a request only ever waits for a thread that is inside, so
// nobody pumping is no deadlock. Waiting requests get the dialog in the order
// they came.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>

class DialogThread {
public:
    // onWaiting is called (outside every lock) when a request starts to wait:
    // it wakes a pump that sleeps.
    explicit DialogThread(std::function<void()> onWaiting) : onWaiting_(std::move(onWaiting)) {}
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // Runs fn inside the dialog and returns when it has run.
    void Run(const std::function<void()>& fn);
    template <typename Fn>
    auto Call(Fn fn) -> decltype(fn())
    {
        using Result = decltype(fn());
        if constexpr (std::is_void_v<Result>) {
            Run(fn);
        } else {
            Result result{};
            Run([&] { result = fn(); });
            return result;
        }
    }

    // For a pump: enters and stays inside until Leave, so that requests are
    // handed to it. Waits while another thread is inside, asking giveUp()
    // every few milliseconds; false (not inside) when it said so.
    bool Enter(const std::function<bool()>& giveUp);
    void Leave();

    // Only the thread inside: runs the requests handed to it, oldest first;
    // returns how many ran.
    int RunWaitingRequests();
    bool Inside() const; // the calling thread is inside

private:
    struct Waiter {
        const std::function<void()>* work = nullptr; // nullptr: a pump waiting to enter
        std::thread::id thread;
        enum State { Waiting, Running, Done, Entered } state = Waiting;
    };
    bool TryEnterLocked(std::thread::id me);

    const std::function<void()> onWaiting_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id owner_;
    int depth_ = 0;
    std::deque<Waiter*> waiting_; // never empty while nobody is inside
};
