// The operations Tarvex needs of its host, and nothing else.
//
// The logic in control/, environment/, deploy/ and status/ reaches the
// operating system only through the table below. The native table for this
// build comes from win32/table.cc or posix/table.cc; tests copy it,
// replace single entries (to inject a failure, record a call or skip a
// pause) and install the copy in Os() (see testing/test_platform.h).
//
// Strings are bytes in the system's ANSI code page (UTF-8 on POSIX).
#ifndef TARVEX_PLATFORM_PLATFORM_H_
#define TARVEX_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

// A raised error: a signed 32-bit number and a description. The numbers are
// those of the table in the README (Windows system error codes; POSIX errno
// values are mapped onto them).
struct Error {
  int32_t lngNumber;
  std::string strDescription;
};

[[noreturn]] void subRaise(int32_t lngNumber, const std::string& strDescription);

// Error numbers raised by the platform layers and the program itself.
enum : int32_t {
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrAccessDenied = 5,
  kErrOutOfMemory = 8,
  kErrInvalidData = 13,
  kErrSharingViolation = 32,
  kErrFileExists = 80,
  kErrInvalidParameter = 87,
  kErrDiskFull = 112,
  kErrBadName = 123,  // a name no Windows name can be (a quote in it)
  kErrBadExeFormat = 193,
  kErrPathTooLong = 206,
  kErrIsFolder = 267,
  kErrIoError = 1117,
  kErrInternal = 1359,
};

// The fixed description of one of the numbers above ("System error N" for
// any other number).
std::string fncErrorText(int32_t lngNumber);

struct LocalTime {
  int intYear, intMonth, intDay;  // month 1-12
  int intHour, intMinute, intSecond;
};

typedef void* TextFile;  // an open run log
typedef void* RegKey;    // an open registry key
typedef void* ProcHandle;
typedef void* Hasher;  // a SHA-256 being computed
// An open file of the copy engine: a descriptor on POSIX, a HANDLE on Windows.
typedef intptr_t FileHandle;
const FileHandle kNoFile = -1;

// What the copy engine learns of a file. Identity, mode and time are the
// system's own: dev and inode or volume serial and file index; mode bits
// or attributes; nanoseconds since 1970 or a FILETIME.
struct FileInfo {
  bool blnFolder = false;
  bool blnRegular = false;    // a plain file (not a FIFO, device or socket)
  bool blnReadOnly = false;   // may not be written: no owner write bit, the read-only attribute
  bool blnIdentity = false;   // lngVolume and lngIndex are known
  uint64_t lngVolume = 0, lngIndex = 0;
  uint64_t lngSize = 0;
  uint32_t lngMode = 0;
  int64_t lngModified = 0;
};

// Registry value types, as the registry stores them.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4 };
enum : uint32_t { kWaitObject0 = 0, kWaitTimeout = 258, kWaitFailed = 0xFFFFFFFFu };
enum : uint32_t { kStillActive = 259 };
enum : uint32_t { kTraitReadOnly = 1, kTraitNotRunnable = 2 };

struct Platform {
  // The folder separator this build writes: '\\' on Windows, '/' on POSIX.
  char chrSeparator;

  // ---- Process and clock. These never raise.
  // The whole argument text after the program name.
  std::string (*fncCommandLineTail)();
  // Folder of the running executable, without a trailing separator.
  std::string (*fncAppFolder)();
  LocalTime (*fncLocalTime)();
  // Host's short date / long time texts for a time.
  std::string (*fncShortDate)(const LocalTime&);
  std::string (*fncLongTime)(const LocalTime&);
  // Host's time separator (":" in most settings).
  std::string (*fncTimeSeparator)();
  void (*subSleep)(uint32_t lngMilliseconds);

  // ---- Paths and attributes. These never raise.
  // Short (8.3) form of an existing path; empty when none can be produced.
  std::string (*fncShortPathName)(const std::string& strPath);
  // Clears read-only, hidden and system attributes; false when refused.
  bool (*fncSetAttributesNormal)(const std::string& strPath);

  // ---- File-system object. Existence never raises; the rest raise Error.
  // True for an existing file; false for a folder or a missing path.
  bool (*fncFileExists)(const std::string& strPath);
  // Deletes a file, read-only or not.
  void (*subDeleteFile)(const std::string& strPath);
  // Creates (overwrites) an ANSI text file for writing lines. A read-only
  // file is refused; on POSIX also a link or anything but a plain file.
  TextFile (*fncCreateTextFile)(const std::string& strPath);
  // Writes the text and CR LF.
  void (*subWriteLine)(TextFile objFile, const std::string& strText);
  void (*subCloseTextFile)(TextFile objFile);

  // ---- File primitives of the copy engine (deploy/copy.cc), which makes
  // every decision of a copy; each of these does one thing the system's
  // manual describes. All raise Error but the query, close and end test.
  // What is known of a path without opening it for reading: 0, or the
  // error number (2 for a missing file, 3 for a missing folder). Follows
  // links. Never raises.
  int32_t (*fncQueryFile)(const std::string& strPath, FileInfo* pInfo);
  // Opens an existing file for reading (and, on Windows, for setting its
  // attributes where that is allowed); never waits (a FIFO has no writer).
  FileHandle (*fncOpenRead)(const std::string& strPath, FileInfo* pInfo);
  // Reads up to lngLength bytes at lngOffset; fewer only at the end.
  size_t (*fncReadAt)(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength);
  // Creates a new file for writing, exclusively: an existing file or link
  // at the name fails it with 80 and is never opened or followed.
  FileHandle (*fncCreateNew)(const std::string& strPath);
  // Writes all of the bytes at the end of what was written.
  void (*subWrite)(FileHandle objFile, const char* pData, size_t lngLength);
  // The kernel's own copy: up to lngLength bytes of objFrom at lngOffset to
  // the end of objTo; the number copied, 0 at the source's end, -1 where
  // the system cannot copy between the two. Null where the system has none.
  int64_t (*fncCopyRange)(FileHandle objFrom, uint64_t lngOffset, FileHandle objTo,
                          uint64_t lngLength);
  // Compares lngLength bytes of two files at lngOffset (a multiple of the
  // page size) where the system can map them: 1 equal, 0 different, -1 not
  // compared this way (not mappable, or a file shorter than the range).
  // Null where the system has none. Never raises.
  int (*fncCompareRange)(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);
  // Puts the file's bytes on the disk (fsync; FlushFileBuffers).
  void (*subFlush)(FileHandle objFile);
  // Sets the mode bits (POSIX) or attributes (Windows) and, unless 0, the
  // time of last change, both as FileInfo gives them.
  void (*subSetModeAndTime)(FileHandle objFile, uint32_t lngMode, int64_t lngModified);
  // A file's owner, group and (Windows) access list as an opaque value.
  std::string (*fncReadSecurity)(const std::string& strPath);
  // Gives an open file that value's access list and group, and its owner
  // when blnOwner (which the system may refuse: 5).
  void (*subApplySecurity)(FileHandle objFile, const std::string& strSecurity, bool blnOwner);
  // False when the system reported an error on closing (a write it lost).
  bool (*fncClose)(FileHandle objFile);
  // Replaces strTo by strFrom in one step (rename; MoveFileExA with
  // replace and write-through).
  void (*subReplace)(const std::string& strFrom, const std::string& strTo);
  // Puts a folder's entries on the disk (fsync of the folder, or of its
  // file system where the folder cannot be read; nothing on Windows, whose
  // replace writes through).
  void (*subFlushFolder)(const std::string& strFolder);
  // The name a file is stored under: its long name where the path gives
  // the short (8.3) form; the path's last part where there is none.
  std::string (*fncStoredName)(const std::string& strPath);
  // The names of the files directly in a folder, in no set order: what the
  // existence test above calls a file (folders left out), each name as the
  // folder stores it. Raises Error.
  std::vector<std::string> (*fncListFiles)(const std::string& strFolder);
  // This process's ID, and whether another process is known to have ended.
  uint32_t (*fncCurrentProcessID)();
  bool (*fncProcessEnded)(uint32_t lngProcessID);
  // Longest path (Windows: MAX_PATH; 0 where the system reaches any) and
  // longest name in a folder; the leading text that hides a file's name.
  size_t lngPathLimit;
  size_t lngNameLimit;
  const char* strHiddenPrefix;
  // The mode bits or attributes that subSetModeAndTime sets, and those of
  // them a copy carries over from its source.
  uint32_t lngModeBits;
  uint32_t lngKeptMode;

  // ---- Registry: HKEY_LOCAL_MACHINE\SOFTWARE\VELMOR, read only, 32-bit
  // view. Return system codes (0 = success, 2 = missing) and never raise.
  int32_t (*fncRegOpenAgentKey)(RegKey* pKey);
  // As RegQueryValueExA: with pData null, reports type and size in bytes
  // (terminating NUL included for strings); otherwise fills *pSize bytes.
  int32_t (*fncRegQueryValue)(RegKey objKey, const std::string& strName, uint32_t* pType,
                              char* pData, uint32_t* pSize);
  void (*subRegCloseKey)(RegKey objKey);

  // ---- Profile files, with the Win32 semantics and return values of
  // GetPrivateProfileStringA (no default), GetPrivateProfileSectionNamesA
  // and WritePrivateProfileStringA. Never raise.
  uint32_t (*fncGetProfileString)(const std::string& strSection, const std::string& strKey,
                                  char* pBuffer, uint32_t lngSize, const std::string& strFile);
  uint32_t (*fncGetProfileSectionNames)(char* pBuffer, uint32_t lngSize,
                                        const std::string& strFile);
  bool (*fncWriteProfileString)(const std::string& strSection, const std::string& strKey,
                                const std::string& strValue, const std::string& strFile);

  // ---- Processes.
  // Starts a command line with a hidden window, inheriting the current
  // folder and environment. Returns the new process's ID (never 0); raises
  // Error when the program cannot be started.
  uint32_t (*fncStartProcess)(const std::string& strCommandLine);
  // Null when the process cannot be opened.
  ProcHandle (*fncOpenProcess)(uint32_t lngAccess, uint32_t lngProcessID);
  uint32_t (*fncWaitForProcess)(ProcHandle objProcess, uint32_t lngMilliseconds);
  // False when the code cannot be read; kStillActive while running.
  bool (*fncExitCode)(ProcHandle objProcess, uint32_t* pCode);
  void (*subCloseProcess)(ProcHandle objProcess);
  // At the end of a run: lets go of started processes that were not waited
  // for (reaps the ended ones on POSIX).
  void (*subReapProcesses)();

  // ---- Used by the package checker alone (a run never reads a file whole).
  // A file's whole content, as bytes. Raises Error.
  std::string (*fncReadFileBytes)(const std::string& strPath);
  // What a copy carries over from a file that hinders a run, as kTrait
  // flags: read-only (the copy is read-only too), not runnable (POSIX: no
  // execute permission, so a copied program cannot be started). 0 for a
  // missing file. Never raises.
  uint32_t (*fncFileTraits)(const std::string& strPath);
  // ---- Run lock, one per application folder.
  // Takes this program's run lock for the rest of the process, waiting up to
  // lngMilliseconds while another run holds it; true once held (at once if
  // this process holds it already), false when the wait ran out. Raises
  // Error when the lock cannot be made. The system lets go of it when the
  // process ends, however it ends; no started process inherits it.
  bool (*fncLockAppFolder)(uint32_t lngMilliseconds);

  // ---- SHA-256 (package seals). All raise Error on failure.
  Hasher (*fncHashBegin)();
  void (*subHashAdd)(Hasher objHash, const char* pData, size_t lngLength);
  std::string (*fncHashEnd)(Hasher objHash);  // 64 lowercase hex digits; frees the state
  std::string (*fncHashFile)(const std::string& strPath);  // a whole file, streamed in blocks
};

// The table in use.
Platform& Os();
// This build's own operations.
const Platform& NativePlatform();

// Names of the copies' temporary files, shared by both implementations: a
// name ends in ".PID-N.tarvex.tmp", the process that made it and its count,
// so that it is the run's own.
std::string fncTemporaryEnding(uint32_t lngProcessID, uint32_t lngSerial);
// The process that made a temporary file, read back from its name; 0 for a
// name that is not one.
uint32_t fncTemporaryOwner(const std::string& strName);
// A short hash of a name (FNV-1a), for temporary names cut to a limit.
uint32_t fncNameHash(const std::string& strName);

// Temporary files (temporary.cc), over the table in use. The path of the
// temporary file for a target strName in strFolder with its count: hidden
// where the system hides names, cut to the system's limits with a hash.
std::string fncTemporaryPath(const std::string& strFolder, const std::string& strName,
                             uint32_t lngSerial);
// The one the next temporary file for that target tries first (tests).
std::string fncNextTemporaryPath(const std::string& strFolder, const std::string& strName);
// Creates a temporary file for that target, exclusively; its path goes to
// *pPath. First removes the leftovers of ended runs in the folder, once per
// folder and run. Raises Error.
FileHandle fncCreateTemporary(const std::string& strFolder, const std::string& strName,
                              std::string* pPath);
// Removes a temporary file; never raises.
void subDiscardTemporary(const std::string& strPath);
// Lets the next copy into each folder look for leftovers again (a new run).
void subForgetSweptFolders();

// Entry: the POSIX main() hands its arguments over before calling Main.
void subSetArguments(int argc, char** argv);

}  // namespace tarvex

#endif  // TARVEX_PLATFORM_PLATFORM_H_
