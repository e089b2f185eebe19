#pragma once
// Bytes that a job reads from the flash, erases and writes back (the identity
// block, the data step's kept head, the series block). Until the write-back
// is verified they exist only in the host's memory; a copy in a file in the
// user's backup folder outlives a failure in between, and the failure's
// message names it. The copy is a help, never a condition: when it cannot be
// written the job goes on as without it (the diagnostic log says why).
#include <cstdint>
#include <string>
#include <vector>

#include "ports/file_system.h"

class KeptBytesCopy {
public:
    explicit KeptBytesCopy(IFileSystem& files) : files_(files) {}
    KeptBytesCopy(const KeptBytesCopy&) = delete;
    KeptBytesCopy& operator=(const KeptBytesCopy&) = delete;

    // Writes the bytes to a new file "flash-0x<offset>.bin" in the backup
    // folder, never over an earlier copy ("-2", "-3", ... are appended then),
    // creating the folders on its way; false when no copy was kept (the
    // diagnostic log says why).
    bool Keep(uint32_t flashOffset, const uint8_t* bytes, uint32_t length);
    // The write-back was verified, or nothing was erased: the copy goes, and
    // so do the folders it created when nothing else is in them.
    void Discard();
    bool Kept() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    // What a failure adds to its message while the copy is kept ("" otherwise).
    std::string Note() const;

private:
    bool Write(uint32_t flashOffset, const uint8_t* bytes, uint32_t length, std::string& error);
    bool CreateFolders(const std::string& folder, std::string& error);
    void RemoveCreatedFolders();

    IFileSystem& files_;
    std::string path_;
    uint32_t offset_ = 0;
    std::vector<std::string> createdFolders_; // outermost first
};

// Whether two reads of the same bytes agree (a reply damaged on its way shows as a difference).
bool SameBytes(const uint8_t* first, const uint8_t* second, uint32_t length);
