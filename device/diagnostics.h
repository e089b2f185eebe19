#pragma once
// Diagnostic lines: the tool's trace of what it does, written with printf-style
// formats. They go to standard output unless a front end redirects them
// (a log file beside the program, the --log option, a test's capture).
#include <functional>
#include <string>

#if defined(__GNUC__)
#define VANE_PRINTF_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define VANE_PRINTF_FORMAT(a, b)
#endif

using DiagnosticSink = std::function<void(const std::string& text)>;

// Writes one formatted diagnostic text to every sink (thread-safe).
void DiagPrintf(const char* format, ...) VANE_PRINTF_FORMAT(1, 2);
// Debugger output (OutputDebugString on Windows); routed like the lines above
// but marked, so that a log can tell them apart.
void DiagDebugOutput(const std::string& text);

// Sinks. By default the text goes to standard output.
void SetDiagnosticSink(DiagnosticSink sink);        // replaces all sinks
void AddDiagnosticSink(DiagnosticSink sink);
void ResetDiagnosticSinks();                         // back to standard output
void SilenceDiagnostics();                           // no sink at all

// Collects diagnostic lines while it lives (tests).
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    std::string Text() const;
    bool Contains(const std::string& needle) const { return Text().find(needle) != std::string::npos; }
    size_t Count(const std::string& needle) const;
    void Clear();
private:
    struct State;
    State* state_;
};
