#include "ports/clock.h"

#include <chrono>
#include <thread>

uint64_t SystemClock::NowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void VirtualClock::Sleep(uint32_t ms)
{
    ++sleeps_;
    slept_ += ms;
    now_ += ms;
    // Let other threads run, as a real pause would.
    std::this_thread::yield();
}
