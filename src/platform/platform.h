// The operations Tarvex needs of its host, and nothing else.
//
// The logic in control/, environment/, deploy/ and status/ reaches the
// operating system only through the table below. The native table for this
// build comes from win32/platform.cc or posix/platform.cc; tests copy it,
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
  kErrSharingViolation = 32,
  kErrFileExists = 80,
  kErrInvalidParameter = 87,
  kErrDiskFull = 112,
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
typedef void* Hasher;      // a SHA-256 computation under way

// Registry value types, as the registry stores them.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4 };
enum : uint32_t { kWaitObject0 = 0, kWaitTimeout = 258, kWaitFailed = 0xFFFFFFFFu };
enum : uint32_t { kStillActive = 259 };

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
  // Copies with overwrite. A destination ending in the separator names the
  // folder to copy into. The target is replaced in one step (a temporary
  // file of this run's own in the destination folder, then rename), so it
  // holds the old or the new bytes, never part of them, and the new bytes
  // are on the disk when the copy returns. A target that already holds the
  // source's bytes is left as it is. An existing read-only target, and a
  // target that is the source itself by any path, fail the copy (5).
  void (*subCopyFile)(const std::string& strSource, const std::string& strDestination);
  // Deletes a file, read-only or not.
  void (*subDeleteFile)(const std::string& strPath);
  // Creates (overwrites) an ANSI text file for writing lines. A read-only
  // file is refused; on POSIX also a link or anything but a plain file.
  TextFile (*fncCreateTextFile)(const std::string& strPath);
  // Writes the text and CR LF.
  void (*subWriteLine)(TextFile objFile, const std::string& strText);
  void (*subCloseTextFile)(TextFile objFile);

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

  // ---- Reading a package folder (the package checker; a run never calls
  // these). Both raise Error.
  // The names of the files directly in a folder, in no set order: what the
  // existence test above calls a file (folders left out), each name as the
  // folder stores it.
  std::vector<std::string> (*fncListFiles)(const std::string& strFolder);
  // A file's whole content, as bytes.
  std::string (*fncReadFileBytes)(const std::string& strPath);
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
  std::string (*fncHashEnd)(Hasher objHash);   // 64 lowercase hex digits; frees the state
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

// Entry: the POSIX main() hands its arguments over before calling Main.
void subSetArguments(int argc, char** argv);

}  // namespace tarvex

#endif  // TARVEX_PLATFORM_PLATFORM_H_
