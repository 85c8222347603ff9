// Whole text files: the run log, and a file read whole (the checker).
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

namespace {
HANDLE fncHandle(TextFile objFile) { return static_cast<HANDLE>(objFile); }

}  // namespace
TextFile fncCreateTextFile(const std::string& strPath) {
  // Windows refuses to replace a read-only file, but Wine running as root
  // does not: asked here, so both refuse it alike.
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  if (lngAttributes != INVALID_FILE_ATTRIBUTES && (lngAttributes & FILE_ATTRIBUTE_READONLY) &&
      !(lngAttributes & FILE_ATTRIBUTE_DIRECTORY))
    subRaiseNumber(kErrAccessDenied);
  HANDLE objFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) subRaiseCode(GetLastError());
  return objFile;
}

// Each line goes straight to the file, so a run that is killed keeps every
// line it wrote.
void subWriteLine(TextFile objFile, const std::string& strText) {
  if (objFile == nullptr || fncHandle(objFile) == INVALID_HANDLE_VALUE)
    subRaiseNumber(kErrInvalidParameter);
  const std::string strLine = strText + "\r\n";
  const char* pNext = strLine.data();
  size_t lngLeft = strLine.size();
  while (lngLeft > 0) {
    DWORD lngWritten = 0;
    if (!WriteFile(fncHandle(objFile), pNext, static_cast<DWORD>(lngLeft), &lngWritten, nullptr))
      subRaiseCode(GetLastError());
    if (lngWritten == 0) subRaiseNumber(kErrIoError);
    pNext += lngWritten;
    lngLeft -= lngWritten;
  }
}

void subCloseTextFile(TextFile objFile) {
  if (objFile != nullptr && fncHandle(objFile) != INVALID_HANDLE_VALUE)
    CloseHandle(fncHandle(objFile));
}

std::string fncReadFileBytes(const std::string& strPath) {
  HANDLE objFile = CreateFileA(strPath.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) subRaiseCode(GetLastError());
  std::string strData;
  DWORD lngCode = ERROR_SUCCESS;
  try {
    char chrBuffer[65536];
    for (;;) {
      DWORD lngRead = 0;
      if (!ReadFile(objFile, chrBuffer, sizeof chrBuffer, &lngRead, nullptr)) {
        lngCode = GetLastError();
        break;
      }
      if (lngRead == 0) break;
      strData.append(chrBuffer, lngRead);
    }
  } catch (...) {
    lngCode = ERROR_NOT_ENOUGH_MEMORY;
  }
  CloseHandle(objFile);
  if (lngCode != ERROR_SUCCESS) subRaiseCode(lngCode);
  return strData;
}


}  // namespace win32
}  // namespace tarvex
