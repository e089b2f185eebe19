#include "framework/thread_keeper.h"

ThreadKeeper::~ThreadKeeper()
{
    std::list<Worker> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all.swap(workers_);
    }
    for (Worker& w : all)
        if (w.thread.joinable()) w.thread.join();
}

void ThreadKeeper::Start(std::function<void()> fn)
{
    Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    ++running_;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.push_back({std::thread([this, fn = std::move(fn), done]() {
                            fn();
                            done->store(true);
                            --running_;
                        }),
                        done});
}

void ThreadKeeper::Reap()
{
    std::list<Worker> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done->load()) {
                finished.splice(finished.end(), workers_, it++);
            } else {
                ++it;
            }
        }
    }
    for (Worker& w : finished) w.thread.join();
}

void ThreadKeeper::WaitAll(const std::function<void(const std::function<bool()>& done)>& wait)
{
    wait([this] { return Idle(); });
    Reap();
}
