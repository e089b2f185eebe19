#pragma once
// The platform's file layer with the backup folder in a test's own folder:
// copies of kept bytes never reach the real user's state folder.
#include <string>
#include <utility>

#include "ports/file_system.h"

class FilesWithBackupFolder final : public IFileSystem {
public:
    explicit FilesWithBackupFolder(std::string backupFolder) : backupFolder_(std::move(backupFolder)) {}

    std::unique_ptr<IFile> Open(const std::string& path, FileOpenMode mode, std::string& errorText) override
    {
        return inner_.Open(path, mode, errorText);
    }
    bool ToLocalTime(int64_t time, std::tm& local) override { return inner_.ToLocalTime(time, local); }
    std::string ProgramPath() override { return inner_.ProgramPath(); }
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override { return inner_.Rename(from, to); }
    bool Exists(const std::string& path) override { return inner_.Exists(path); }
    bool CreateFolder(const std::string& path) override { return inner_.CreateFolder(path); }
    bool RemoveFolder(const std::string& path) override { return inner_.RemoveFolder(path); }
    std::string BackupFolder() override { return backupFolder_; }

    // "" stands for a system that names no folder for the user's files.
    void SetBackupFolder(std::string folder) { backupFolder_ = std::move(folder); }

private:
    IFileSystem& inner_ = PlatformFileSystem();
    std::string backupFolder_;
};
