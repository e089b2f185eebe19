#include "operations/kept_bytes.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kMostCopiesPerAddress = 1000;

std::string CopyName(uint32_t flashOffset, int n)
{
    char name[64];
    if (n == 1) {
        std::snprintf(name, sizeof name, "%s\\flash-0x%08x.bin", kBackupFolder, flashOffset);
    } else {
        std::snprintf(name, sizeof name, "%s\\flash-0x%08x-%d.bin", kBackupFolder, flashOffset, n);
    }
    return name;
}

} // namespace

bool KeptBytesCopy::Keep(uint32_t flashOffset, const uint8_t* bytes, uint32_t length, std::string& error)
{
    Discard();
    if (!files_.CreateFolder(kBackupFolder)) {
        error = std::string("Cannot create the folder ") + kBackupFolder;
        return false;
    }
    // An earlier copy may be the only one left of bytes a failed run erased;
    // another program's run in the same folder (one per target) may be
    // taking a name at the same moment: a name is taken by creating the file.
    std::string path;
    std::unique_ptr<IFile> file;
    for (int n = 1; n <= kMostCopiesPerAddress && !file; ++n) {
        path = CopyName(flashOffset, n);
        if (files_.Exists(path)) continue;
        std::string openError;
        file = files_.Open(path, FileOpenMode::CreateNew, openError);
        if (!file && !files_.Exists(path)) {
            error = path + ": " + openError;
            return false;
        }
    }
    if (!file) {
        error = std::string("Too many earlier copies in ") + kBackupFolder;
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

void KeptBytesCopy::Discard()
{
    if (!path_.empty()) files_.Remove(path_);
    path_.clear();
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
