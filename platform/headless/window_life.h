#pragma once
// The headless window's life: opened, ended (with its result), destroyed.
// Once destroyed (RunModal returned), calls change nothing and reach no
// dialog code; they are counted. Every member may be called from any thread.
#include <mutex>

#include "platform/headless/state_lock.h"

class WindowLife {
public:
    // False when the window was open already or is gone.
    bool Open()
    {
        HeadlessStateLock lock(mutex_);
        if (open_ || destroyed_) return false;
        open_ = true;
        return true;
    }
    // False (and counted) once destroyed.
    bool Live()
    {
        HeadlessStateLock lock(mutex_);
        if (!destroyed_) return true;
        ++callsAfterDestroy_;
        return false;
    }
    // Until the modal loop sees it, the last call wins.
    void End(int result)
    {
        HeadlessStateLock lock(mutex_);
        ended_ = true;
        result_ = result;
    }
    void Destroy()
    {
        HeadlessStateLock lock(mutex_);
        destroyed_ = true;
    }

    bool IsOpen() const { return Read(&WindowLife::open_); }
    bool Ended() const { return Read(&WindowLife::ended_); }
    bool Destroyed() const { return Read(&WindowLife::destroyed_); }
    int Result() const { return Read(&WindowLife::result_); }
    int CallsAfterDestroy() const { return Read(&WindowLife::callsAfterDestroy_); }

private:
    template <typename T>
    T Read(T WindowLife::*field) const
    {
        HeadlessStateLock lock(mutex_);
        return this->*field;
    }

    mutable std::mutex mutex_;
    bool open_ = false;
    bool ended_ = false;
    int result_ = 0;
    bool destroyed_ = false;
    int callsAfterDestroy_ = 0;
};
