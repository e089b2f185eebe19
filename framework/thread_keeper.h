#pragma once
// Starts the dialog's worker and monitor threads and keeps track of them, so
// that the dialog can wait for every one before it goes away.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class ThreadKeeper {
public:
    ThreadKeeper() = default;
    ~ThreadKeeper(); // joins every thread still known
    ThreadKeeper(const ThreadKeeper&) = delete;
    ThreadKeeper& operator=(const ThreadKeeper&) = delete;

    // Runs fn on a thread of its own.
    void Start(std::function<void()> fn);
    // Threads that have not returned yet.
    int Running() const { return running_.load(); }
    bool Idle() const { return running_.load() == 0; }
    // Joins the threads that have returned.
    void Reap();
    // Waits until every thread has returned, letting wait() run the window's
    // messages meanwhile (a thread may be waiting on the window), then joins them.
    void WaitAll(const std::function<void(const std::function<bool()>& done)>& wait);

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::list<Worker> workers_;
    std::atomic<int> running_{0};
};
