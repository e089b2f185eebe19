#include "ports/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>


namespace interrupts {

namespace {

std::atomic<bool> g_jobRunning{false};
std::atomic<void (*)()> g_redirect{nullptr};
std::atomic<void (*)(int)> g_lastWords{nullptr};

void Say(const char* text)
{
    if (write(STDERR_FILENO, text, std::strlen(text)) < 0) {
        // Nothing to be done about a closed error stream.
    }
}

sigset_t EndingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void Install()
{
    signal(SIGPIPE, SIG_IGN);
    const sigset_t set = EndingSignals();
    // Blocked here, so blocked in every thread started later; only the waiter takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        bool noted = false;
        for (;;) {
            int signalNumber = 0;
            if (sigwait(&set, &signalNumber) != 0) continue;
            if (void (*onSignal)() = g_redirect.load()) {
                onSignal();
                continue;
            }
            if (g_jobRunning && !noted) {
                noted = true;
                Say("\nvane-upgrade: the job is writing the transmitter and finishes first; "
                    "interrupt once more to abandon it (the transmitter may then need the upgrade again)\n");
                continue;
            }
            Say("\nvane-upgrade: interrupted\n");
            if (void (*lastWords)(int) = g_lastWords.load()) lastWords(kEndedExitCode);
            std::fflush(nullptr);
            _exit(kEndedExitCode);
        }
    }).detach();
}

void SetJobRunning(bool running) { g_jobRunning = running; }

void Redirect(void (*onSignal)()) { g_redirect = onSignal; }
void SetLastWords(void (*lastWords)(int exitCode)) { g_lastWords = lastWords; }

} // namespace interrupts
