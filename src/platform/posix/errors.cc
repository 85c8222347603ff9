// errno onto the error table of the Windows build.
#include <cerrno>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

Error fncErrnoError(int intErrno) {
  int32_t lngNumber;
  switch (intErrno) {
    case ENOENT: lngNumber = kErrFileNotFound; break;
    case ENOTDIR: lngNumber = kErrPathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: lngNumber = kErrAccessDenied; break;
    case ENOMEM: lngNumber = kErrOutOfMemory; break;
    case ETXTBSY:
    case EBUSY: lngNumber = kErrSharingViolation; break;
    case EEXIST: lngNumber = kErrFileExists; break;
    case EINVAL: lngNumber = kErrInvalidParameter; break;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: lngNumber = kErrDiskFull; break;
    case ENOEXEC: lngNumber = kErrBadExeFormat; break;
    case ENAMETOOLONG: lngNumber = kErrPathTooLong; break;
    case EISDIR: lngNumber = kErrIsFolder; break;
    case EIO: lngNumber = kErrIoError; break;
    // An argument list beyond the system's limit, as Windows reports a
    // command line beyond its own.
    case E2BIG: lngNumber = kErrPathTooLong; break;
    default: lngNumber = kErrInternal; break;
  }
  return Error{lngNumber, fncErrorText(lngNumber)};
}

void subRaiseErrno(int intErrno) { throw fncErrnoError(intErrno); }

}  // namespace posix
}  // namespace tarvex
