// The run lock of an application folder.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {
int g_intRunLock = -1;  // held until the process ends
}  // namespace


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

}  // namespace posix
}  // namespace tarvex
