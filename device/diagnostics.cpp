#include "device/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::mutex& SinkMutex()
{
    static std::mutex m;
    return m;
}

std::vector<DiagnosticSink>& Sinks()
{
    static std::vector<DiagnosticSink> sinks{[](const std::string& t) {
        std::fwrite(t.data(), 1, t.size(), stdout);
        std::fflush(stdout);
    }};
    return sinks;
}

void Emit(const std::string& text)
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    for (auto& sink : Sinks()) sink(text);
}

} // namespace

void DiagPrintf(const char* format, ...)
{
    char stackBuffer[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
    va_end(args);
    std::string text;
    if (needed < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof stackBuffer) {
        text.assign(stackBuffer, static_cast<size_t>(needed));
    } else {
        text.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), format, copy);
        text.resize(static_cast<size_t>(needed));
    }
    va_end(copy);
    Emit(text);
}

void DiagDebugOutput(const std::string& text)
{
    Emit(text);
}

void SetDiagnosticSink(DiagnosticSink sink)
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sinks().clear();
    Sinks().push_back(std::move(sink));
}

void AddDiagnosticSink(DiagnosticSink sink)
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sinks().push_back(std::move(sink));
}

void ResetDiagnosticSinks()
{
    SetDiagnosticSink([](const std::string& t) {
        std::fwrite(t.data(), 1, t.size(), stdout);
        std::fflush(stdout);
    });
}

void SilenceDiagnostics()
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sinks().clear();
}

struct DiagnosticCapture::State {
    mutable std::mutex mutex;
    std::string text;
};

DiagnosticCapture::DiagnosticCapture() : state_(new State)
{
    State* s = state_;
    SetDiagnosticSink([s](const std::string& t) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->text += t;
    });
}

DiagnosticCapture::~DiagnosticCapture()
{
    SilenceDiagnostics();
    delete state_;
}

std::string DiagnosticCapture::Text() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->text;
}

size_t DiagnosticCapture::Count(const std::string& needle) const
{
    std::string t = Text();
    size_t n = 0;
    for (size_t pos = t.find(needle); pos != std::string::npos; pos = t.find(needle, pos + needle.size())) ++n;
    return n;
}

void DiagnosticCapture::Clear()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->text.clear();
}
