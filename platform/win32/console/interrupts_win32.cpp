#include "ports/interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>


namespace interrupts {

namespace {

// Windows ends a process whose console is closed about five seconds after
// telling it; a job that finishes sooner still completes.
constexpr DWORD kCloseGraceMs = 4500;
constexpr DWORD kJobPollMs = 50;

std::atomic<bool> g_jobRunning{false};
std::atomic<bool> g_noted{false};
std::atomic<void (*)(int)> g_lastWords{nullptr};
std::atomic<void (*)()> g_redirect{nullptr};

void Say(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

[[noreturn]] void EndInterrupted()
{
    Say("\r\nvane-upgrade: interrupted\r\n");
    if (void (*lastWords)(int) = g_lastWords.load()) lastWords(kEndedExitCode);
    std::fflush(nullptr);
    ExitProcess(kEndedExitCode);
}

// Runs on a thread the system starts for each event, never inside a device command.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (void (*onSignal)() = g_redirect.load()) {
        // A supervisor of several runs: its runs share the console and take
        // the same event themselves; the supervisor only notes it. When the
        // console closes, the runs use the grace the system gives, and so
        // does the supervisor, to write what it can of their ends.
        onSignal();
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
            Sleep(kCloseGraceMs);
            EndInterrupted();
        }
        return FALSE;
    }
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (g_jobRunning && !g_noted.exchange(true)) {
            Say("\r\nvane-upgrade: the job is writing the transmitter and finishes first; "
                "interrupt once more to abandon it (the transmitter may then need the upgrade again)\r\n");
            return TRUE;
        }
        EndInterrupted();
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // No second chance comes: let a running job use the time the system gives.
        for (DWORD waited = 0; g_jobRunning && waited < kCloseGraceMs; waited += kJobPollMs) Sleep(kJobPollMs);
        EndInterrupted();
    default:
        return FALSE;
    }
}

} // namespace

void Install() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void SetJobRunning(bool running) { g_jobRunning = running; }

void Redirect(void (*onSignal)()) { g_redirect = onSignal; }

void SetLastWords(void (*lastWords)(int exitCode)) { g_lastWords = lastWords; }

} // namespace interrupts
