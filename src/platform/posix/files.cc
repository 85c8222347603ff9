// Files: the copy engine's primitives and the other file operations, each
// one system call or a few. A path of PATH_MAX or more whose folder is
// within it is reached through its folder (the temporary file beside a
// target at the limit is longer than the target).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {

// A path as a folder descriptor and a name in it; the folder is closed on
// every way out.
struct AtPath {
  int intFolder = AT_FDCWD;
  std::string strName;
  explicit AtPath(const std::string& strPath) {
    if (strPath.size() < PATH_MAX) {
      strName = strPath;
      return;
    }
    const size_t lngSlash = strPath.rfind('/');
    if (lngSlash == std::string::npos || lngSlash == 0) subRaiseErrno(ENAMETOOLONG);
    intFolder = open(strPath.substr(0, lngSlash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (intFolder < 0) subRaiseErrno(errno);
    strName = strPath.substr(lngSlash + 1);
  }
  AtPath(const AtPath&) = delete;
  AtPath& operator=(const AtPath&) = delete;
  ~AtPath() {
    if (intFolder >= 0) close(intFolder);
  }
};

int fncFd(FileHandle objFile) { return static_cast<int>(objFile); }

void subFill(const struct stat& objStat, FileInfo* pInfo) {
  pInfo->blnFolder = S_ISDIR(objStat.st_mode);
  pInfo->blnRegular = S_ISREG(objStat.st_mode);
  pInfo->blnReadOnly = (objStat.st_mode & S_IWUSR) == 0;
  pInfo->blnIdentity = true;
  pInfo->lngVolume = static_cast<uint64_t>(objStat.st_dev);
  pInfo->lngIndex = static_cast<uint64_t>(objStat.st_ino);
  pInfo->lngSize = static_cast<uint64_t>(objStat.st_size);
  pInfo->lngMode = static_cast<uint32_t>(objStat.st_mode & 07777);
  pInfo->lngModified = static_cast<int64_t>(objStat.st_mtim.tv_sec) * 1000000000 +
                       objStat.st_mtim.tv_nsec;
}

}  // namespace

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

uint32_t fncFileTraits(const std::string& strPath) {
  struct stat objStat;
  if (stat(strPath.c_str(), &objStat) != 0) return 0;
  uint32_t lngTraits = 0;
  if ((objStat.st_mode & S_IWUSR) == 0) lngTraits |= kTraitReadOnly;
  if ((objStat.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0) lngTraits |= kTraitNotRunnable;
  return lngTraits;
}

std::string fncStoredName(const std::string& strPath) {
  size_t lngSlash = strPath.rfind('/');
  return lngSlash == std::string::npos ? strPath : strPath.substr(lngSlash + 1);
}

void subDeleteFile(const std::string& strPath) {
  AtPath objAt(strPath);
  struct stat objStat;
  if (fstatat(objAt.intFolder, objAt.strName.c_str(), &objStat, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(objStat.st_mode))
    subRaiseErrno(EISDIR);
  if (unlinkat(objAt.intFolder, objAt.strName.c_str(), 0) != 0) subRaiseErrno(errno);
}

// ---- the copy engine's primitives

int32_t fncQueryFile(const std::string& strPath, FileInfo* pInfo) {
  try {
    AtPath objAt(strPath);
    struct stat objStat;
    if (fstatat(objAt.intFolder, objAt.strName.c_str(), &objStat, 0) == 0) {
      subFill(objStat, pInfo);
      return 0;
    }
    const int intErrno = errno;
    if (intErrno != ENOENT) return fncErrnoError(intErrno).lngNumber;
    // Missing: the file, or a folder on its way, as Windows tells them apart.
    const size_t lngSlash = strPath.rfind('/');
    if (lngSlash == std::string::npos || lngSlash == 0) return kErrFileNotFound;
    struct stat objFolder;
    if (stat(strPath.substr(0, lngSlash).c_str(), &objFolder) == 0 && S_ISDIR(objFolder.st_mode))
      return kErrFileNotFound;
    return kErrPathNotFound;
  } catch (const Error& objError) {
    return objError.lngNumber;
  }
}

namespace {

FileHandle fncOpen(const std::string& strPath, FileInfo* pInfo, int intFlags) {
  AtPath objAt(strPath);
  int intFile = openat(objAt.intFolder, objAt.strName.c_str(),
                       O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | intFlags);
  if (intFile < 0) {
    // A socket cannot be opened at all: no file to copy.
    if (errno == ENXIO) subRaise(kErrInvalidParameter, fncErrorText(kErrInvalidParameter));
    // O_NOFOLLOW refuses a link at the name itself with ELOOP.
    if (errno == ELOOP && (intFlags & O_NOFOLLOW) != 0)
      subRaise(kErrStoppedAtLink, fncErrorText(kErrStoppedAtLink));
    subRaiseErrno(errno);
  }
  struct stat objStat;
  if (fstat(intFile, &objStat) != 0) {
    int intErrno = errno;
    close(intFile);
    subRaiseErrno(intErrno);
  }
  subFill(objStat, pInfo);
  return intFile;
}

}  // namespace

FileHandle fncOpenRead(const std::string& strPath, FileInfo* pInfo) {
  return fncOpen(strPath, pInfo, 0);
}

FileHandle fncOpenNoFollow(const std::string& strPath, FileInfo* pInfo) {
  return fncOpen(strPath, pInfo, O_NOFOLLOW);
}

size_t fncReadAt(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength) {
  size_t lngDone = 0;
  while (lngDone < lngLength) {
    ssize_t lngRead = pread(fncFd(objFile), pData + lngDone, lngLength - lngDone,
                            static_cast<off_t>(lngOffset + lngDone));
    if (lngRead < 0 && errno == EINTR) continue;
    if (lngRead < 0) subRaiseErrno(errno);
    if (lngRead == 0) break;
    lngDone += static_cast<size_t>(lngRead);
  }
  return lngDone;
}

FileHandle fncCreateNew(const std::string& strPath, bool blnShared) {
  AtPath objAt(strPath);
  int intFile = openat(objAt.intFolder, objAt.strName.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       blnShared ? 0666 : 0600);
  if (intFile < 0) subRaiseErrno(errno);
  return intFile;
}

void subWrite(FileHandle objFile, const char* pData, size_t lngLength) {
  if (!fncWriteAll(fncFd(objFile), pData, lngLength)) subRaiseErrno(errno);
}


// A flush that the file system cannot do (EINVAL) is no failure: there is
// nothing more to be had from it.
void subFlush(FileHandle objFile) {
  if (fsync(fncFd(objFile)) != 0 && errno != EINVAL) subRaiseErrno(errno);
}

void subSetModeAndTime(FileHandle objFile, uint32_t lngMode, int64_t lngModified) {
  if (fchmod(fncFd(objFile), static_cast<mode_t>(lngMode)) != 0) subRaiseErrno(errno);
  if (lngModified == 0) return;
  struct timespec objTimes[2];
  objTimes[0].tv_sec = 0;
  objTimes[0].tv_nsec = UTIME_OMIT;
  objTimes[1].tv_sec = static_cast<time_t>(lngModified / 1000000000);
  objTimes[1].tv_nsec = static_cast<long>(lngModified % 1000000000);
  if (futimens(fncFd(objFile), objTimes) != 0) subRaiseErrno(errno);
}

// Owner and group, as text: "UID:GID".
std::string fncReadSecurity(const std::string& strPath) {
  AtPath objAt(strPath);
  struct stat objStat;
  if (fstatat(objAt.intFolder, objAt.strName.c_str(), &objStat, 0) != 0) subRaiseErrno(errno);
  return std::to_string(static_cast<unsigned long>(objStat.st_uid)) + ":" +
         std::to_string(static_cast<unsigned long>(objStat.st_gid));
}

void subApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner) {
  const size_t lngColon = strSecurity.find(':');
  if (lngColon == std::string::npos) subRaiseErrno(EINVAL);
  const uid_t lngOwner = static_cast<uid_t>(std::stoul(strSecurity.substr(0, lngColon)));
  const gid_t lngGroup = static_cast<gid_t>(std::stoul(strSecurity.substr(lngColon + 1)));
  if (fchown(fncFd(objFile), blnOwner ? lngOwner : static_cast<uid_t>(-1), lngGroup) != 0)
    subRaiseErrno(errno);
}

bool fncClose(FileHandle objFile) { return close(fncFd(objFile)) == 0; }

void subReplace(const std::string& strFrom, const std::string& strTo) {
  AtPath objFrom(strFrom), objTo(strTo);
  if (renameat(objFrom.intFolder, objFrom.strName.c_str(), objTo.intFolder,
               objTo.strName.c_str()) != 0)
    subRaiseErrno(errno);
}

// A folder that this user may write but not read cannot be opened to be
// flushed by itself: the file systems are.
void subFlushFolder(const std::string& strFolder) {
  int intFolder = open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (intFolder < 0) {
    if (errno != EACCES) subRaiseErrno(errno);
    sync();
    return;
  }
  int intResult = fsync(intFolder);
  int intErrno = errno;
  close(intFolder);
  if (intResult != 0 && intErrno != EINVAL) subRaiseErrno(intErrno);
}

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

}  // namespace posix
}  // namespace tarvex
