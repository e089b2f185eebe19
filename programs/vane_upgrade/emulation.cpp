#include "programs/vane_upgrade/emulation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cstdio>

#include "ports/locked_file.h"

FaultPlan MakeFaultPlan(const std::vector<FaultOption>& faults)
{
    FaultPlan plan;
    for (const FaultOption& fault : faults) {
        switch (fault.kind) {
        case FaultOption::Kind::Fail: plan.failCommand = fault.value; break;
        case FaultOption::Kind::Leave: plan.leaveBeforeCommand = fault.value; break;
        case FaultOption::Kind::Flip: plan.flipReadAt = fault.value; break;
        case FaultOption::Kind::Busy: plan.eraseNeverFinishesAt = fault.value; break;
        case FaultOption::Kind::Status: plan.finalStatus = static_cast<int>(fault.value); break;
        }
    }
    return plan;
}

bool LoadFlashFile(const std::string& path, EmulatedTarget& target, std::string& error)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = "emulated flash " + path + ": " + std::strerror(errno);
            return false;
        }
        // A fresh device: the target as constructed is that.
        return SaveFlashFile(path, target, error);
    }
    if (!S_ISREG(st.st_mode)) {
        error = "emulated flash " + path + ": not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) != target.FlashSize()) {
        error = "emulated flash " + path + " holds " + std::to_string(st.st_size) + " bytes, not the " +
                std::to_string(target.FlashSize()) + " of the emulated flash; the file is left as it is";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "emulated flash " + path + ": " + std::strerror(errno) + "; the file is left as it is";
        return false;
    }
    std::vector<uint8_t> bytes(target.FlashSize());
    const size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (read != bytes.size()) {
        error = "emulated flash " + path + ": cannot be read whole; the file is left as it is";
        return false;
    }
    target.LoadFlash(0, bytes);
    return true;
}

bool SaveFlashFile(const std::string& path, EmulatedTarget& target, std::string& error)
{
    const std::vector<uint8_t> flash = target.Flash();
    return WriteFileAtomically(path, std::string(flash.begin(), flash.end()), error);
}
