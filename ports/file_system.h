#pragma once
// The file layer: every file the tool reads or writes goes through it.
// Backends: Win32 (CreateFile, system messages) and POSIX (stdio, C library
// messages; backslashes in paths are taken as separators).
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

struct FileStatus {
    uint64_t length = 0;
    int64_t modifiedTime = 0; // seconds since 1970, UTC
};

class IFile {
public:
    virtual ~IFile() = default;
    virtual uint64_t Length() = 0;
    virtual bool Status(FileStatus& status) = 0;
    // Reads up to count bytes; returns how many were read (0 at the end or on error).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes all count bytes; false when not all could be written.
    virtual bool Write(const void* buffer, size_t count) = 0;
    // Flushes to the medium (fsync); false on failure.
    virtual bool Sync() = 0;
    virtual void Close() = 0;
};

enum class FileOpenMode {
    Read,           // existing file, reading, sharing allowed for reading and writing
    CreateWrite,    // create or truncate, writing, sharing allowed
    CreateReadWrite,// create when missing (never truncate), reading and writing
    CreateNew,      // create a file that does not exist yet (fails when it does), writing
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // Opens a file; on failure returns null and sets errorText to the
    // platform's description of the failure (with the file name on Windows).
    virtual std::unique_ptr<IFile> Open(const std::string& path, FileOpenMode mode, std::string& errorText) = 0;
    // Local broken-down time of a file time; false when it cannot be converted.
    virtual bool ToLocalTime(int64_t time, std::tm& local) = 0;
    // Full path of the program file.
    virtual std::string ProgramPath() = 0;
    virtual bool Remove(const std::string& path) = 0;
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // Creates one folder unless it exists; true when it exists afterwards.
    virtual bool CreateFolder(const std::string& path) = 0;
    // Removes a folder when it is empty; false otherwise.
    virtual bool RemoveFolder(const std::string& path) = 0;
    // The folder for copies of flash bytes that a job erases and writes back,
    // in the user's own state folder; it may not exist yet. "" when the
    // system names no such folder.
    virtual std::string BackupFolder() = 0;
};

// The standard file system of the platform the program was built for.
IFileSystem& PlatformFileSystem();
