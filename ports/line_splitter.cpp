#include "ports/line_splitter.h"

void LineSplitter::Add(const char* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            lines_.push_back(std::move(pending_));
            pending_.clear();
        } else if (pending_.size() < limit_) {
            pending_ += bytes[i];
        }
    }
}

std::optional<std::string> LineSplitter::Next()
{
    if (next_ >= lines_.size()) {
        lines_.clear();
        next_ = 0;
        return std::nullopt;
    }
    return std::move(lines_[next_++]);
}

std::optional<std::string> LineSplitter::Rest()
{
    if (pending_.empty()) return std::nullopt;
    std::string rest = std::move(pending_);
    pending_.clear();
    return rest;
}
