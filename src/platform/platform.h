// The operations Tarvex needs of its host, and nothing else.
//
// The logic in control/, environment/, deploy/ and status/ reaches the
// operating system only through the table below, whose entries are listed,
// each with what it does, in primitives.def. The native table for this
// build comes from win32/table.cc or posix/table.cc; tests copy it,
// replace single entries (to inject a failure, record a call or skip a
// pause) and install the copy in Os() (see testing/test_platform.h).
//
// What to refuse, what counts as unchanged and what to try again are
// decided above the table, once for both builds: the copy engine
// (deploy/copy.cc), the temporary files and the whole-file reads below.
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
  kErrFileTooLarge = 223,  // beyond the cap of what is read whole
  kErrPathTooLong = 206,
  kErrIsFolder = 267,
  kErrStoppedAtLink = 681,  // a link or reparse point where a file itself was asked for
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
#define TARVEX_VALUE(TYPE, NAME) TYPE NAME;
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) RESULT(*NAME) PARAMS;
#include "platform/primitives.def"
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
// *pPath. Private to this user unless blnShared (see fncCreateNew). First
// removes the leftovers of ended runs in the folder, once per folder and
// run. Raises Error.
FileHandle fncCreateTemporary(const std::string& strFolder, const std::string& strName,
                              std::string* pPath, bool blnShared = false);
// Removes a temporary file; never raises.
void subDiscardTemporary(const std::string& strPath);
// Lets the next copy into each folder look for leftovers again (a new run).
void subForgetSweptFolders();

// Whole files (whole_files.cc), over the table in use: the one way a file
// is read whole. Opens without waiting (fncOpenNoFollow with blnAtName,
// else through links) and reads a regular file alone, of at most lngCap
// bytes. Raises Error: 2 missing, 267 a folder, 87 anything else that is
// no regular file, 681 a link where blnAtName, 223 beyond the cap.
std::string fncReadWholeFile(const std::string& strPath, uint64_t lngCap, bool blnAtName);
// A file's whole content replaced in one step, in strFolder: an exclusive
// temporary file of this run's beside it (never through a link, with the
// mode the umask gives any new file), on the disk before one rename, and
// the folder's entry flushed after it. Raises Error; leaves no temporary.
void subReplaceWholeFile(const std::string& strFolder, const std::string& strName,
                         const std::string& strBytes);
// The SHA-256 of a regular file, streamed; of bytes in memory.
std::string fncHashFile(const std::string& strPath);
std::string fncHashBytes(const std::string& strBytes);
// Lowercase hex of bytes.
std::string fncHex(const unsigned char* pBytes, size_t lngLength);

// Entry: what the system's own start of a process leaves to the program
// (POSIX: the arguments, the locale of dates and times, SIGCHLD); then
// main calls Main.
void subBeginProcess(int argc, char** argv);

}  // namespace tarvex

#endif  // TARVEX_PLATFORM_PLATFORM_H_
