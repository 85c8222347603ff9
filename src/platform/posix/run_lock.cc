// The run lock of the POSIX build: one per application folder.
//
// It is a write lock on the whole of a lock file in the application folder,
// an open-file-description record lock (F_OFD_SETLK): NFS and SMB mounts
// pass record locks on to the server, where a lock on a folder opened for
// reading is refused. A record lock needs no more than an open file, so the
// file stays closed to anyone who may not write the folder, who could
// otherwise hold a lock and keep every run waiting: a run that makes it
// gives it 0660 and the folder's group where the folder is group-writable
// (accounts that share the folder take turns), else 0600; never anything
// for others. A lock file that is there keeps its mode, whoever made it. Only
// a user who may write the folder can make it or put another in its place.
// The lock belongs to this open
// file: closed on exec, so no started program holds it, and dropped by the
// system when the process ends, however it ends. Copies and links of the
// program in other folders lock their own folder's file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

std::string fncRunLockPath(const std::string& strFolder) {
  // The root's folder is "": its lock file is "/.Tarvex.lock".
  return strFolder + "/" + kRunLockName;
}

namespace {

int g_intRunLock = -1;  // held until the process ends

// The mode and group a new lock file takes in its folder.
void subShareLikeTheFolder(int intFile, const std::string& strPath) {
  const size_t lngSlash = strPath.rfind('/');
  const std::string strFolder = lngSlash == 0 ? "/" : strPath.substr(0, lngSlash);
  struct stat objFolder;
  mode_t lngMode = 0600;
  if (stat(strFolder.c_str(), &objFolder) == 0 && (objFolder.st_mode & S_IWGRP) != 0) {
    // The group that may write the folder may take turns at the lock; a
    // group this user is not in stays the file's own.
    static_cast<void>(fchown(intFile, static_cast<uid_t>(-1), objFolder.st_gid) == 0);
    lngMode = 0660;
  }
  // Set, not asked of the umask, which would take the group's bits away; a
  // refusal leaves the file as private as it was made.
  static_cast<void>(fchmod(intFile, lngMode) == 0);
}

// Opens the lock file, making it when it is missing; never through a link,
// and never anything but a regular file (opening does not wait at a FIFO).
int fncOpenRunLock(const std::string& strPath) {
  const int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int intFile = -1;
  bool blnMade = false;
  // Made here, or opened as it is; one removed in between is made again.
  for (int intTry = 0; intFile < 0; ++intTry) {
    intFile = open(strPath.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (intFile >= 0) {
      blnMade = true;
      break;
    }
    if (errno == EEXIST) intFile = open(strPath.c_str(), kFlags);
    if (intFile < 0 && (errno != ENOENT || intTry >= 10))
      subRaiseErrno(errno == ELOOP ? EACCES : errno);
  }
  struct stat objStat;
  int intErrno = 0;
  if (fstat(intFile, &objStat) != 0)
    intErrno = errno;
  else if (!S_ISREG(objStat.st_mode))
    intErrno = EACCES;
  if (intErrno != 0) {
    close(intFile);
    subRaiseErrno(intErrno);
  }
  if (blnMade) subShareLikeTheFolder(intFile, strPath);
  return intFile;
}

}  // namespace

// A busy lock is tried again after pauses that grow to 50 ms, until the
// time given has passed.
bool fncLockAppFolder(uint32_t lngMilliseconds) {
  if (g_intRunLock >= 0) return true;
  const int intFile = fncOpenRunLock(fncRunLockPath(NativePlatform().fncAppFolder()));
  struct flock objLock = {};
  objLock.l_type = F_WRLCK;
  objLock.l_whence = SEEK_SET;  // the whole file; l_pid stays 0, as OFD locks need
  const int64_t lngDeadline = fncTickMs() + lngMilliseconds;
  int64_t lngPause = 1;
  while (fcntl(intFile, F_OFD_SETLK, &objLock) != 0) {
    const int intErrno = errno;
    if (intErrno == EINTR) continue;
    const int64_t lngLeft = lngDeadline - fncTickMs();
    const bool blnBusy = intErrno == EAGAIN || intErrno == EACCES;
    if (!blnBusy || lngLeft <= 0) {
      close(intFile);
      if (!blnBusy) subRaiseErrno(intErrno);
      return false;
    }
    subSleep(lngPause < lngLeft ? lngPause : lngLeft);
    lngPause = lngPause * 2 < 50 ? lngPause * 2 : 50;
  }
  g_intRunLock = intFile;
  return true;
}

}  // namespace posix
}  // namespace tarvex
