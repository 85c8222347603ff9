// The POSIX operations behind the platform table.
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>

#include "platform/hash.h"
#include "platform/posix/internal.h"

extern char** environ;

namespace tarvex {

namespace {

std::string g_strArguments;

// ---- errors

[[noreturn]] void subRaiseErrno(int intErrno) {
  Error objError = posix::fncErrnoError(intErrno);
  throw objError;
}

// ---- process and clock

std::string fncCommandLineTail() { return g_strArguments; }

std::string fncAppFolder() {
  std::string strBuffer(4096, '\0');
  for (;;) {
    ssize_t lngLength = readlink("/proc/self/exe", &strBuffer[0], strBuffer.size());
    if (lngLength < 0) return ".";
    if (static_cast<size_t>(lngLength) < strBuffer.size()) {
      strBuffer.resize(static_cast<size_t>(lngLength));
      break;
    }
    strBuffer.resize(strBuffer.size() * 2);
  }
  size_t lngSlash = strBuffer.rfind('/');
  if (lngSlash == std::string::npos) return ".";
  return strBuffer.substr(0, lngSlash);  // "" at the root: "/Duplix.log"
}

LocalTime fncLocalTime() {
  time_t lngNow = time(nullptr);
  struct tm objTm;
  localtime_r(&lngNow, &objTm);
  return LocalTime{objTm.tm_year + 1900, objTm.tm_mon + 1, objTm.tm_mday,
                   objTm.tm_hour,        objTm.tm_min,     objTm.tm_sec};
}

std::string fncFormat(const LocalTime& objTime, const char* strFormat) {
  struct tm objTm;
  std::memset(&objTm, 0, sizeof objTm);
  objTm.tm_year = objTime.intYear - 1900;
  objTm.tm_mon = objTime.intMonth - 1;
  objTm.tm_mday = objTime.intDay;
  objTm.tm_hour = objTime.intHour;
  objTm.tm_min = objTime.intMinute;
  objTm.tm_sec = objTime.intSecond;
  objTm.tm_isdst = -1;
  time_t lngTime = mktime(&objTm);  // fills in the weekday for locales that show it
  if (lngTime != static_cast<time_t>(-1)) localtime_r(&lngTime, &objTm);
  char chrBuffer[128];
  size_t lngLength = strftime(chrBuffer, sizeof chrBuffer, strFormat, &objTm);
  return std::string(chrBuffer, lngLength);
}

std::string fncShortDate(const LocalTime& objTime) { return fncFormat(objTime, "%x"); }
std::string fncLongTime(const LocalTime& objTime) { return fncFormat(objTime, "%X"); }

// The character that follows the hour in the locale's time format.
std::string fncTimeSeparator() {
  const char* strFormat = nl_langinfo(T_FMT);
  if (strFormat == nullptr) return ":";
  const char* p = std::strstr(strFormat, "%H");
  if (p == nullptr) p = std::strstr(strFormat, "%I");
  if (p == nullptr) p = std::strstr(strFormat, "%k");
  if (p == nullptr) p = std::strstr(strFormat, "%l");
  if (p == nullptr || p[2] == '\0' || p[2] == '%') return ":";
  return std::string(1, p[2]);
}

void subSleep(uint32_t lngMilliseconds) {
  struct timespec objWait = {static_cast<time_t>(lngMilliseconds / 1000),
                             static_cast<long>(lngMilliseconds % 1000) * 1000000L};
  while (nanosleep(&objWait, &objWait) != 0 && errno == EINTR) {
  }
}

// ---- paths and attributes

// No short names here: the logic falls back to the path itself.
std::string fncShortPathName(const std::string&) { return ""; }

bool fncSetAttributesNormal(const std::string& strPath) {
  struct stat objStat;
  // A link is left alone: chmod would change the file it points to.
  if (lstat(strPath.c_str(), &objStat) != 0 || S_ISLNK(objStat.st_mode)) return false;
  return chmod(strPath.c_str(), (objStat.st_mode & 07777) | S_IWUSR) == 0;
}

bool fncFileExists(const std::string& strPath) {
  struct stat objStat;
  return stat(strPath.c_str(), &objStat) == 0 && !S_ISDIR(objStat.st_mode);
}

std::string fncFolderOf(const std::string& strPath) {
  size_t lngSlash = strPath.rfind('/');
  if (lngSlash == std::string::npos) return ".";
  if (lngSlash == 0) return "/";
  return strPath.substr(0, lngSlash);
}

std::string fncNameOf(const std::string& strPath) {
  size_t lngSlash = strPath.rfind('/');
  return lngSlash == std::string::npos ? strPath : strPath.substr(lngSlash + 1);
}

// Only the permission bits reach a file Tarvex writes: never set-user-ID,
// set-group-ID or sticky, whatever the source carries.
const mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

uint32_t g_lngTemporaries = 0;  // this run's temporary files so far

// The name of a temporary file that a copy or a rewrite fills before it
// replaces its target: ".NAME.PID-N.tarvex.tmp", of this run alone, so runs
// that work in one folder at once never meet in a temporary file. A name
// too long to take the additions within a folder entry (NAME_MAX) is cut
// and given a hash of the whole name instead.
std::string fncTemporaryLeaf(const std::string& strName, uint32_t lngSerial) {
  const std::string strEnding = fncTemporaryEnding(static_cast<uint32_t>(getpid()), lngSerial);
  const size_t lngLimit = NAME_MAX;
  std::string strLeaf = "." + strName + strEnding;
  if (strLeaf.size() <= lngLimit) return strLeaf;
  char chrHash[16];
  std::snprintf(chrHash, sizeof chrHash, "~%08x", static_cast<unsigned>(fncNameHash(strName)));
  return "." + strName.substr(0, lngLimit - 1 - 9 - strEnding.size()) + chrHash + strEnding;
}

// A target's folder, held open, with the names of the target and its
// temporary file in it. Working relative to the folder keeps every path
// within the limit that the target's own path keeps (PATH_MAX).
struct Destination {
  int intFolder = -1;
  bool blnReadable = false;  // open for reading: listable, and flushable
  std::string strName;
  std::string strTemporary;
  Destination() = default;
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;
  ~Destination() {
    if (intFolder >= 0) close(intFolder);
  }
};

// Removes the temporary files that runs which have ended left in a folder
// (a run killed in the middle of a copy). A file whose run still exists is
// that run's own and stays. Once per folder and run: a folder of many
// targets is read once.
void subClearLeftovers(const Destination& objDestination, const std::string& strFolder) {
  static std::set<std::string> objCleared;
  if (!objDestination.blnReadable || !objCleared.insert(strFolder).second) return;
  int intList = openat(objDestination.intFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (intList < 0) return;
  DIR* objList = fdopendir(intList);
  if (objList == nullptr) {
    close(intList);
    return;
  }
  while (struct dirent* objEntry = readdir(objList)) {
    // Hidden, as this build names them.
    const pid_t lngOwner =
        objEntry->d_name[0] == '.' ? static_cast<pid_t>(fncTemporaryOwner(objEntry->d_name)) : 0;
    if (lngOwner <= 0 || lngOwner == getpid()) continue;
    if (kill(lngOwner, 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(objList), objEntry->d_name, 0);
  }
  closedir(objList);
}

// Opens the folder of a target; a missing folder is "path not found", as
// on Windows.
void subOpenDestination(const std::string& strTarget, Destination& objOut) {
  const std::string strFolder = fncFolderOf(strTarget);
  objOut.intFolder = open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  objOut.blnReadable = objOut.intFolder >= 0;
#if defined(O_PATH)
  // A folder the program may write but not list is still a folder to copy into.
  if (objOut.intFolder < 0 && errno == EACCES)
    objOut.intFolder = open(strFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  if (objOut.intFolder < 0) {
    int intErrno = errno;
    if (intErrno == ENOENT || intErrno == ENOTDIR) subRaise(kErrPathNotFound, fncErrorText(kErrPathNotFound));
    subRaiseErrno(intErrno);
  }
  objOut.strName = fncNameOf(strTarget);
  subClearLeftovers(objOut, strFolder);
}

// A flush that the file system cannot do (EINVAL) is no failure: there is
// nothing more to be had from it.
bool fncFlush(int intFile) { return fsync(intFile) == 0 || errno == EINVAL; }

// A temporary file being filled. Closed, and removed unless it has taken
// its target's place, on every way out, exceptions included.
struct Temporary {
  const Destination& objDestination;
  int intFile = -1;
  bool blnPlaced = false;
  explicit Temporary(Destination& objFor) : objDestination(objFor) {
    // Created afresh and exclusively, never through an existing file or
    // link; a name taken (a run of the same ID elsewhere) moves to the next.
    for (int intTry = 0;; ++intTry) {
      objFor.strTemporary = fncTemporaryLeaf(objFor.strName, ++g_lngTemporaries);
      intFile = openat(objFor.intFolder, objFor.strTemporary.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (intFile >= 0) return;
      if (errno != EEXIST || intTry >= 100) subRaiseErrno(errno);
    }
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (intFile >= 0) close(intFile);
    if (!blnPlaced)
      unlinkat(objDestination.intFolder, objDestination.strTemporary.c_str(), 0);
  }

  // Puts the filled file in its target's place in one step, with its mode.
  // Durable: the file is on the disk before it replaces the target, and the
  // folder entry after, before the caller reports the copy.
  void subPlace(mode_t lngMode, bool blnDurable) {
    if (fchmod(intFile, lngMode) != 0) subRaiseErrno(errno);
    if (blnDurable) {
      if (!fncFlush(intFile)) subRaiseErrno(errno);
    } else {
      int intResult = close(intFile);
      intFile = -1;
      if (intResult != 0) subRaiseErrno(errno);
    }
    if (renameat(objDestination.intFolder, objDestination.strTemporary.c_str(),
                 objDestination.intFolder, objDestination.strName.c_str()) != 0)
      subRaiseErrno(errno);
    blnPlaced = true;
    if (!blnDurable) return;
    // A folder that cannot be opened for reading cannot be flushed by
    // itself: its whole file system is.
    bool blnFlushed = objDestination.blnReadable ? fncFlush(objDestination.intFolder)
                                                 : syncfs(intFile) == 0;
    if (!blnFlushed) subRaiseErrno(errno);
  }
};

// Closes a file on every way out of a routine.
struct FileCloser {
  int intFile;
  ~FileCloser() {
    if (intFile >= 0) close(intFile);
  }
};

bool fncWriteAll(int intFile, const char* pData, size_t lngLength) {
  while (lngLength > 0) {
    ssize_t lngDone = write(intFile, pData, lngLength);
    if (lngDone < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    pData += lngDone;
    lngLength -= static_cast<size_t>(lngDone);
  }
  return true;
}

// Bytes the comparison and the fallback copy move at a time.
const size_t kBlock = 1 << 18;

// Reads up to lngLength bytes at lngOffset; fewer only at the end.
ssize_t fncReadAt(int intFile, char* pData, size_t lngLength, off_t lngOffset) {
  size_t lngDone = 0;
  while (lngDone < lngLength) {
    ssize_t lngRead = pread(intFile, pData + lngDone, lngLength - lngDone,
                            lngOffset + static_cast<off_t>(lngDone));
    if (lngRead < 0 && errno == EINTR) continue;
    if (lngRead < 0) return -1;
    if (lngRead == 0) break;
    lngDone += static_cast<size_t>(lngRead);
  }
  return static_cast<ssize_t>(lngDone);
}

// True when the target, a regular file of the source's size (objTarget),
// holds exactly the source's bytes, compared byte for byte. It is then
// flushed as it stands, so that a target left in place is as durable as a
// copied one. Any doubt answers false, and the copy goes ahead.
bool fncHoldsSameBytes(int intFrom, const Destination& objDestination,
                       const struct stat& objTarget, char* pBuffers) {
  int intTarget = openat(objDestination.intFolder, objDestination.strName.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (intTarget < 0) return false;
  FileCloser objCloser{intTarget};
  struct stat objOpened;
  if (fstat(intTarget, &objOpened) != 0 || objOpened.st_dev != objTarget.st_dev ||
      objOpened.st_ino != objTarget.st_ino || objOpened.st_size != objTarget.st_size)
    return false;
  for (off_t lngAt = 0;;) {
    ssize_t lngSource = fncReadAt(intFrom, pBuffers, kBlock, lngAt);
    ssize_t lngTarget = fncReadAt(intTarget, pBuffers + kBlock, kBlock, lngAt);
    if (lngSource < 0 || lngSource != lngTarget ||
        std::memcmp(pBuffers, pBuffers + kBlock, static_cast<size_t>(lngSource)) != 0)
      return false;
    if (lngSource == 0) break;
    lngAt += lngSource;
  }
  return fdatasync(intTarget) == 0 || errno == EINVAL;
}

// Streams one open file into another, letting the kernel copy where it can.
bool fncCopyContent(int intFrom, int intTo, char* pBuffer) {
#if defined(__linux__)
  for (;;) {
    ssize_t lngDone = copy_file_range(intFrom, nullptr, intTo, nullptr, 1 << 30, 0);
    if (lngDone > 0) continue;
    if (lngDone == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
        errno == EBADF)
      break;
    return false;
  }
  for (;;) {
    ssize_t lngDone = sendfile(intTo, intFrom, nullptr, 1 << 30);
    if (lngDone > 0) continue;
    if (lngDone == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ENOSYS) break;
    return false;
  }
#endif
  for (;;) {
    ssize_t lngRead = read(intFrom, pBuffer, kBlock);
    if (lngRead < 0 && errno == EINTR) continue;
    if (lngRead < 0) return false;
    if (lngRead == 0) return true;
    if (!fncWriteAll(intTo, pBuffer, static_cast<size_t>(lngRead))) return false;
  }
}

// Opens a copy's source: a regular file only. Opening does not wait (a FIFO
// would wait for a writer for ever): anything else, device, FIFO or socket,
// is refused as an invalid parameter, a folder as a folder.
int fncOpenSource(const std::string& strSource, struct stat& objSource) {
  int intFrom = open(strSource.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (intFrom < 0) {
    if (errno == ENXIO) subRaise(kErrInvalidParameter, fncErrorText(kErrInvalidParameter));
    subRaiseErrno(errno);
  }
  if (fstat(intFrom, &objSource) != 0) {
    int intErrno = errno;
    close(intFrom);
    subRaiseErrno(intErrno);
  }
  if (!S_ISREG(objSource.st_mode)) {
    close(intFrom);
    if (S_ISDIR(objSource.st_mode)) subRaiseErrno(EISDIR);
    subRaise(kErrInvalidParameter, fncErrorText(kErrInvalidParameter));
  }
  return intFrom;
}

void subCopyFile(const std::string& strSource, const std::string& strDestination) {
  std::string strTarget = strDestination;
  if (!strTarget.empty() && strTarget.back() == '/') strTarget += fncNameOf(strSource);

  struct stat objSource;
  FileCloser objFrom{fncOpenSource(strSource, objSource)};
  Destination objDestination;
  subOpenDestination(strTarget, objDestination);
  // Allocated before any temporary file exists.
  std::unique_ptr<char[]> objBuffers(new char[2 * kBlock]);

  struct stat objTarget;
  if (fstatat(objDestination.intFolder, objDestination.strName.c_str(), &objTarget, 0) == 0) {
    // rename() would replace a read-only target; Windows refuses to.
    if (S_ISDIR(objTarget.st_mode) || (objTarget.st_mode & S_IWUSR) == 0)
      subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
    // The same file by another path (a link, the same folder twice): a
    // caller that deletes the source after a good copy would lose it.
    // Refused as Windows refuses it.
    if (objTarget.st_dev == objSource.st_dev && objTarget.st_ino == objSource.st_ino)
      subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
    // A target that already holds the bytes stays as it is: its times and
    // identity are kept, and a repeated deployment costs a read.
    if (S_ISREG(objTarget.st_mode) && objTarget.st_size == objSource.st_size &&
        fncHoldsSameBytes(objFrom.intFile, objDestination, objTarget, objBuffers.get()))
      return;
  }

  Temporary objTemporary(objDestination);
  if (!fncCopyContent(objFrom.intFile, objTemporary.intFile, objBuffers.get()))
    subRaiseErrno(errno);
  // The copy keeps the source's permission bits: a program stays runnable.
  objTemporary.subPlace(objSource.st_mode & kPermissionBits, true);
}

void subDeleteFile(const std::string& strPath) {
  struct stat objStat;
  if (lstat(strPath.c_str(), &objStat) == 0 && S_ISDIR(objStat.st_mode)) subRaiseErrno(EISDIR);
  if (unlink(strPath.c_str()) != 0) subRaiseErrno(errno);
}

struct LogFile {
  int intFile;
};

// The file is opened without following a link and emptied only once it is
// known to be a plain file of its own that may be written: a link at its
// name would make the run overwrite another file, and a read-only file is
// refused as on Windows, also for root, whom the system would let write.
TextFile fncCreateTextFile(const std::string& strPath) {
  int intFile =
      open(strPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (intFile < 0) {
    if (errno == ELOOP) subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
    subRaiseErrno(errno);
  }
  struct stat objStat;
  int intErrno = 0;
  if (fstat(intFile, &objStat) != 0)
    intErrno = errno;
  else if (!S_ISREG(objStat.st_mode) || objStat.st_nlink > 1 || (objStat.st_mode & S_IWUSR) == 0)
    intErrno = EACCES;
  else if (ftruncate(intFile, 0) != 0)
    intErrno = errno;
  if (intErrno != 0) {
    close(intFile);
    subRaiseErrno(intErrno);
  }
  try {
    return new LogFile{intFile};
  } catch (...) {
    close(intFile);
    throw;
  }
}

// Each line goes to the file at once: a run that is killed keeps its lines.
void subWriteLine(TextFile objFile, const std::string& strText) {
  LogFile* objLog = static_cast<LogFile*>(objFile);
  if (objLog == nullptr) subRaise(kErrInvalidParameter, fncErrorText(kErrInvalidParameter));
  std::string strLine = strText + "\r\n";
  if (!fncWriteAll(objLog->intFile, strLine.data(), strLine.size())) subRaiseErrno(errno);
}

void subCloseTextFile(TextFile objFile) {
  LogFile* objLog = static_cast<LogFile*>(objFile);
  if (objLog == nullptr) return;
  close(objLog->intFile);
  delete objLog;
}

// ---- package folder

std::vector<std::string> fncListFiles(const std::string& strFolder) {
  DIR* pFolder = opendir(strFolder.c_str());
  if (pFolder == nullptr) subRaiseErrno(errno);
  std::vector<std::string> objNames;
  for (;;) {
    errno = 0;
    struct dirent* pEntry = readdir(pFolder);
    if (pEntry == nullptr) break;
    const char* pName = pEntry->d_name;
    if (std::strcmp(pName, ".") == 0 || std::strcmp(pName, "..") == 0) continue;
    bool blnFile = pEntry->d_type == DT_REG;
    if (pEntry->d_type != DT_REG && pEntry->d_type != DT_DIR) {
      // A link or an unknown type counts as the existence test counts it.
      struct stat objStat;
      blnFile = fstatat(dirfd(pFolder), pName, &objStat, 0) == 0 && !S_ISDIR(objStat.st_mode);
    }
    if (blnFile) objNames.push_back(pName);
  }
  int intError = errno;
  closedir(pFolder);
  if (intError != 0) subRaiseErrno(intError);
  return objNames;
}

// Regular files only: a FIFO or a device named like a package's file would
// otherwise block the read or never end it.
std::string fncReadFileBytes(const std::string& strPath) {
  int intFile = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (intFile < 0) subRaiseErrno(errno);
  struct stat objStat;
  int intError = 0;
  if (fstat(intFile, &objStat) != 0) intError = errno;
  else if (S_ISDIR(objStat.st_mode)) intError = EISDIR;
  else if (!S_ISREG(objStat.st_mode)) intError = EINVAL;
  std::string strData;
  errno = 0;
  if (intError == 0 && !posix::fncReadAll(intFile, strData)) intError = errno ? errno : ENOMEM;
  close(intFile);
  if (intError != 0) subRaiseErrno(intError);
  return strData;
}

// ---- processes

struct Child {
  bool blnEnded = false;
  bool blnCodeKnown = false;  // false for a child reaped by someone else
  uint32_t lngExitCode = 0;
};
std::map<pid_t, Child> g_children;

uint32_t fncExitCodeOf(int intStatus) {
  if (WIFEXITED(intStatus)) return static_cast<uint32_t>(WEXITSTATUS(intStatus));
  if (WIFSIGNALED(intStatus)) return 128u + static_cast<uint32_t>(WTERMSIG(intStatus));
  return 1;
}

// Collects a child's status if it has ended (or waits for it when asked).
bool fncCollect(pid_t lngPid, bool blnBlock) {
  auto it = g_children.find(lngPid);
  if (it == g_children.end()) return false;
  if (it->second.blnEnded) return true;
  int intStatus = 0;
  pid_t lngDone;
  do {
    lngDone = waitpid(lngPid, &intStatus, blnBlock ? 0 : WNOHANG);
  } while (lngDone < 0 && errno == EINTR);
  if (lngDone == lngPid) {
    it->second.blnEnded = true;
    it->second.blnCodeKnown = true;
    it->second.lngExitCode = fncExitCodeOf(intStatus);
    return true;
  }
  if (lngDone < 0) {
    // ECHILD: the child was reaped elsewhere (an ignored SIGCHLD, say). It
    // has ended, but its exit code is unknown, which is not a failure.
    it->second.blnEnded = true;
    return true;
  }
  return false;
}

void subReapProcesses() {
  for (auto& objEntry : g_children)
    if (!objEntry.second.blnEnded) fncCollect(objEntry.first, false);
}

uint32_t fncStartProcess(const std::string& strCommandLine) {
  subReapProcesses();
  std::vector<std::string> objArgs = posix::fncSplitCommandLine(strCommandLine);
  if (objArgs.empty() || objArgs[0].empty()) subRaise(kErrFileNotFound, fncErrorText(kErrFileNotFound));
  std::vector<char*> objArgv;
  for (std::string& strArg : objArgs) objArgv.push_back(&strArg[0]);
  objArgv.push_back(nullptr);

  posix_spawn_file_actions_t objActions;
  posix_spawn_file_actions_init(&objActions);
  posix_spawn_file_actions_addopen(&objActions, 0, "/dev/null", O_RDONLY, 0);
  pid_t lngPid = 0;
  int intResult = posix_spawnp(&lngPid, objArgv[0], &objActions, nullptr, objArgv.data(), environ);
  posix_spawn_file_actions_destroy(&objActions);
  if (intResult != 0) {
    if (intResult == ENOEXEC) subRaise(kErrBadExeFormat, fncErrorText(kErrBadExeFormat));
    subRaiseErrno(intResult);
  }
  g_children[lngPid] = Child();
  return static_cast<uint32_t>(lngPid);
}

struct ProcessHandle {
  pid_t lngPid;
};

ProcHandle fncOpenProcess(uint32_t, uint32_t lngProcessID) {
  pid_t lngPid = static_cast<pid_t>(lngProcessID);
  if (g_children.find(lngPid) == g_children.end()) return nullptr;
  return new ProcessHandle{lngPid};
}

// 64 bits: a 32-bit long in milliseconds overflows after 24.8 days of uptime.
int64_t fncMonotonicMs() {
  struct timespec objNow;
  clock_gettime(CLOCK_MONOTONIC, &objNow);
  return static_cast<int64_t>(objNow.tv_sec) * 1000 + objNow.tv_nsec / 1000000;
}

uint32_t fncWaitForProcess(ProcHandle objProcess, uint32_t lngMilliseconds) {
  ProcessHandle* objHandle = static_cast<ProcessHandle*>(objProcess);
  if (objHandle == nullptr) return kWaitFailed;
  pid_t lngPid = objHandle->lngPid;
  if (fncCollect(lngPid, false)) return kWaitObject0;
#if defined(SYS_pidfd_open)
  int intPidFd = static_cast<int>(syscall(SYS_pidfd_open, lngPid, 0));
  if (intPidFd >= 0) {
    int64_t lngDeadline = fncMonotonicMs() + lngMilliseconds;
    for (;;) {
      int64_t lngLeft = lngDeadline - fncMonotonicMs();
      if (lngLeft < 0) lngLeft = 0;
      struct pollfd objPoll = {intPidFd, POLLIN, 0};
      int intReady = poll(&objPoll, 1, static_cast<int>(std::min<int64_t>(lngLeft, INT_MAX)));
      if (intReady < 0 && errno == EINTR) continue;
      close(intPidFd);
      if (intReady > 0) return fncCollect(lngPid, true) ? kWaitObject0 : kWaitFailed;
      return fncCollect(lngPid, false) ? kWaitObject0 : kWaitTimeout;
    }
  }
#endif
  // Without pidfds: poll the child's state.
  int64_t lngDeadline = fncMonotonicMs() + lngMilliseconds;
  for (;;) {
    if (fncCollect(lngPid, false)) return kWaitObject0;
    if (fncMonotonicMs() >= lngDeadline) return kWaitTimeout;
    subSleep(5);
  }
}

bool fncExitCode(ProcHandle objProcess, uint32_t* pCode) {
  ProcessHandle* objHandle = static_cast<ProcessHandle*>(objProcess);
  if (objHandle == nullptr) return false;
  auto it = g_children.find(objHandle->lngPid);
  if (it == g_children.end()) return false;
  fncCollect(objHandle->lngPid, false);
  if (it->second.blnEnded && !it->second.blnCodeKnown) return false;
  *pCode = it->second.blnEnded ? it->second.lngExitCode : kStillActive;
  return true;
}

void subCloseProcess(ProcHandle objProcess) { delete static_cast<ProcessHandle*>(objProcess); }

// ---- run lock

int g_intRunLock = -1;  // held until the process ends

// The lock is an flock on the application folder itself, so it leaves no
// file behind and binds every run from that folder, whichever copy or link
// of the program it starts. It belongs to this open folder: closed on exec,
// so no started program holds it, and dropped by the system when the
// process ends. A folder this user may not list is locked through the
// executable instead. flock has no time limit: a busy lock is tried again
// after pauses that grow to 50 ms.
bool fncLockAppFolder(uint32_t lngMilliseconds) {
  if (g_intRunLock >= 0) return true;
  int intFile = open(fncAppFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (intFile < 0 && errno == EACCES) intFile = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (intFile < 0) subRaiseErrno(errno);
  const long lngDeadline = fncMonotonicMs() + static_cast<long>(lngMilliseconds);
  long lngPause = 1;
  while (flock(intFile, LOCK_EX | LOCK_NB) != 0) {
    int intErrno = errno;
    long lngLeft = lngDeadline - fncMonotonicMs();
    if (intErrno == EINTR) continue;
    if (intErrno != EWOULDBLOCK || lngLeft <= 0) {
      close(intFile);
      if (intErrno != EWOULDBLOCK) subRaiseErrno(intErrno);
      return false;
    }
    subSleep(static_cast<uint32_t>(lngPause < lngLeft ? lngPause : lngLeft));
    lngPause = lngPause * 2 < 50 ? lngPause * 2 : 50;
  }
  g_intRunLock = intFile;
  return true;
}

Platform fncMakeNative() {
  Platform objTable;
  objTable.chrSeparator = '/';
  objTable.fncCommandLineTail = fncCommandLineTail;
  objTable.fncAppFolder = fncAppFolder;
  objTable.fncLocalTime = fncLocalTime;
  objTable.fncShortDate = fncShortDate;
  objTable.fncLongTime = fncLongTime;
  objTable.fncTimeSeparator = fncTimeSeparator;
  objTable.subSleep = subSleep;
  objTable.fncShortPathName = fncShortPathName;
  objTable.fncSetAttributesNormal = fncSetAttributesNormal;
  objTable.fncFileExists = fncFileExists;
  objTable.subCopyFile = subCopyFile;
  objTable.subDeleteFile = subDeleteFile;
  objTable.fncCreateTextFile = fncCreateTextFile;
  objTable.subWriteLine = subWriteLine;
  objTable.subCloseTextFile = subCloseTextFile;
  objTable.fncRegOpenAgentKey = posix::fncRegOpenAgentKey;
  objTable.fncRegQueryValue = posix::fncRegQueryValue;
  objTable.subRegCloseKey = posix::subRegCloseKey;
  objTable.fncGetProfileString = posix::fncGetProfileString;
  objTable.fncGetProfileSectionNames = posix::fncGetProfileSectionNames;
  objTable.fncWriteProfileString = posix::fncWriteProfileString;
  objTable.fncStartProcess = fncStartProcess;
  objTable.fncOpenProcess = fncOpenProcess;
  objTable.fncWaitForProcess = fncWaitForProcess;
  objTable.fncExitCode = fncExitCode;
  objTable.subCloseProcess = subCloseProcess;
  objTable.subReapProcesses = subReapProcesses;
  objTable.fncListFiles = fncListFiles;
  objTable.fncReadFileBytes = fncReadFileBytes;
  objTable.fncLockAppFolder = fncLockAppFolder;
  objTable.fncHashBegin = hash::fncHashBegin;
  objTable.subHashAdd = hash::subHashAdd;
  objTable.fncHashEnd = hash::fncHashEnd;
  objTable.fncHashFile = hash::fncHashFile;
  return objTable;
}

}  // namespace

namespace posix {

Error fncErrnoError(int intErrno) {
  int32_t lngNumber;
  switch (intErrno) {
    case ENOENT: lngNumber = kErrFileNotFound; break;
    case ENOTDIR: lngNumber = kErrPathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: lngNumber = kErrAccessDenied; break;
    case ENOMEM: lngNumber = kErrOutOfMemory; break;
    case ETXTBSY:
    case EBUSY: lngNumber = kErrSharingViolation; break;
    case EEXIST: lngNumber = kErrFileExists; break;
    case EINVAL: lngNumber = kErrInvalidParameter; break;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: lngNumber = kErrDiskFull; break;
    case ENOEXEC: lngNumber = kErrBadExeFormat; break;
    case ENAMETOOLONG: lngNumber = kErrPathTooLong; break;
    case EISDIR: lngNumber = kErrIsFolder; break;
    case EIO: lngNumber = kErrIoError; break;
    // An argument list beyond the system's limit, as Windows reports a
    // command line beyond its own.
    case E2BIG: lngNumber = kErrPathTooLong; break;
    default: lngNumber = kErrInternal; break;
  }
  return Error{lngNumber, fncErrorText(lngNumber)};
}

void subReplaceFileContent(const std::string& strPath, const std::string& strContent) {
  Destination objDestination;
  subOpenDestination(strPath, objDestination);
  struct stat objOld;
  mode_t lngMode = 0644;
  if (fstatat(objDestination.intFolder, objDestination.strName.c_str(), &objOld, 0) == 0)
    lngMode = objOld.st_mode & kPermissionBits;
  Temporary objTemporary(objDestination);
  if (!fncWriteAll(objTemporary.intFile, strContent.data(), strContent.size()))
    subRaiseErrno(errno);
  // Rewrites in the application folder are not flushed: only what is
  // handed over must survive a loss of power.
  objTemporary.subPlace(lngMode, false);
}

}  // namespace posix

const Platform& NativePlatform() {
  static const Platform objNative = fncMakeNative();
  return objNative;
}

void subSetArguments(int argc, char** argv) {
  g_strArguments.clear();
  for (int i = 1; i < argc; ++i) {
    if (i > 1) g_strArguments += ' ';
    g_strArguments += argv[i];
  }
}

}  // namespace tarvex
