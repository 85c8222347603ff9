// Pieces of the Win32 platform layer shared between its files, and open to
// the unit tests. ANSI entry points throughout, so every string stays in the
// system's ANSI code page.
#ifndef TARVEX_PLATFORM_WIN32_INTERNAL_H_
#define TARVEX_PLATFORM_WIN32_INTERNAL_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex {
namespace win32 {

// ---- errors.cc
// Folds the system codes that mean the same thing to the program onto the
// numbers of the error table; any other code keeps its own number.
int32_t fncMapError(DWORD lngCode);
[[noreturn]] void subRaiseNumber(int32_t lngNumber);
[[noreturn]] void subRaiseCode(DWORD lngCode);

// A handle closed on every way out.
struct Handle {
  HANDLE objHandle = INVALID_HANDLE_VALUE;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { subClose(); }
  bool fncOpen() const { return objHandle != INVALID_HANDLE_VALUE && objHandle != nullptr; }
  bool subClose() {
    bool blnClosed = true;
    if (fncOpen()) blnClosed = CloseHandle(objHandle) != 0;
    objHandle = INVALID_HANDLE_VALUE;
    return blnClosed;
  }
};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ---- clock.cc
LocalTime fncLocalTime();
std::string fncShortDate(const LocalTime& objTime);
std::string fncLongTime(const LocalTime& objTime);
std::string fncTimeSeparator();
void subSleep(uint32_t lngMilliseconds);

// ---- process.cc
// The text after the program name in a command line (open to the tests,
// which cannot choose their own process's command line).
std::string fncCommandLineTail(const char* pText);
std::string fncCommandLineTail();
std::string fncAppFolder();
uint32_t fncCurrentProcessID();
bool fncProcessEnded(uint32_t lngProcessID);
uint32_t fncStartProcess(const std::string& strCommandLine);
ProcHandle fncOpenProcess(uint32_t lngAccess, uint32_t lngProcessID);
uint32_t fncWaitForProcess(ProcHandle objProcess, uint32_t lngMilliseconds);
bool fncExitCode(ProcHandle objProcess, uint32_t* pCode);
void subCloseProcess(ProcHandle objProcess);
void subReapProcesses();

// ---- run_lock.cc
// The name of the run lock of an application folder: the same for every
// spelling of the folder.
std::string fncRunLockName(const std::string& strFolder);
// The security of the run lock, in the system's descriptor language (SDDL).
std::string fncRunLockSecurity();
bool fncLockAppFolder(uint32_t lngMilliseconds);

// ---- files.cc
std::string fncShortPathName(const std::string& strPath);
bool fncSetAttributesNormal(const std::string& strPath);
bool fncFileExists(const std::string& strPath);
uint32_t fncFileTraits(const std::string& strPath);
std::string fncStoredName(const std::string& strPath);
void subDeleteFile(const std::string& strPath);
int32_t fncQueryFile(const std::string& strPath, FileInfo* pInfo);
FileHandle fncOpenRead(const std::string& strPath, FileInfo* pInfo);
size_t fncReadAt(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength);
FileHandle fncCreateNew(const std::string& strPath);
void subWrite(FileHandle objFile, const char* pData, size_t lngLength);
void subFlush(FileHandle objFile);
void subSetModeAndTime(FileHandle objFile, uint32_t lngMode, int64_t lngModified);
std::string fncReadSecurity(const std::string& strPath);
void subApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner);
bool fncClose(FileHandle objFile);
void subReplace(const std::string& strFrom, const std::string& strTo);
void subFlushFolder(const std::string& strFolder);
std::vector<std::string> fncListFiles(const std::string& strFolder);
// The attributes a copy carries over, and those it sets.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---- text_files.cc
TextFile fncCreateTextFile(const std::string& strPath);
void subWriteLine(TextFile objFile, const std::string& strText);
void subCloseTextFile(TextFile objFile);
std::string fncReadFileBytes(const std::string& strPath);

// ---- registry.cc
int32_t fncRegOpenAgentKey(RegKey* pKey);
int32_t fncRegQueryValue(RegKey objKey, const std::string& strName, uint32_t* pType,
                         char* pData, uint32_t* pSize);
void subRegCloseKey(RegKey objKey);

// ---- profile.cc
uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile);
uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile);
bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile);

}  // namespace win32
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_WIN32_INTERNAL_H_
