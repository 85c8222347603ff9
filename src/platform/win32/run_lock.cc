// The run lock of the Windows build: one named mutex per application folder.
//
// The system lets go of a mutex when its process ends: one left by a killed
// run is abandoned and taken over. Its handle is not inheritable, so no
// started program holds it. Its security is explicit: a mutex made with the
// creator's default security would let only the creator's own account in,
// so a run by the agent's service (LocalSystem) and one by an elevated
// administrator would refuse each other instead of taking turns.
#include "platform/win32/internal.h"

#include <sddl.h>

#include <cstdio>
#include <vector>

namespace tarvex {
namespace win32 {

// The name of the run lock of an application folder. Every spelling of the
// folder (case, short forms, "." and "..", a trailing backslash) gives the
// same name. A mutex name may hold no backslash after its namespace and at
// most MAX_PATH characters, so the folder's path is hashed. "Global\" lets
// a run started by the agent's service and one started from a user's
// desktop meet; a standard user may make no object there.
std::string fncRunLockName(const std::string& strFolder) {
  std::vector<char> objFull(32768);
  DWORD lngLength = GetFullPathNameA(strFolder.c_str(), static_cast<DWORD>(objFull.size()),
                                     objFull.data(), nullptr);
  std::string strPath = lngLength > 0 && lngLength < objFull.size()
                            ? std::string(objFull.data(), lngLength)
                            : strFolder;
  // Only a generated short name holds a "~"; expanding one reads the folders.
  if (strPath.find('~') != std::string::npos) {
    lngLength = GetLongPathNameA(strPath.c_str(), objFull.data(),
                                 static_cast<DWORD>(objFull.size()));
    if (lngLength > 0 && lngLength < objFull.size()) strPath.assign(objFull.data(), lngLength);
  }
  while (!strPath.empty() && (strPath.back() == '\\' || strPath.back() == '/'))
    strPath.pop_back();

  // Case-folded the same way under every user's language.
  std::wstring strWide;
  int intWide = MultiByteToWideChar(CP_ACP, 0, strPath.data(), static_cast<int>(strPath.size()),
                                    nullptr, 0);
  if (intWide > 0) {
    strWide.resize(static_cast<size_t>(intWide));
    MultiByteToWideChar(CP_ACP, 0, strPath.data(), static_cast<int>(strPath.size()), &strWide[0],
                        intWide);
    std::wstring strUpper(strWide.size(), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, strWide.data(), intWide, &strUpper[0],
                     intWide) == intWide)
      strWide = strUpper;
  }
  uint64_t lngHash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t chr : strWide) {
    lngHash = (lngHash ^ (static_cast<uint16_t>(chr) & 0xFF)) * 1099511628211ull;
    lngHash = (lngHash ^ (static_cast<uint16_t>(chr) >> 8)) * 1099511628211ull;
  }
  char chrName[64];
  std::snprintf(chrName, sizeof chrName, "Global\\Tarvex.%08X%08X",
                static_cast<unsigned>(lngHash >> 32), static_cast<unsigned>(lngHash));
  return chrName;
}

// LocalSystem and the administrators may use the lock, and no one else: a
// standard user can neither take it nor hold it to keep runs waiting. The
// list is protected from inherited entries. The mandatory label (high,
// no write up) lets a service and an elevated administrator alike use a
// lock the other made, and keeps out any process of lower integrity.
std::string fncRunLockSecurity() { return "D:P(A;;GA;;;SY)(A;;GA;;;BA)S:(ML;;NW;;;HI)"; }

namespace {

HANDLE g_runLock = nullptr;  // held until the process ends

// The named mutex of the folder, made with the lock's security when it is
// not there yet; null with the system's code when it can be neither made
// nor opened.
HANDLE fncOpenRunLock(const std::string& strName, DWORD* pCode) {
  PSECURITY_DESCRIPTOR pSecurity = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          fncRunLockSecurity().c_str(), SDDL_REVISION_1, &pSecurity, nullptr)) {
    *pCode = GetLastError();
    return nullptr;
  }
  SECURITY_ATTRIBUTES objAttributes = {sizeof objAttributes, pSecurity, FALSE};
  HANDLE objMutex = CreateMutexA(&objAttributes, FALSE, strName.c_str());
  *pCode = GetLastError();
  LocalFree(pSecurity);
  // Made by another run that this account may wait on but not change.
  if (objMutex == nullptr && *pCode == ERROR_ACCESS_DENIED) {
    objMutex = OpenMutexA(SYNCHRONIZE, FALSE, strName.c_str());
    if (objMutex == nullptr) *pCode = GetLastError();
  }
  return objMutex;
}

}  // namespace

// A run that cannot open the lock fails (Main's trap, exit 3): it never goes
// ahead without it.
bool fncLockAppFolder(uint32_t lngMilliseconds) {
  if (g_runLock != nullptr) return true;
  DWORD lngCode = ERROR_SUCCESS;
  HANDLE objMutex = fncOpenRunLock(fncRunLockName(NativePlatform().fncAppFolder()), &lngCode);
  if (objMutex == nullptr) subRaiseCode(lngCode);
  DWORD lngWait = WaitForSingleObject(objMutex, lngMilliseconds);
  // Abandoned: the run that held it ended without letting go (it was
  // killed); the lock is this run's now.
  if (lngWait == WAIT_OBJECT_0 || lngWait == WAIT_ABANDONED) {
    g_runLock = objMutex;
    return true;
  }
  lngCode = GetLastError();
  CloseHandle(objMutex);
  if (lngWait == WAIT_TIMEOUT) return false;
  subRaiseCode(lngCode);
}

}  // namespace win32
}  // namespace tarvex
