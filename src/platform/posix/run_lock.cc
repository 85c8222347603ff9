// The run lock of the POSIX build: one per application folder.
//
// It is a write lock on the whole of a lock file in the application folder,
// an open-file-description record lock (F_OFD_SETLK): NFS and SMB mounts
// pass record locks on to the server, where a lock on a folder opened for
// reading is refused. Only this user may open the file (0600): a record lock
// needs no more than an open file, so anyone who could read it could hold a
// lock and keep every run waiting; and only a user who may write the folder
// can make it or put another in its place. The lock belongs to this open
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

// Opens the lock file, making it when it is missing; never through a link,
// and never anything but a regular file (opening does not wait at a FIFO).
int fncOpenRunLock(const std::string& strPath) {
  int intFile = open(strPath.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (intFile < 0) subRaiseErrno(errno == ELOOP ? EACCES : errno);
  struct stat objStat;
  int intErrno = 0;
  if (fstat(intFile, &objStat) != 0)
    intErrno = errno;
  else if (!S_ISREG(objStat.st_mode))
    intErrno = EACCES;
  else if ((objStat.st_mode & 077) != 0 && objStat.st_uid == geteuid() &&
           fchmod(intFile, 0600) != 0)  // one made by hand is made this user's alone
    intErrno = errno;
  if (intErrno != 0) {
    close(intFile);
    subRaiseErrno(intErrno);
  }
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
  const int64_t lngDeadline = fncMonotonicMs() + lngMilliseconds;
  int64_t lngPause = 1;
  while (fcntl(intFile, F_OFD_SETLK, &objLock) != 0) {
    const int intErrno = errno;
    if (intErrno == EINTR) continue;
    const int64_t lngLeft = lngDeadline - fncMonotonicMs();
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
