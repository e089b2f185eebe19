#pragma once
// Time as the program sees it. Every pause of the tool goes through an IClock,
// so that tests run on virtual time and never sleep for real.
#include <atomic>
#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary origin; never goes backwards.
    virtual uint64_t NowMs() = 0;
    // Blocks the calling thread for ms milliseconds (virtual clocks just advance).
    virtual void Sleep(uint32_t ms) = 0;
};

// Wall-clock time of the machine.
class SystemClock final : public IClock {
public:
    uint64_t NowMs() override;
    void Sleep(uint32_t ms) override;
};

// Virtual time: Sleep advances the clock at once. Threads that sleep
// concurrently each add their pause, which keeps every wait bounded and
// every test free of real delays.
class VirtualClock final : public IClock {
public:
    uint64_t NowMs() override { return now_.load(); }
    void Sleep(uint32_t ms) override;
    void Advance(uint64_t ms) { now_ += ms; }
    // Number of Sleep calls so far, for tests that count pauses.
    uint64_t SleepCount() const { return sleeps_.load(); }
    uint64_t TotalSleptMs() const { return slept_.load(); }
private:
    std::atomic<uint64_t> now_{0};
    std::atomic<uint64_t> sleeps_{0};
    std::atomic<uint64_t> slept_{0};
};
