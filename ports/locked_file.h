#pragma once
// Small files that several stations share (the series-number file, a CSV
// records file), each change under an exclusive lock that holds across
// processes, one file per platform. what names the file in error lines
// ("serial file").
#include <functional>
#include <string>

// A file of at most 64 bytes, read whole.
bool ReadShortFile(const std::string& path, const std::string& what, std::string& text, std::string& error);
// Replaces the file's contents with text without a moment where the file is
// missing or half written; on the disk when it returns.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);
// Under the file's exclusive lock: hands update the file's text (as
// ReadShortFile reads it) and writes what update makes of it, atomically.
// update returns false with the error to leave the file alone.
using FileUpdate = std::function<bool(const std::string& text, std::string& replacement, std::string& error)>;
bool UpdateLockedFile(const std::string& path, const std::string& what, const FileUpdate& update, std::string& error);
// Appends text under an exclusive lock of the whole file (created when
// missing), headerWhenEmpty first when the file is empty, and flushes it to
// the disk. Errors name the file: "PATH: why".
bool AppendLocked(const std::string& path, const std::string& headerWhenEmpty, const std::string& text,
                  std::string& error);
