#pragma once
// The exit codes of vane-upgrade.
constexpr int kExitSuccess = 0;  // the job reached its completion, every step done and verified
constexpr int kExitFailure = 1;  // the job failed, was declined, refused or never started
constexpr int kExitUsage = 2;    // wrong usage: nothing was sent to a device
constexpr int kExitNoTarget = 3; // no target was found after the monitor's attempts
// The job completed on the device, but its record did not reach the store of
// --records (it is kept in the unsaved-records file, or lost when even that failed).
constexpr int kExitRecordNotStored = 4;
constexpr int kExitInterrupted = 130; // ended by a signal (Ctrl-C)
