#pragma once
// Bytes that a job reads from the flash, erases and writes back (the identity
// block, the data step's kept head, the series block). Until the write-back
// is verified they exist only in the host's memory; a copy in a file under
// .\Backup\ outlives a failure in between, and the failure's message names it.
#include <cstdint>
#include <string>

#include "platform/portable/file_system.h"

constexpr char kBackupFolder[] = ".\\Backup";

class KeptBytesCopy {
public:
    explicit KeptBytesCopy(IFileSystem& files) : files_(files) {}
    KeptBytesCopy(const KeptBytesCopy&) = delete;
    KeptBytesCopy& operator=(const KeptBytesCopy&) = delete;

    // Writes the bytes to a new file ".\Backup\flash-0x<offset>.bin", never over
    // an earlier copy ("-2", "-3", ... are appended then); false with the reason.
    bool Keep(uint32_t flashOffset, const uint8_t* bytes, uint32_t length, std::string& error);
    // The write-back was verified, or nothing was erased: the copy goes.
    void Discard();
    bool Kept() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    // What a failure adds to its message while the copy is kept ("" otherwise).
    std::string Note() const;

private:
    IFileSystem& files_;
    std::string path_;
    uint32_t offset_ = 0;
};

// Whether two reads of the same bytes agree (a reply damaged on its way shows as a difference).
bool SameBytes(const uint8_t* first, const uint8_t* second, uint32_t length);
