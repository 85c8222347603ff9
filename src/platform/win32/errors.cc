// Win32 error codes onto the error table.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

// ---- Errors

// Folds the system codes that mean the same thing to the program onto the
// numbers of the error table; any other code keeps its own number.
int32_t fncMapError(DWORD lngCode) {
  switch (lngCode) {
    case ERROR_SUCCESS:  // a failure that left no code behind
      return kErrInternal;
    case ERROR_FILE_NOT_FOUND:
      return kErrFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
      return kErrPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
      return kErrAccessDenied;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kErrOutOfMemory;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return kErrSharingViolation;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return kErrFileExists;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
      return kErrInvalidParameter;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kErrDiskFull;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return kErrBadExeFormat;
    case ERROR_FILENAME_EXCED_RANGE:
      return kErrPathTooLong;
    case ERROR_DIRECTORY:
      return kErrIsFolder;
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
      return kErrIoError;
    default:
      return static_cast<int32_t>(lngCode);
  }
}

void subRaiseNumber(int32_t lngNumber) {
  subRaise(lngNumber, fncErrorText(lngNumber));
}

void subRaiseCode(DWORD lngCode) { subRaiseNumber(fncMapError(lngCode)); }


}  // namespace win32
}  // namespace tarvex
