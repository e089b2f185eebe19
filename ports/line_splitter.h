#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Splits what arrives on a pipe into lines. A line longer than the limit is
// cut there (nothing a run writes comes near it).
class LineSplitter {
public:
    explicit LineSplitter(size_t limit = 64 * 1024) : limit_(limit) {}
    void Add(const char* bytes, size_t count);
    std::optional<std::string> Next();
    // What is left without a newline, at the end of the stream.
    std::optional<std::string> Rest();

private:
    size_t limit_;
    std::string pending_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
};
