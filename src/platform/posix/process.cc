// The process's own facts (its arguments and folder), and the processes it
// starts: posix_spawnp without a shell, waited for through a pidfd.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <map>

#include "platform/posix/internal.h"

extern char** environ;

namespace tarvex {

namespace {
std::string g_strArguments;
}  // namespace

void subBeginProcess(int argc, char** argv) {
  // Dates and times follow the host's locale, as on Windows.
  std::setlocale(LC_TIME, "");
  // An ignored SIGCHLD survives exec and makes the system reap the children
  // itself: their exit codes would be lost to waitpid.
  std::signal(SIGCHLD, SIG_DFL);
  g_strArguments.clear();
  for (int i = 1; i < argc; ++i) {
    if (i > 1) g_strArguments += ' ';
    g_strArguments += argv[i];
  }
}

namespace posix {

std::string fncCommandLineTail() { return g_strArguments; }

namespace {

// Without /proc (a bare chroot), the path the program was started by, which
// the kernel hands over (AT_EXECFN), resolved against the folder it was
// started from; realpath needs no /proc.
std::string fncExecutablePath() {
  std::string strBuffer(4096, '\0');
  for (;;) {
    ssize_t lngLength = readlink("/proc/self/exe", &strBuffer[0], strBuffer.size());
    if (lngLength < 0) break;
    if (static_cast<size_t>(lngLength) < strBuffer.size()) {
      strBuffer.resize(static_cast<size_t>(lngLength));
      return strBuffer;
    }
    strBuffer.resize(strBuffer.size() * 2);
  }
  const char* strStarted = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (strStarted == nullptr) return "";
  std::unique_ptr<char, decltype(&free)> strResolved(realpath(strStarted, nullptr), &free);
  return strResolved ? std::string(strResolved.get()) : std::string();
}

}  // namespace

std::string fncAppFolder() {
  std::string strBuffer = fncExecutablePath();
  if (strBuffer.empty()) return ".";
  size_t lngSlash = strBuffer.rfind('/');
  if (lngSlash == std::string::npos) return ".";
  return strBuffer.substr(0, lngSlash);  // "" at the root: "/Duplix.log"
}

uint32_t fncCurrentProcessID() { return static_cast<uint32_t>(getpid()); }

// Only a process the system no longer knows has ended; one of another
// user (EPERM) still runs.
bool fncProcessEnded(uint32_t lngProcessID) {
  const pid_t lngPid = static_cast<pid_t>(lngProcessID);
  return lngPid > 0 && kill(lngPid, 0) != 0 && errno == ESRCH;
}

namespace {

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


}  // namespace

void subReapProcesses() {
  for (auto& objEntry : g_children)
    if (!objEntry.second.blnEnded) fncCollect(objEntry.first, false);
}

// The tools stand in for the system's: found on PATH, as the README says.
std::string fncSystemProgram(const std::string& strName) { return strName; }

namespace {

// posix_spawnp without a shell; blnGroup puts the program in a process
// group of its own, which subEndGroup ends as a whole.
uint32_t fncSpawn(const std::string& strCommandLine, bool blnGroup) {
  subReapProcesses();
  std::vector<std::string> objArgs = posix::fncSplitCommandLine(strCommandLine);
  if (objArgs.empty() || objArgs[0].empty()) subRaise(kErrFileNotFound, fncErrorText(kErrFileNotFound));
  std::vector<char*> objArgv;
  for (std::string& strArg : objArgs) objArgv.push_back(&strArg[0]);
  objArgv.push_back(nullptr);

  posix_spawn_file_actions_t objActions;
  posix_spawn_file_actions_init(&objActions);
  posix_spawn_file_actions_addopen(&objActions, 0, "/dev/null", O_RDONLY, 0);
  // Nothing of Tarvex's own standard streams: a program that leaves a
  // process running would otherwise keep open the pipe of whoever reads
  // Tarvex's output, long after the run has ended.
  posix_spawn_file_actions_addopen(&objActions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&objActions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t objAttributes;
  posix_spawnattr_init(&objAttributes);
  if (blnGroup) {
    posix_spawnattr_setflags(&objAttributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&objAttributes, 0);
  }
  pid_t lngPid = 0;
  int intResult =
      posix_spawnp(&lngPid, objArgv[0], &objActions, &objAttributes, objArgv.data(), environ);
  posix_spawnattr_destroy(&objAttributes);
  posix_spawn_file_actions_destroy(&objActions);
  if (intResult != 0) {
    if (intResult == ENOEXEC) subRaise(kErrBadExeFormat, fncErrorText(kErrBadExeFormat));
    subRaiseErrno(intResult);
  }
  g_children[lngPid] = Child();
  return static_cast<uint32_t>(lngPid);
}

}  // namespace

uint32_t fncStartProcess(const std::string& strCommandLine) {
  return fncSpawn(strCommandLine, false);
}

uint32_t fncStartGroup(const std::string& strCommandLine) {
  return fncSpawn(strCommandLine, true);
}

// The group bears the program's ID. Its members that have not ended by
// the time the signal reaches them end with it; a bounded wait then lets
// them go (a zombie of another parent stays listed until it is reaped).
void subEndGroup(uint32_t lngProcessID) {
  const pid_t lngGroup = static_cast<pid_t>(lngProcessID);
  if (lngGroup <= 1) return;
  kill(-lngGroup, SIGKILL);
  fncCollect(lngGroup, true);
  const int64_t lngDeadline = fncTickMs() + 2000;
  while (kill(-lngGroup, 0) == 0 && fncTickMs() < lngDeadline) subSleep(5);
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
uint32_t fncWaitForProcess(ProcHandle objProcess, uint32_t lngMilliseconds) {
  ProcessHandle* objHandle = static_cast<ProcessHandle*>(objProcess);
  if (objHandle == nullptr) return kWaitFailed;
  pid_t lngPid = objHandle->lngPid;
  if (fncCollect(lngPid, false)) return kWaitObject0;
#if defined(SYS_pidfd_open)
  int intPidFd = static_cast<int>(syscall(SYS_pidfd_open, lngPid, 0));
  if (intPidFd >= 0) {
    int64_t lngDeadline = fncTickMs() + lngMilliseconds;
    for (;;) {
      int64_t lngLeft = lngDeadline - fncTickMs();
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
  int64_t lngDeadline = fncTickMs() + lngMilliseconds;
  for (;;) {
    if (fncCollect(lngPid, false)) return kWaitObject0;
    if (fncTickMs() >= lngDeadline) return kWaitTimeout;
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

}  // namespace posix
}  // namespace tarvex
