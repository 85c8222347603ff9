// The platform table on the real Win32 operations (ANSI entry points, so
// every string stays in the system's ANSI code page).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/hash.h"
#include "platform/platform.h"

namespace tarvex {

namespace win32 {

// Open to the tests, which cannot choose their own process's command line.
std::string fncCommandLineTail(const char* pText) {
  if (pText == nullptr) return "";
  // The program name ends at its closing quote when quoted, otherwise at
  // the first blank; it knows no escapes. Of what follows only spaces are
  // dropped, as the parameter's own rule trims spaces, not tabs, and the
  // POSIX build keeps a tab that starts its first argument.
  if (*pText == '"') {
    ++pText;
    while (*pText != '\0' && *pText != '"') ++pText;
    if (*pText == '"') ++pText;
  } else {
    while (*pText != '\0' && *pText != ' ' && *pText != '\t') ++pText;
  }
  while (*pText == ' ') ++pText;
  return pText;
}

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

}  // namespace win32

namespace {

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

[[noreturn]] void subRaiseNumber(int32_t lngNumber) {
  subRaise(lngNumber, fncErrorText(lngNumber));
}

[[noreturn]] void subRaiseCode(DWORD lngCode) { subRaiseNumber(fncMapError(lngCode)); }

// ---- Process and clock

std::string fncCommandLineTail() { return win32::fncCommandLineTail(GetCommandLineA()); }

std::string fncModulePath() {
  std::vector<char> objBuffer(MAX_PATH + 1);
  for (;;) {
    DWORD lngLength = GetModuleFileNameA(nullptr, objBuffer.data(),
                                         static_cast<DWORD>(objBuffer.size()));
    if (lngLength == 0) return "";
    // A result that fills the buffer may have been cut.
    if (lngLength < objBuffer.size() - 1) return std::string(objBuffer.data(), lngLength);
    if (objBuffer.size() >= 65536) return std::string(objBuffer.data(), lngLength);
    objBuffer.resize(objBuffer.size() * 2);
  }
}

std::string fncAppFolder() {
  std::string strPath = fncModulePath();
  size_t lngSlash = strPath.find_last_of('\\');
  // At a drive root this leaves "C:", which callers extend with "\".
  if (lngSlash == std::string::npos) return "";
  return strPath.substr(0, lngSlash);
}

SYSTEMTIME fncSystemTime(const LocalTime& objTime) {
  SYSTEMTIME objSystem = {};
  objSystem.wYear = static_cast<WORD>(objTime.intYear);
  objSystem.wMonth = static_cast<WORD>(objTime.intMonth);
  objSystem.wDay = static_cast<WORD>(objTime.intDay);
  objSystem.wHour = static_cast<WORD>(objTime.intHour);
  objSystem.wMinute = static_cast<WORD>(objTime.intMinute);
  objSystem.wSecond = static_cast<WORD>(objTime.intSecond);
  return objSystem;
}

LocalTime fncLocalTime() {
  SYSTEMTIME objSystem;
  GetLocalTime(&objSystem);
  return LocalTime{objSystem.wYear, objSystem.wMonth,  objSystem.wDay,
                   objSystem.wHour, objSystem.wMinute, objSystem.wSecond};
}

std::string fncNumbers(const char* pFormat, int intA, int intB, int intC) {
  char chrBuffer[64];
  std::snprintf(chrBuffer, sizeof chrBuffer, pFormat, intA, intB, intC);
  return chrBuffer;
}

// The host's texts; a fixed numeric form only if the host refuses the date.
std::string fncShortDate(const LocalTime& objTime) {
  SYSTEMTIME objSystem = fncSystemTime(objTime);
  char chrBuffer[256];
  int intLength = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &objSystem, nullptr,
                                 chrBuffer, sizeof chrBuffer);
  if (intLength <= 0)
    return fncNumbers("%d/%d/%04d", objTime.intMonth, objTime.intDay, objTime.intYear);
  return std::string(chrBuffer, intLength - 1);
}

std::string fncLongTime(const LocalTime& objTime) {
  SYSTEMTIME objSystem = fncSystemTime(objTime);
  char chrBuffer[256];
  int intLength =
      GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &objSystem, nullptr, chrBuffer, sizeof chrBuffer);
  if (intLength <= 0)
    return fncNumbers("%d:%02d:%02d", objTime.intHour, objTime.intMinute, objTime.intSecond);
  return std::string(chrBuffer, intLength - 1);
}

std::string fncTimeSeparator() {
  char chrBuffer[16];
  int intLength = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, chrBuffer, sizeof chrBuffer);
  if (intLength <= 1) return ":";
  return std::string(chrBuffer, intLength - 1);
}

void subSleep(uint32_t lngMilliseconds) { Sleep(lngMilliseconds); }

// ---- Paths and attributes

std::string fncShortPathName(const std::string& strPath) {
  char chrBuffer[501] = {};
  DWORD lngLength = GetShortPathNameA(strPath.c_str(), chrBuffer, 500);
  // 0 is a failure; more than the buffer is the size the form would need.
  if (lngLength == 0 || lngLength > 500) return "";
  return std::string(chrBuffer, lngLength);
}

bool fncSetAttributesNormal(const std::string& strPath) {
  return SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

// ---- File-system object

bool fncFileExists(const std::string& strPath) {
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  return lngAttributes != INVALID_FILE_ATTRIBUTES && !(lngAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string fncFileNamePart(const std::string& strPath) {
  size_t lngSlash = strPath.find_last_of("\\/:");
  return lngSlash == std::string::npos ? strPath : strPath.substr(lngSlash + 1);
}

// Removes a temporary file of ours, read-only or not; failures are ignored.
void subDiscard(const std::string& strPath) {
  SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(strPath.c_str());
}

// The name of a file as it is stored (its long name), also when the path
// gives its short (8.3) form; the path's own last part when there is none.
std::string fncStoredNamePart(const std::string& strPath) {
  char chrBuffer[MAX_PATH * 4] = {};
  DWORD lngLength = GetLongPathNameA(strPath.c_str(), chrBuffer, sizeof chrBuffer);
  if (lngLength == 0 || lngLength >= sizeof chrBuffer) return fncFileNamePart(strPath);
  return fncFileNamePart(std::string(chrBuffer, lngLength));
}

std::string fncFolderPart(const std::string& strPath) {
  size_t lngSlash = strPath.find_last_of("\\/");
  return lngSlash == std::string::npos ? "." : strPath.substr(0, lngSlash);
}

uint32_t g_lngTemporaries = 0;  // this run's temporary files so far

// The temporary file beside a target: "NAME.PID-N.tarvex.tmp", of this run
// alone, so runs that work in one folder at once never meet in a temporary
// file. Where that name would pass MAX_PATH, a target near the limit could
// neither be replaced nor its temporary removed: the name is then a hash of
// the target's name, in the folder's short form.
std::string fncTemporaryPath(const std::string& strTarget, uint32_t lngSerial) {
  const std::string strEnding = fncTemporaryEnding(GetCurrentProcessId(), lngSerial);
  std::string strTemporary = strTarget + strEnding;
  if (strTemporary.size() < MAX_PATH) return strTemporary;
  std::string strFolder = fncFolderPart(strTarget);
  char chrShort[MAX_PATH] = {};
  DWORD lngLength = GetShortPathNameA(strFolder.c_str(), chrShort, MAX_PATH);
  if (lngLength > 0 && lngLength < MAX_PATH) strFolder.assign(chrShort, lngLength);
  char chrHash[16];
  std::snprintf(chrHash, sizeof chrHash, "~%08X",
                static_cast<unsigned>(fncNameHash(fncFileNamePart(strTarget))));
  return strFolder + "\\" + chrHash + strEnding;
}

// True unless the process is known to have ended.
bool fncProcessAlive(DWORD lngProcessID) {
  HANDLE objProcess = OpenProcess(SYNCHRONIZE, FALSE, lngProcessID);
  if (objProcess == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  bool blnAlive = WaitForSingleObject(objProcess, 0) != WAIT_OBJECT_0;
  CloseHandle(objProcess);
  return blnAlive;
}

// Removes the temporary files that runs which have ended left in a folder
// (a run killed in the middle of a copy). A file whose run still exists is
// that run's own and stays. Once per folder and run: a folder of many
// targets is read once.
void subClearLeftovers(const std::string& strFolder) {
  static std::set<std::string> objCleared;
  if (!objCleared.insert(strFolder).second) return;
  WIN32_FIND_DATAA objFound;
  HANDLE objFind = FindFirstFileA((strFolder + "\\*.tarvex.tmp").c_str(), &objFound);
  if (objFind == INVALID_HANDLE_VALUE) return;
  do {
    DWORD lngOwner = fncTemporaryOwner(objFound.cFileName);
    if (lngOwner != 0 && lngOwner != GetCurrentProcessId() && !fncProcessAlive(lngOwner))
      subDiscard(strFolder + "\\" + objFound.cFileName);
  } while (FindNextFileA(objFind, &objFound));
  FindClose(objFind);
}

// A handle closed on every way out.
struct Handle {
  HANDLE objHandle = INVALID_HANDLE_VALUE;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { subClose(); }
  bool fncOpen() const { return objHandle != INVALID_HANDLE_VALUE; }
  bool subClose() {
    bool blnClosed = true;
    if (fncOpen()) blnClosed = CloseHandle(objHandle) != 0;
    objHandle = INVALID_HANDLE_VALUE;
    return blnClosed;
  }
};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Bytes the comparison and the copy move at a time.
const DWORD kBlock = 1 << 20;

// Reads up to lngLength bytes; fewer only at the end.
bool fncReadBlock(HANDLE objFile, char* pData, DWORD lngLength, DWORD* pRead) {
  *pRead = 0;
  while (*pRead < lngLength) {
    DWORD lngDone = 0;
    if (!ReadFile(objFile, pData + *pRead, lngLength - *pRead, &lngDone, nullptr)) return false;
    if (lngDone == 0) break;
    *pRead += lngDone;
  }
  return true;
}

// True when the target holds exactly the source's bytes, compared byte for
// byte from the start of both. Any doubt answers false.
bool fncHoldsSameBytes(HANDLE objSource, HANDLE objTarget, char* pBuffers) {
  LARGE_INTEGER objSourceSize, objTargetSize;
  if (!GetFileSizeEx(objSource, &objSourceSize) || !GetFileSizeEx(objTarget, &objTargetSize) ||
      objSourceSize.QuadPart != objTargetSize.QuadPart)
    return false;
  for (;;) {
    DWORD lngSource = 0, lngTarget = 0;
    if (!fncReadBlock(objSource, pBuffers, kBlock, &lngSource) ||
        !fncReadBlock(objTarget, pBuffers + kBlock, kBlock, &lngTarget) ||
        lngSource != lngTarget || std::memcmp(pBuffers, pBuffers + kBlock, lngSource) != 0)
      return false;
    if (lngSource == 0) return true;
  }
}

// A temporary file being filled: created new (never through an existing
// file or link), and removed unless it has taken its target's place, on
// every way out, exceptions included.
struct Temporary {
  std::string strPath;
  Handle objFile;
  bool blnPlaced = false;
  explicit Temporary(const std::string& strTarget) {
    for (int intTry = 0;; ++intTry) {
      std::string strTry = fncTemporaryPath(strTarget, ++g_lngTemporaries);
      objFile.objHandle = CreateFileA(strTry.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      if (objFile.fncOpen()) {
        strPath = strTry;
        return;
      }
      DWORD lngCode = GetLastError();
      // A name taken (a run of the same ID elsewhere) moves to the next.
      if ((lngCode != ERROR_FILE_EXISTS && lngCode != ERROR_ALREADY_EXISTS) || intTry >= 100)
        subRaiseCode(lngCode);
    }
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    objFile.subClose();
    if (!blnPlaced) subDiscard(strPath);
  }
};

void subCopyFile(const std::string& strSource, const std::string& strDestination) {
  std::string strTarget = strDestination;
  // The caller hands over short forms: the copy still takes the source's
  // own name, not its 8.3 alias.
  if (!strTarget.empty() && (strTarget.back() == '\\' || strTarget.back() == '/'))
    strTarget += fncStoredNamePart(strSource);
  // No ANSI operation reaches a longer path: refused before anything is made.
  if (strTarget.size() >= MAX_PATH) subRaiseNumber(kErrPathTooLong);

  DWORD lngSource = GetFileAttributesA(strSource.c_str());
  if (lngSource == INVALID_FILE_ATTRIBUTES) {
    DWORD lngCode = GetLastError();
    // A source that is not there is "file not found", whether its file or
    // its folder is missing.
    if (lngCode == ERROR_PATH_NOT_FOUND) lngCode = ERROR_FILE_NOT_FOUND;
    subRaiseCode(lngCode);
  }
  // A folder as source raises 267 ("Path is a folder") rather than the 5
  // that CopyFileA would give: the log then says what is wrong.
  if (lngSource & FILE_ATTRIBUTE_DIRECTORY) subRaiseNumber(kErrIsFolder);

  DWORD lngTarget = GetFileAttributesA(strTarget.c_str());
  if (lngTarget == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() == ERROR_PATH_NOT_FOUND) subRaiseNumber(kErrPathNotFound);  // no folder
  } else if (lngTarget & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    // An installed read-only file is left alone, as is a folder of that name.
    subRaiseNumber(kErrAccessDenied);
  }

  Handle objSource;
  objSource.objHandle = CreateFileA(strSource.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (!objSource.fncOpen()) subRaiseCode(GetLastError());
  BY_HANDLE_FILE_INFORMATION objSourceInfo;
  if (!GetFileInformationByHandle(objSource.objHandle, &objSourceInfo))
    subRaiseCode(GetLastError());
  // Allocated before any temporary file exists.
  std::unique_ptr<char[]> objBuffers(new char[2 * kBlock]);

  if (lngTarget != INVALID_FILE_ATTRIBUTES) {
    // Read access where it can be had (a program or library in use can
    // still be read); its identity in any case.
    Handle objTarget;
    bool blnReadable = true;
    objTarget.objHandle = CreateFileA(strTarget.c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (!objTarget.fncOpen()) {
      blnReadable = false;
      objTarget.objHandle = CreateFileA(strTarget.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    }
    BY_HANDLE_FILE_INFORMATION objTargetInfo;
    if (objTarget.fncOpen() && GetFileInformationByHandle(objTarget.objHandle, &objTargetInfo)) {
      // Copied onto itself by any path, the file would survive, but a caller
      // that deletes the source after a good copy would lose it: refused.
      if (objTargetInfo.dwVolumeSerialNumber == objSourceInfo.dwVolumeSerialNumber &&
          objTargetInfo.nFileIndexHigh == objSourceInfo.nFileIndexHigh &&
          objTargetInfo.nFileIndexLow == objSourceInfo.nFileIndexLow)
        subRaiseNumber(kErrAccessDenied);
      // A target that already holds the bytes stays as it is: its times and
      // identity are kept, and one in use is no obstacle.
      if (blnReadable &&
          fncHoldsSameBytes(objSource.objHandle, objTarget.objHandle, objBuffers.get()))
        return;
    }
    LARGE_INTEGER objStart = {};
    if (!SetFilePointerEx(objSource.objHandle, objStart, nullptr, FILE_BEGIN))
      subRaiseCode(GetLastError());
  }

  // The new bytes go to a temporary file beside the target and replace it
  // in one rename, so a failure or a kill never leaves half a file behind.
  subClearLeftovers(fncFolderPart(fncTemporaryPath(strTarget, 0)));
  Temporary objTemporary(strTarget);
  for (;;) {
    DWORD lngRead = 0;
    if (!fncReadBlock(objSource.objHandle, objBuffers.get(), kBlock, &lngRead))
      subRaiseCode(GetLastError());
    if (lngRead == 0) break;
    DWORD lngWritten = 0;
    if (!WriteFile(objTemporary.objFile.objHandle, objBuffers.get(), lngRead, &lngWritten,
                   nullptr))
      subRaiseCode(GetLastError());
    if (lngWritten != lngRead) subRaiseNumber(kErrDiskFull);
  }
  // The copy keeps the source's attributes and time of last change, as
  // CopyFileA does, and is on the disk before it replaces the target.
  FILE_BASIC_INFO objBasic = {};
  objBasic.LastWriteTime.LowPart = objSourceInfo.ftLastWriteTime.dwLowDateTime;
  objBasic.LastWriteTime.HighPart = static_cast<LONG>(objSourceInfo.ftLastWriteTime.dwHighDateTime);
  objBasic.FileAttributes = objSourceInfo.dwFileAttributes &
                            (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (objBasic.FileAttributes == 0) objBasic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(objTemporary.objFile.objHandle, FileBasicInfo, &objBasic,
                                  sizeof objBasic) ||
      !FlushFileBuffers(objTemporary.objFile.objHandle) || !objTemporary.objFile.subClose())
    subRaiseCode(GetLastError());
  // Write-through: the move is on the disk before it returns.
  if (!MoveFileExA(objTemporary.strPath.c_str(), strTarget.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    subRaiseCode(GetLastError());
  objTemporary.blnPlaced = true;
}

void subDeleteFile(const std::string& strPath) {
  // Read-only files are deleted too. When the delete fails, only the
  // read-only attribute cleared here is set again: the delete routine has
  // already made the file's attributes normal, and those stay cleared.
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  bool blnCleared = false;
  if (lngAttributes != INVALID_FILE_ATTRIBUTES && !(lngAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (lngAttributes & FILE_ATTRIBUTE_READONLY))
    blnCleared = SetFileAttributesA(strPath.c_str(), lngAttributes & ~FILE_ATTRIBUTE_READONLY) != 0;
  if (!DeleteFileA(strPath.c_str())) {
    DWORD lngCode = GetLastError();
    if (blnCleared) SetFileAttributesA(strPath.c_str(), lngAttributes);
    subRaiseCode(lngCode);
  }
}

HANDLE fncHandle(TextFile objFile) { return static_cast<HANDLE>(objFile); }

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

// ---- Package folder

std::vector<std::string> fncListFiles(const std::string& strFolder) {
  std::string strPattern = strFolder;
  if (strPattern.empty() || (strPattern.back() != '\\' && strPattern.back() != '/'))
    strPattern += '\\';
  strPattern += '*';
  WIN32_FIND_DATAA objFound = {};
  HANDLE objFind = FindFirstFileA(strPattern.c_str(), &objFound);
  std::vector<std::string> objNames;
  if (objFind == INVALID_HANDLE_VALUE) {
    DWORD lngCode = GetLastError();
    if (lngCode == ERROR_FILE_NOT_FOUND) return objNames;  // an empty drive root
    subRaiseCode(lngCode);
  }
  do {
    if (!(objFound.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      objNames.push_back(objFound.cFileName);
  } while (FindNextFileA(objFind, &objFound));
  DWORD lngCode = GetLastError();
  FindClose(objFind);
  if (lngCode != ERROR_NO_MORE_FILES) subRaiseCode(lngCode);
  return objNames;
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

// ---- Registry

int32_t fncRegOpenAgentKey(RegKey* pKey) {
  // A 32-bit build sees the 32-bit view by itself; a 64-bit build asks for it.
  const REGSAM lngAccess = KEY_READ | (sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0);
  HKEY objKey = nullptr;
  LONG lngCode = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VELMOR", 0, lngAccess, &objKey);
  *pKey = lngCode == ERROR_SUCCESS ? static_cast<RegKey>(objKey) : nullptr;
  return static_cast<int32_t>(lngCode);
}

int32_t fncRegQueryValue(RegKey objKey, const std::string& strName, uint32_t* pType,
                         char* pData, uint32_t* pSize) {
  DWORD lngType = 0;
  DWORD lngSize = pSize != nullptr ? *pSize : 0;
  LONG lngCode = RegQueryValueExA(static_cast<HKEY>(objKey), strName.c_str(), nullptr, &lngType,
                                  reinterpret_cast<BYTE*>(pData),
                                  pSize != nullptr ? &lngSize : nullptr);
  if (pType != nullptr) *pType = lngType;
  if (pSize != nullptr) *pSize = lngSize;
  return static_cast<int32_t>(lngCode);
}

void subRegCloseKey(RegKey objKey) {
  if (objKey != nullptr) RegCloseKey(static_cast<HKEY>(objKey));
}

// ---- Profile files

uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  return GetPrivateProfileStringA(strSection.c_str(), strKey.c_str(), "", pBuffer, lngSize,
                                  strFile.c_str());
}

uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  return GetPrivateProfileSectionNamesA(pBuffer, lngSize, strFile.c_str());
}

bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile) {
  return WritePrivateProfileStringA(strSection.c_str(), strKey.c_str(), strValue.c_str(),
                                    strFile.c_str()) != 0;
}

// ---- Processes

// Each started process's handle is kept until the program opens it to wait
// (or until the run ends): a process that exits at once stays known, with
// its exit code, and its ID cannot pass to another process meanwhile.
std::map<uint32_t, HANDLE> g_started;

uint32_t fncStartProcess(const std::string& strCommandLine) {
  // CreateProcessA may write into the command line it is given.
  std::vector<char> objCommand(strCommandLine.begin(), strCommandLine.end());
  objCommand.push_back('\0');
  STARTUPINFOA objStartup = {};
  objStartup.cb = sizeof objStartup;
  objStartup.dwFlags = STARTF_USESHOWWINDOW;
  objStartup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION objProcess = {};
  if (!CreateProcessA(nullptr, objCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &objStartup, &objProcess))
    subRaiseCode(GetLastError());
  CloseHandle(objProcess.hThread);
  g_started[objProcess.dwProcessId] = objProcess.hProcess;
  return objProcess.dwProcessId;
}

ProcHandle fncOpenProcess(uint32_t lngAccess, uint32_t lngProcessID) {
  HANDLE objHandle = OpenProcess(lngAccess, FALSE, lngProcessID);
  auto it = g_started.find(lngProcessID);
  if (it != g_started.end()) {
    CloseHandle(it->second);
    g_started.erase(it);
  }
  return objHandle;
}

uint32_t fncWaitForProcess(ProcHandle objProcess, uint32_t lngMilliseconds) {
  return WaitForSingleObject(static_cast<HANDLE>(objProcess), lngMilliseconds);
}

bool fncExitCode(ProcHandle objProcess, uint32_t* pCode) {
  DWORD lngCode = 0;
  if (!GetExitCodeProcess(static_cast<HANDLE>(objProcess), &lngCode)) return false;
  *pCode = lngCode;
  return true;
}

void subCloseProcess(ProcHandle objProcess) {
  if (objProcess != nullptr) CloseHandle(static_cast<HANDLE>(objProcess));
}

// Windows keeps no zombies; only the kept handles are let go.
void subReapProcesses() {
  for (auto& objEntry : g_started) CloseHandle(objEntry.second);
  g_started.clear();
}

// ---- Run lock

HANDLE g_runLock = nullptr;  // held until the process ends

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

}  // namespace

const Platform& NativePlatform() {
  // Filled by name, in the order of the declaration: two entries cannot
  // trade places unnoticed.
  static const Platform objNative = {
      .chrSeparator = '\\',
      .fncCommandLineTail = fncCommandLineTail,
      .fncAppFolder = fncAppFolder,
      .fncLocalTime = fncLocalTime,
      .fncShortDate = fncShortDate,
      .fncLongTime = fncLongTime,
      .fncTimeSeparator = fncTimeSeparator,
      .subSleep = subSleep,
      .fncShortPathName = fncShortPathName,
      .fncSetAttributesNormal = fncSetAttributesNormal,
      .fncFileExists = fncFileExists,
      .subCopyFile = subCopyFile,
      .subDeleteFile = subDeleteFile,
      .fncCreateTextFile = fncCreateTextFile,
      .subWriteLine = subWriteLine,
      .subCloseTextFile = subCloseTextFile,
      .fncRegOpenAgentKey = fncRegOpenAgentKey,
      .fncRegQueryValue = fncRegQueryValue,
      .subRegCloseKey = subRegCloseKey,
      .fncGetProfileString = fncGetProfileString,
      .fncGetProfileSectionNames = fncGetProfileSectionNames,
      .fncWriteProfileString = fncWriteProfileString,
      .fncStartProcess = fncStartProcess,
      .fncOpenProcess = fncOpenProcess,
      .fncWaitForProcess = fncWaitForProcess,
      .fncExitCode = fncExitCode,
      .subCloseProcess = subCloseProcess,
      .subReapProcesses = subReapProcesses,
      .fncListFiles = fncListFiles,
      .fncReadFileBytes = fncReadFileBytes,
      .fncLockAppFolder = fncLockAppFolder,
      .fncHashBegin = hash::fncHashBegin,
      .subHashAdd = hash::subHashAdd,
      .fncHashEnd = hash::fncHashEnd,
      .fncHashFile = hash::fncHashFile,
  };
  return objNative;
}

}  // namespace tarvex
