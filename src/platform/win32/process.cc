// The process's own facts (its command line and folder), and the processes
// it starts: hidden, without a console, waited for through their handles.
#include <cstdio>
#include <map>

#include "platform/win32/internal.h"

namespace tarvex {

// Windows keeps the command line and the locale for the program to ask.
void subBeginProcess(int, char**) {}
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

// The name of the run lock of an application folder. Every spelling of the
// folder (case, short forms, "." and "..", a trailing backslash) gives the
// same name. A mutex name may hold no backslash after its namespace and at
// most MAX_PATH characters, so the folder's path is hashed. "Global\" lets
// a run started by the agent's service and one started from a user's

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

uint32_t fncStartProcess(const std::string& strCommandLine) {
  // CreateProcessA may write into the command line it is given.
  std::vector<char> objCommand(strCommandLine.begin(), strCommandLine.end());
  objCommand.push_back('\0');
  STARTUPINFOA objStartup = {};
  objStartup.cb = sizeof objStartup;
  objStartup.dwFlags = STARTF_USESHOWWINDOW;
  objStartup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION objProcess = {};
  if (!CreateProcessA(nullptr, objCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &objStartup, &objProcess))
    subRaiseCode(GetLastError());
  CloseHandle(objProcess.hThread);
  g_started[objProcess.dwProcessId] = objProcess.hProcess;
  return objProcess.dwProcessId;
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
}


}  // namespace win32
}  // namespace tarvex
