// The run lock of an application folder: a named mutex.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

// The name of the run lock of an application folder. Every spelling of the
// folder (case, short forms, "." and "..", a trailing backslash) gives the
// same name. A mutex name may hold no backslash after its namespace and at
// most MAX_PATH characters, so the folder's path is hashed. "Global\" lets
// a run started by the agent's service and one started from a user's
// desktop meet.
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


namespace {
HANDLE g_runLock = nullptr;  // held until the process ends
}  // namespace

bool fncLockAppFolder(uint32_t lngMilliseconds) {
  if (g_runLock != nullptr) return true;
  const std::string strName = win32::fncRunLockName(fncAppFolder());
  // No security attributes: the handle is not inheritable.
  HANDLE objMutex = CreateMutexA(nullptr, FALSE, strName.c_str());
  // Made by another user's run: waiting on it is all this run needs.
  if (objMutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
    objMutex = OpenMutexA(SYNCHRONIZE, FALSE, strName.c_str());
  if (objMutex == nullptr) subRaiseCode(GetLastError());
  DWORD lngWait = WaitForSingleObject(objMutex, lngMilliseconds);
  // Abandoned: the run that held it ended without letting go (it was
  // killed); the lock is this run's now.
  if (lngWait == WAIT_OBJECT_0 || lngWait == WAIT_ABANDONED) {
    g_runLock = objMutex;
    return true;
  }
  DWORD lngCode = GetLastError();
  CloseHandle(objMutex);
  if (lngWait == WAIT_TIMEOUT) return false;
  subRaiseCode(lngCode);
}


}  // namespace win32
}  // namespace tarvex
