#pragma once
// Arithmetic the jobs share: piece counts and progress positions.
#include <cstdint>

inline uint32_t CeilDiv(uint64_t value, uint32_t unit) { return static_cast<uint32_t>((value + unit - 1) / unit); }

// done / total as a single-precision quotient, times 100, truncated; 100 for nothing to do.
inline int Percent(uint64_t done, uint64_t total)
{
    if (total == 0) return 100;
    return static_cast<int>(static_cast<float>(done) / static_cast<float>(total) * 100);
}
