// The process's own facts (its command line and folder), and the processes
// it starts: hidden, without a console, waited for through their handles.
#include <cstdio>
#include <map>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {


// Open to the tests, which cannot choose their own process's command line.
std::string fncCommandLineTail(const char* pText) {
  if (pText == nullptr) return "";
  // The program name ends at its closing quote when quoted, otherwise at
  // the first blank; it knows no escapes. Of what follows only spaces are
  // dropped, as the parameter's own rule trims spaces, not tabs, and the
  // POSIX build keeps a tab that starts its first argument.
  if (*pText == '"') {
    ++pText;
    while (*pText != '\0' && *pText != '"') ++pText;
    if (*pText == '"') ++pText;
  } else {
    while (*pText != '\0' && *pText != ' ' && *pText != '\t') ++pText;
  }
  while (*pText == ' ') ++pText;
  return pText;
}

std::string fncCommandLineTail() { return fncCommandLineTail(GetCommandLineA()); }

namespace {
std::string fncModulePath() {
  std::vector<char> objBuffer(MAX_PATH + 1);
  for (;;) {
    DWORD lngLength = GetModuleFileNameA(nullptr, objBuffer.data(),
                                         static_cast<DWORD>(objBuffer.size()));
    if (lngLength == 0) return "";
    // A result that fills the buffer may have been cut.
    if (lngLength < objBuffer.size() - 1) return std::string(objBuffer.data(), lngLength);
    if (objBuffer.size() >= 65536) return std::string(objBuffer.data(), lngLength);
    objBuffer.resize(objBuffer.size() * 2);
  }
}

}  // namespace

std::string fncAppFolder() {
  std::string strPath = fncModulePath();
  size_t lngSlash = strPath.find_last_of('\\');
  // At a drive root this leaves "C:", which callers extend with "\".
  if (lngSlash == std::string::npos) return "";
  return strPath.substr(0, lngSlash);
}

uint32_t fncCurrentProcessID() { return GetCurrentProcessId(); }

// Only a process that can be seen to have ended has: one that cannot be
// opened for another reason (another user's) still runs.
bool fncProcessEnded(uint32_t lngProcessID) {
  HANDLE objProcess = OpenProcess(SYNCHRONIZE, FALSE, lngProcessID);
  if (objProcess == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool blnEnded = WaitForSingleObject(objProcess, 0) == WAIT_OBJECT_0;
  CloseHandle(objProcess);
  return blnEnded;
}

namespace {
// ---- Processes

// Each started process's handle is kept until the program opens it to wait
// (or until the run ends): a process that exits at once stays known, with
// its exit code, and its ID cannot pass to another process meanwhile.
std::map<uint32_t, HANDLE> g_started;
}  // namespace

// By its full path: CreateProcess looks in the program's own folder first,
// where a planted Regsvr32.exe would be run instead of the system's.
std::string fncSystemProgram(const std::string& strName) {
  char chrFolder[MAX_PATH];
  const UINT lngLength = GetSystemDirectoryA(chrFolder, MAX_PATH);
  if (lngLength == 0 || lngLength >= MAX_PATH) return strName;
  return std::string(chrFolder, lngLength) + "\\" + strName + ".exe";
}

namespace {

// The job of each program started in a group; held until the run ends.
std::map<uint32_t, HANDLE> g_jobs;

// Hidden, without a console; suspended where it must be put in its job
// before it runs.
PROCESS_INFORMATION fncCreate(const std::string& strCommandLine, DWORD lngFlags) {
  // CreateProcessA may write into the command line it is given.
  std::vector<char> objCommand(strCommandLine.begin(), strCommandLine.end());
  objCommand.push_back('\0');
  STARTUPINFOA objStartup = {};
  objStartup.cb = sizeof objStartup;
  objStartup.dwFlags = STARTF_USESHOWWINDOW;
  objStartup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION objProcess = {};
  if (!CreateProcessA(nullptr, objCommand.data(), nullptr, nullptr, FALSE, lngFlags, nullptr,
                      nullptr, &objStartup, &objProcess))
    subRaiseCode(GetLastError());
  g_started[objProcess.dwProcessId] = objProcess.hProcess;
  return objProcess;
}

}  // namespace

uint32_t fncStartProcess(const std::string& strCommandLine) {
  PROCESS_INFORMATION objProcess = fncCreate(strCommandLine, 0);
  CloseHandle(objProcess.hThread);
  return objProcess.dwProcessId;
}

// Whatever the program starts is in its job too. A run that is itself in a
// job that allows no other (Windows 7) starts the program without one: it
// alone can then be ended.
uint32_t fncStartGroup(const std::string& strCommandLine) {
  PROCESS_INFORMATION objProcess = fncCreate(strCommandLine, CREATE_SUSPENDED);
  HANDLE objJob = CreateJobObjectA(nullptr, nullptr);
  if (objJob != nullptr && AssignProcessToJobObject(objJob, objProcess.hProcess)) {
    g_jobs[objProcess.dwProcessId] = objJob;
  } else if (objJob != nullptr) {
    CloseHandle(objJob);
  }
  ResumeThread(objProcess.hThread);
  CloseHandle(objProcess.hThread);
  return objProcess.dwProcessId;
}

void subEndGroup(uint32_t lngProcessID) {
  auto itJob = g_jobs.find(lngProcessID);
  if (itJob != g_jobs.end()) {
    TerminateJobObject(itJob->second, 1);
    // Until the job holds no process, within reason.
    for (int intTry = 0; intTry < 400; ++intTry) {
      JOBOBJECT_BASIC_ACCOUNTING_INFORMATION objCount = {};
      if (!QueryInformationJobObject(itJob->second, JobObjectBasicAccountingInformation,
                                     &objCount, sizeof objCount, nullptr) ||
          objCount.ActiveProcesses == 0)
        break;
      Sleep(5);
    }
    return;
  }
  HANDLE objProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, lngProcessID);
  if (objProcess == nullptr) return;
  TerminateProcess(objProcess, 1);
  WaitForSingleObject(objProcess, 2000);
  CloseHandle(objProcess);
}

ProcHandle fncOpenProcess(uint32_t lngAccess, uint32_t lngProcessID) {
  HANDLE objHandle = OpenProcess(lngAccess, FALSE, lngProcessID);
  auto it = g_started.find(lngProcessID);
  if (it != g_started.end()) {
    CloseHandle(it->second);
    g_started.erase(it);
  }
  return objHandle;
}

uint32_t fncWaitForProcess(ProcHandle objProcess, uint32_t lngMilliseconds) {
  return WaitForSingleObject(static_cast<HANDLE>(objProcess), lngMilliseconds);
}

bool fncExitCode(ProcHandle objProcess, uint32_t* pCode) {
  DWORD lngCode = 0;
  if (!GetExitCodeProcess(static_cast<HANDLE>(objProcess), &lngCode)) return false;
  *pCode = lngCode;
  return true;
}

void subCloseProcess(ProcHandle objProcess) {
  if (objProcess != nullptr) CloseHandle(static_cast<HANDLE>(objProcess));
}

// Windows keeps no zombies; only the kept handles are let go.
void subReapProcesses() {
  for (auto& objEntry : g_started) CloseHandle(objEntry.second);
  g_started.clear();
  // A job closed lets its processes run on: only a time limit ends them.
  for (auto& objEntry : g_jobs) CloseHandle(objEntry.second);
  g_jobs.clear();
}


}  // namespace win32
}  // namespace tarvex
