#pragma once
// Ctrl-C and the other ending signals. While a job writes the flash, the
// first one does not stop it (the window, too, lets a running job finish
// before it closes): it is noted, and a second one abandons the job. Outside
// a job the program ends at once. The signals are taken by a thread of their
// own, so that no thread is interrupted inside a device command (a restarted
// SG_IO would send its command twice). A closed output pipe is no reason to
// stop either: writes to it just fail.
namespace interrupts {

// The exit code of a program an interrupt ends: 128 + SIGINT, as shells tell it.
constexpr int kEndedExitCode = 130;

// Call first in main, before any other thread exists.
void Install();
// Whether a job holds the device now.
void SetJobRunning(bool running);
// A supervisor of several runs takes every signal itself: from now on each
// one calls onSignal (on the signal thread; it must only note it, for example
// by writing to a pipe) instead of the rule above.
void Redirect(void (*onSignal)());
// Called on the signals' thread just before an interrupt ends the program
// (the output tells its result); null for none.
void SetLastWords(void (*lastWords)(int exitCode));

} // namespace interrupts
