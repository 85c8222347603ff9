// Pieces of the POSIX platform layer shared between its files, and open to
// the unit tests and fuzz targets.
#ifndef TARVEX_PLATFORM_POSIX_INTERNAL_H_
#define TARVEX_PLATFORM_POSIX_INTERNAL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex {
namespace posix {

// ---- cmdline.cc
// Splits a command line into arguments by the Windows rules (the program
// name by quotes only; then blanks, quotes and backslashes as the C
// run-time parses them).
std::vector<std::string> fncSplitCommandLine(const std::string& strCommandLine);

// ---- errors.cc: errno onto the error table.
Error fncErrnoError(int intErrno);
[[noreturn]] void subRaiseErrno(int intErrno);

// ---- clock.cc
LocalTime fncLocalTime();
std::string fncShortDate(const LocalTime& objTime);
std::string fncLongTime(const LocalTime& objTime);
std::string fncTimeSeparator();
void subSleep(uint32_t lngMilliseconds);
int64_t fncMonotonicMs();

// ---- process.cc
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
bool fncLockAppFolder(uint32_t lngMilliseconds);

// ---- files.cc: the table's file operations.
bool fncWriteAll(int intFile, const char* pData, size_t lngLength);
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
int64_t fncCopyRange(FileHandle objFrom, uint64_t lngOffset, FileHandle objTo, uint64_t lngLength);
int fncCompareRange(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);
void subFlush(FileHandle objFile);
void subSetModeAndTime(FileHandle objFile, uint32_t lngMode, int64_t lngModified);
std::string fncReadSecurity(const std::string& strPath);
void subApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner);
bool fncClose(FileHandle objFile);
void subReplace(const std::string& strFrom, const std::string& strTo);
void subFlushFolder(const std::string& strFolder);
std::vector<std::string> fncListFiles(const std::string& strFolder);

// ---- text_files.cc
TextFile fncCreateTextFile(const std::string& strPath);
void subWriteLine(TextFile objFile, const std::string& strText);
void subCloseTextFile(TextFile objFile);
std::string fncReadFileBytes(const std::string& strPath);
// Replaces a file's whole content in one step: a temporary file beside it,
// then rename. Raises Error on failure and leaves no temporary behind.
void subReplaceFileContent(const std::string& strPath, const std::string& strContent);

// ---- run_lock.cc
// The lock file of an application folder, beside the program.
const char kRunLockName[] = ".Tarvex.lock";
std::string fncRunLockPath(const std::string& strFolder);
// The platform table's run lock (see platform.h).
bool fncLockAppFolder(uint32_t lngMilliseconds);

// ---- text.cc
// ASCII case folding, as profile and registry names compare.
std::string fncFold(const std::string& strText);
void subAppendUtf8(std::string& strOut, uint32_t lngCode);
// UTF-16 (without its mark) to UTF-8 and back; what cannot be converted
// becomes U+FFFD, an odd last byte is dropped.
std::string fncFromUtf16(const char* pData, size_t lngSize, bool blnBigEndian);
std::string fncToUtf16(const std::string& strText, bool blnBigEndian);
// Appends everything left in an open file; false on a read error.
bool fncReadAll(int intFile, std::string& strData);

// ---- profile.cc: profile files with the Win32 rules.
uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile);
uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile);
bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile);

// ---- registry.cc: the machine registry as a registry-export text
// file, named by TARVEX_REGISTRY (default /etc/tarvex/registry.reg).
int32_t fncRegOpenAgentKey(RegKey* pKey);
int32_t fncRegQueryValue(RegKey objKey, const std::string& strName, uint32_t* pType,
                         char* pData, uint32_t* pSize);
void subRegCloseKey(RegKey objKey);

// The two ways fncCompareRange compares, by mapping and by reading; it
// takes the one it has timed the faster.
int fncCompareMapped(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);
int fncCompareRead(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);

}  // namespace posix
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_POSIX_INTERNAL_H_
