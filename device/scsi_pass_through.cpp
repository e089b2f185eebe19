#include "device/scsi_pass_through.h"

#include <cstring>

std::string NullPassThrough::ErrorText(uint32_t systemError)
{
    if (systemError == 0) return "The operation completed successfully.";
    if (systemError == 87) return "The parameter is incorrect.";
    return "The handle is invalid.";
}

std::string CLibraryErrorText(int errorNumber)
{
    if (errorNumber == 0) return "Success";
    return std::strerror(errorNumber);
}
