// Files: the copy engine's primitives and the other file operations, each
// one Win32 call or a few.
#include <cstring>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

namespace {

HANDLE fncWin(FileHandle objFile) { return reinterpret_cast<HANDLE>(objFile); }
FileHandle fncOurs(HANDLE objFile) { return reinterpret_cast<FileHandle>(objFile); }

std::string fncFileNamePart(const std::string& strPath) {
  size_t lngSlash = strPath.find_last_of("\\/:");
  return lngSlash == std::string::npos ? strPath : strPath.substr(lngSlash + 1);
}

void subFill(const BY_HANDLE_FILE_INFORMATION& objFound, FileInfo* pInfo) {
  pInfo->blnFolder = (objFound.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  pInfo->blnRegular = !pInfo->blnFolder && !(objFound.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  pInfo->blnReadOnly = (objFound.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  pInfo->blnIdentity = true;
  pInfo->lngVolume = objFound.dwVolumeSerialNumber;
  pInfo->lngIndex = (static_cast<uint64_t>(objFound.nFileIndexHigh) << 32) | objFound.nFileIndexLow;
  pInfo->lngSize = (static_cast<uint64_t>(objFound.nFileSizeHigh) << 32) | objFound.nFileSizeLow;
  pInfo->lngMode = objFound.dwFileAttributes;
  pInfo->lngModified = static_cast<int64_t>(
      (static_cast<uint64_t>(objFound.ftLastWriteTime.dwHighDateTime) << 32) |
      objFound.ftLastWriteTime.dwLowDateTime);
}

const SECURITY_INFORMATION kSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

// ---- paths and attributes

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

bool fncFileExists(const std::string& strPath) {
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  return lngAttributes != INVALID_FILE_ATTRIBUTES && !(lngAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows has no execute permission: only the read-only attribute hinders.
uint32_t fncFileTraits(const std::string& strPath) {
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  return lngAttributes != INVALID_FILE_ATTRIBUTES && (lngAttributes & FILE_ATTRIBUTE_READONLY)
             ? kTraitReadOnly
             : 0u;
}

std::string fncStoredName(const std::string& strPath) {
  char chrBuffer[MAX_PATH * 4] = {};
  DWORD lngLength = GetLongPathNameA(strPath.c_str(), chrBuffer, sizeof chrBuffer);
  if (lngLength == 0 || lngLength >= sizeof chrBuffer) return fncFileNamePart(strPath);
  return fncFileNamePart(std::string(chrBuffer, lngLength));
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

// ---- the copy engine's primitives

// The attributes, and through a handle that only reads attributes (a file
// in use without sharing still gives one) its identity, size and time.
int32_t fncQueryFile(const std::string& strPath, FileInfo* pInfo) {
  WIN32_FILE_ATTRIBUTE_DATA objData;
  if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &objData))
    return fncMapError(GetLastError());
  BY_HANDLE_FILE_INFORMATION objFound = {};
  objFound.dwFileAttributes = objData.dwFileAttributes;
  objFound.ftLastWriteTime = objData.ftLastWriteTime;
  objFound.nFileSizeHigh = objData.nFileSizeHigh;
  objFound.nFileSizeLow = objData.nFileSizeLow;
  Handle objFile;
  objFile.objHandle = CreateFileA(strPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool blnIdentity =
      objFile.fncOpen() && GetFileInformationByHandle(objFile.objHandle, &objFound);
  subFill(objFound, pInfo);
  pInfo->blnIdentity = blnIdentity;
  return 0;
}

// Held against writers where it can be, so that the bytes cannot change
// while they are read; attributes may be set through the handle where the
// file allows it; a program in use can still be read.
FileHandle fncOpenRead(const std::string& strPath, FileInfo* pInfo) {
  HANDLE objFile = INVALID_HANDLE_VALUE;
  for (DWORD lngAccess : {GENERIC_READ | FILE_WRITE_ATTRIBUTES, DWORD(GENERIC_READ)}) {
    for (DWORD lngShare : {DWORD(FILE_SHARE_READ | FILE_SHARE_DELETE), kShareAll}) {
      objFile = CreateFileA(strPath.c_str(), lngAccess, lngShare, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      if (objFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    }
    if (objFile != INVALID_HANDLE_VALUE) break;
  }
  if (objFile == INVALID_HANDLE_VALUE) subRaiseCode(GetLastError());
  BY_HANDLE_FILE_INFORMATION objFound;
  if (!GetFileInformationByHandle(objFile, &objFound)) {
    DWORD lngCode = GetLastError();
    CloseHandle(objFile);
    subRaiseCode(lngCode);
  }
  subFill(objFound, pInfo);
  return fncOurs(objFile);
}

// The name itself: a link or other reparse point there is opened as what it
// is, never followed, and refused; a folder opens (and says so).
FileHandle fncOpenNoFollow(const std::string& strPath, FileInfo* pInfo) {
  Handle objFile;
  for (DWORD lngShare : {DWORD(FILE_SHARE_READ | FILE_SHARE_DELETE), kShareAll}) {
    objFile.objHandle =
        CreateFileA(strPath.c_str(), GENERIC_READ, lngShare, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (objFile.fncOpen() || GetLastError() != ERROR_SHARING_VIOLATION) break;
  }
  if (!objFile.fncOpen()) subRaiseCode(GetLastError());
  BY_HANDLE_FILE_INFORMATION objFound;
  if (!GetFileInformationByHandle(objFile.objHandle, &objFound)) subRaiseCode(GetLastError());
  if (objFound.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) subRaiseNumber(kErrStoppedAtLink);
  subFill(objFound, pInfo);
  // A pipe or a device is no file on a disk.
  if (GetFileType(objFile.objHandle) != FILE_TYPE_DISK) pInfo->blnRegular = false;
  HANDLE objOpened = objFile.objHandle;
  objFile.objHandle = INVALID_HANDLE_VALUE;
  return fncOurs(objOpened);
}

size_t fncReadAt(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength) {
  size_t lngDone = 0;
  while (lngDone < lngLength) {
    OVERLAPPED objAt = {};
    const uint64_t lngFrom = lngOffset + lngDone;
    objAt.Offset = static_cast<DWORD>(lngFrom);
    objAt.OffsetHigh = static_cast<DWORD>(lngFrom >> 32);
    DWORD lngRead = 0;
    if (!ReadFile(fncWin(objFile), pData + lngDone, static_cast<DWORD>(lngLength - lngDone),
                  &lngRead, &objAt)) {
      DWORD lngCode = GetLastError();
      if (lngCode == ERROR_HANDLE_EOF) break;
      subRaiseCode(lngCode);
    }
    if (lngRead == 0) break;
    lngDone += lngRead;
  }
  return lngDone;
}

// The new file may be given the replaced target's access list and owner.
FileHandle fncCreateNew(const std::string& strPath, bool) {
  HANDLE objFile = CreateFileA(strPath.c_str(),
                               GENERIC_WRITE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE)
    objFile = CreateFileA(strPath.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) subRaiseCode(GetLastError());
  return fncOurs(objFile);
}

void subWrite(FileHandle objFile, const char* pData, size_t lngLength) {
  while (lngLength > 0) {
    DWORD lngWritten = 0;
    const DWORD lngChunk = lngLength > (1u << 30) ? (1u << 30) : static_cast<DWORD>(lngLength);
    if (!WriteFile(fncWin(objFile), pData, lngChunk, &lngWritten, nullptr))
      subRaiseCode(GetLastError());
    if (lngWritten == 0) subRaiseNumber(kErrDiskFull);
    pData += lngWritten;
    lngLength -= lngWritten;
  }
}

// FlushFileBuffers needs a handle that may write: one opened to read is
// reopened for writing, which the system may refuse (5, 32).
void subFlush(FileHandle objFile) {
  if (FlushFileBuffers(fncWin(objFile))) return;
  DWORD lngCode = GetLastError();
  if (lngCode != ERROR_ACCESS_DENIED) subRaiseCode(lngCode);
  Handle objWriter;
  objWriter.objHandle = ReOpenFile(fncWin(objFile), GENERIC_WRITE, kShareAll, 0);
  if (!objWriter.fncOpen()) subRaiseCode(GetLastError());
  if (!FlushFileBuffers(objWriter.objHandle)) subRaiseCode(GetLastError());
}

void subSetModeAndTime(FileHandle objFile, uint32_t lngMode, int64_t lngModified) {
  FILE_BASIC_INFO objBasic = {};  // times of 0 stay as they are
  objBasic.LastWriteTime.QuadPart = lngModified;
  objBasic.FileAttributes = lngMode & kKeptAttributes;
  if (objBasic.FileAttributes == 0) objBasic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(fncWin(objFile), FileBasicInfo, &objBasic, sizeof objBasic))
    subRaiseCode(GetLastError());
}

// Owner, group and access list, as a self-relative security descriptor.
std::string fncReadSecurity(const std::string& strPath) {
  DWORD lngNeeded = 0;
  GetFileSecurityA(strPath.c_str(), kSecurityParts, nullptr, 0, &lngNeeded);
  if (lngNeeded == 0) subRaiseCode(GetLastError());
  std::string strDescriptor(lngNeeded, '\0');
  if (!GetFileSecurityA(strPath.c_str(), kSecurityParts,
                        reinterpret_cast<PSECURITY_DESCRIPTOR>(&strDescriptor[0]), lngNeeded,
                        &lngNeeded))
    subRaiseCode(GetLastError());
  return strDescriptor;
}

void subApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner) {
  std::string strCopy = strSecurity;  // the call does not take a const descriptor
  SECURITY_INFORMATION lngParts = GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (blnOwner) lngParts |= OWNER_SECURITY_INFORMATION;
  if (!SetKernelObjectSecurity(fncWin(objFile), lngParts,
                               reinterpret_cast<PSECURITY_DESCRIPTOR>(&strCopy[0])))
    subRaiseCode(GetLastError());
}

bool fncClose(FileHandle objFile) { return CloseHandle(fncWin(objFile)) != 0; }

// Write-through: the move is on the disk before it returns.
void subReplace(const std::string& strFrom, const std::string& strTo) {
  if (!MoveFileExA(strFrom.c_str(), strTo.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    subRaiseCode(GetLastError());
}

// The replace wrote through: nothing is left to flush.
void subFlushFolder(const std::string&) {}

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

}  // namespace win32
}  // namespace tarvex
