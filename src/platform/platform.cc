#include "platform/platform.h"

namespace tarvex {

void subRaise(int32_t lngNumber, const std::string& strDescription) {
  throw Error{lngNumber, strDescription};
}

std::string fncErrorText(int32_t lngNumber) {
  switch (lngNumber) {
    case kErrFileNotFound: return "File not found";
    case kErrPathNotFound: return "Path not found";
    case kErrAccessDenied: return "Permission denied";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSharingViolation: return "File in use";
    case kErrFileExists: return "File already exists";
    case kErrInvalidParameter: return "Invalid parameter";
    case kErrDiskFull: return "Disk full";
    case kErrBadExeFormat: return "Not a valid program";
    case kErrPathTooLong: return "Path too long";
    case kErrIsFolder: return "Path is a folder";
    case kErrIoError: return "Input/output error";
    case kErrInternal: return "Internal error";
    default: return "System error " + std::to_string(lngNumber);
  }
}

Platform& Os() {
  static Platform objCurrent = NativePlatform();
  return objCurrent;
}

}  // namespace tarvex
