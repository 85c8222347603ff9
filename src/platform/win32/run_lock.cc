// The run lock of the Windows build: .Tarvex.lock in the application
// folder, held open without sharing for the rest of the run, as the POSIX
// build holds a lock on its file of that name.
//
// A lock in the folder can be made only by a user who may write the folder,
// and its explicit security lets no one else open it: a standard user can
// neither take the lock nor hold it to keep runs waiting (a named mutex, in
// a namespace where any user may make the name first, could be taken by
// anyone). The system closes the file when the process ends, however it
// ends; the handle is not inheritable, so no started program holds it. The
// name itself is opened: a link or reparse point there is refused.
#include "platform/win32/internal.h"

#include <sddl.h>

namespace tarvex {
namespace win32 {

std::string fncRunLockPath(const std::string& strFolder) {
  if (!strFolder.empty() && strFolder.back() == '\\') return strFolder + ".Tarvex.lock";
  return strFolder + "\\.Tarvex.lock";
}

// LocalSystem, the administrators and the file's owner (the account that
// made it) may use the lock file, and no one else. The list is protected
// from the folder's inherited entries. The mandatory label (high, no read
// or write up) keeps out any process of lower integrity, and lets a service
// and an elevated administrator alike use a lock file the other made.
std::string fncRunLockSecurity() {
  return "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)S:(ML;;NWNR;;;HI)";
}

RunLockOpening fncRunLockOpening() {
  // No sharing: a second open of the file, by a run or anyone else, fails
  // while this run holds it.
  return RunLockOpening{GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT};
}

namespace {

HANDLE g_runLock = INVALID_HANDLE_VALUE;  // held until the process ends

// The lock file, made with the lock's security when it is not there yet;
// INVALID_HANDLE_VALUE with the system's code when it cannot be opened.
HANDLE fncOpenRunLock(const std::string& strPath, DWORD* pCode) {
  PSECURITY_DESCRIPTOR pSecurity = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          fncRunLockSecurity().c_str(), SDDL_REVISION_1, &pSecurity, nullptr)) {
    *pCode = GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES objAttributes = {sizeof objAttributes, pSecurity, FALSE};
  const RunLockOpening objOpening = fncRunLockOpening();
  HANDLE objFile = CreateFileA(strPath.c_str(), objOpening.lngAccess, objOpening.lngShare,
                               &objAttributes, objOpening.lngDisposition, objOpening.lngFlags,
                               nullptr);
  *pCode = GetLastError();
  LocalFree(pSecurity);
  return objFile;
}

}  // namespace

// A busy lock is tried again after pauses that grow to 50 ms, until the time
// given has passed. A run that cannot open the lock fails (Main's trap,
// exit 3): it never goes ahead without it.
bool fncLockAppFolder(uint32_t lngMilliseconds) {
  if (g_runLock != INVALID_HANDLE_VALUE) return true;
  const std::string strPath = fncRunLockPath(NativePlatform().fncAppFolder());
  const ULONGLONG lngDeadline = GetTickCount64() + lngMilliseconds;
  DWORD lngPause = 1;
  for (;;) {
    DWORD lngCode = ERROR_SUCCESS;
    HANDLE objFile = fncOpenRunLock(strPath, &lngCode);
    if (objFile != INVALID_HANDLE_VALUE) {
      BY_HANDLE_FILE_INFORMATION objFound;
      if (!GetFileInformationByHandle(objFile, &objFound) ||
          (objFound.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(objFile);
        subRaiseNumber(kErrAccessDenied);
      }
      g_runLock = objFile;
      return true;
    }
    if (lngCode != ERROR_SHARING_VIOLATION) subRaiseCode(lngCode);
    const ULONGLONG lngNow = GetTickCount64();
    if (lngNow >= lngDeadline) return false;
    const ULONGLONG lngLeft = lngDeadline - lngNow;
    Sleep(lngPause < lngLeft ? lngPause : static_cast<DWORD>(lngLeft));
    lngPause = lngPause * 2 < 50 ? lngPause * 2 : 50;
  }
}

}  // namespace win32
}  // namespace tarvex
