#pragma once
// The lock of one part of the headless window's state. Each thread counts the
// state locks it holds, so that a call into the dialog's code (or into a hook
// of the test) made while holding one is caught at once instead of
// deadlocking some day: the dialog's code calls back into the window.
#include <cstdio>
#include <cstdlib>
#include <mutex>

class HeadlessStateLock {
public:
    explicit HeadlessStateLock(std::mutex& mutex) : lock_(mutex) { ++Held(); }
    ~HeadlessStateLock() { --Held(); }
    HeadlessStateLock(const HeadlessStateLock&) = delete;
    HeadlessStateLock& operator=(const HeadlessStateLock&) = delete;

    // Before every call out of the backend.
    static void CheckNoneHeld()
    {
        if (Held() == 0) return;
        std::fprintf(stderr, "HeadlessWindow: called into the dialog while holding the state lock\n");
        std::abort();
    }

private:
    static int& Held()
    {
        thread_local int held = 0;
        return held;
    }
    std::lock_guard<std::mutex> lock_;
};
