#include "operations/kept_bytes.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/diagnostics.h"

namespace {

constexpr int kMostCopiesPerAddress = 1000;

// The folder's own separator: backslashes on Windows, slashes elsewhere.
char SeparatorOf(const std::string& folder) { return folder.find('\\') != std::string::npos ? '\\' : '/'; }

std::string CopyName(const std::string& folder, uint32_t flashOffset, int n)
{
    char name[48];
    if (n == 1) {
        std::snprintf(name, sizeof name, "flash-0x%08x.bin", flashOffset);
    } else {
        std::snprintf(name, sizeof name, "flash-0x%08x-%d.bin", flashOffset, n);
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += SeparatorOf(folder);
    return path + name;
}

// The folder above a path ("" when there is none).
std::string ParentOf(const std::string& path)
{
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    size_t end = path.size();
    while (end > 1 && separator(path[end - 1])) --end;
    if (end == 0) return "";
    const size_t slash = path.find_last_of("/\\", end - 1);
    if (slash == std::string::npos) return "";
    return path.substr(0, slash == 0 ? 1 : slash);
}

} // namespace

bool KeptBytesCopy::Keep(uint32_t flashOffset, const uint8_t* bytes, uint32_t length)
{
    Discard();
    std::string error;
    if (Write(flashOffset, bytes, length, error)) return true;
    RemoveCreatedFolders();
    DiagPrintf("No copy of the bytes at flash 0x%08x kept: %s\n", flashOffset, error.c_str());
    return false;
}

bool KeptBytesCopy::Write(uint32_t flashOffset, const uint8_t* bytes, uint32_t length, std::string& error)
{
    const std::string folder = files_.BackupFolder();
    if (folder.empty()) {
        error = "the system names no folder for the user's own files";
        return false;
    }
    if (!CreateFolders(folder, error)) return false;
    // An earlier copy may be the only one left of bytes a failed run erased;
    // another program's run (one per target) may be taking a name at the
    // same moment: a name is taken by creating the file.
    std::string path;
    std::unique_ptr<IFile> file;
    for (int n = 1; n <= kMostCopiesPerAddress && !file; ++n) {
        path = CopyName(folder, flashOffset, n);
        if (files_.Exists(path)) continue;
        std::string openError;
        file = files_.Open(path, FileOpenMode::CreateNew, openError);
        if (!file && !files_.Exists(path)) {
            error = path + ": " + openError;
            return false;
        }
    }
    if (!file) {
        error = "too many earlier copies in " + folder;
        return false;
    }
    const bool written = file->Write(bytes, length) && file->Sync();
    file->Close();
    if (!written) {
        files_.Remove(path);
        error = path + ": the copy could not be written";
        return false;
    }
    path_ = path;
    offset_ = flashOffset;
    return true;
}

bool KeptBytesCopy::CreateFolders(const std::string& folder, std::string& error)
{
    // From the nearest folder that exists down to the backup folder.
    std::vector<std::string> missing;
    for (std::string f = folder; !f.empty() && !files_.Exists(f);) {
        missing.push_back(f);
        std::string up = ParentOf(f);
        if (up == f) break;
        f = up;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!files_.CreateFolder(*it)) {
            error = "cannot create the folder " + *it;
            return false;
        }
        createdFolders_.push_back(*it);
    }
    if (missing.empty() && !files_.CreateFolder(folder)) {
        error = folder + " is no folder";
        return false;
    }
    return true;
}

void KeptBytesCopy::RemoveCreatedFolders()
{
    // Innermost first; a folder that holds anything else stays.
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
        if (!files_.RemoveFolder(*it)) break;
    createdFolders_.clear();
}

void KeptBytesCopy::Discard()
{
    if (!path_.empty()) files_.Remove(path_);
    path_.clear();
    RemoveCreatedFolders();
}

std::string KeptBytesCopy::Note() const
{
    if (path_.empty()) return "";
    char text[64];
    std::snprintf(text, sizeof text, "\nThe earlier bytes at flash 0x%08x are kept in ", offset_);
    return text + path_ + ".";
}

bool SameBytes(const uint8_t* first, const uint8_t* second, uint32_t length)
{
    return std::memcmp(first, second, length) == 0;
}
