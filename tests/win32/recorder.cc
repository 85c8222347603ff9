// A stand-in for a deployed program: appends its whole command line as one
// line (CR LF) to the file named by TARVEX_RECORD (default: recorder.log
// beside the program) and exits with the code in TARVEX_EXIT_CODE (default
// 0). TARVEX_SLEEP_MS, when set, makes it wait that long and then append
// the line "done". TARVEX_CHILD_MS, when set, makes it start a copy of
// itself that waits that long, with every inheritable handle, and exit
// without waiting for it, as service installers leave a service running.
// TARVEX_REPLACE_FROM and TARVEX_REPLACE_TO, when set, make it put a copy of
// the first file in the place of the second, as someone who rewrites a
// package during a run would.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string fncEnvironment(const char* pName) {
  char chrBuffer[32768];
  DWORD lngLength = GetEnvironmentVariableA(pName, chrBuffer, sizeof chrBuffer);
  if (lngLength == 0 || lngLength >= sizeof chrBuffer) return "";
  return std::string(chrBuffer, lngLength);
}

std::string fncDefaultRecord() {
  char chrBuffer[32768];
  DWORD lngLength = GetModuleFileNameA(nullptr, chrBuffer, sizeof chrBuffer);
  std::string strPath(chrBuffer, lngLength < sizeof chrBuffer ? lngLength : 0);
  size_t lngSlash = strPath.find_last_of('\\');
  return (lngSlash == std::string::npos ? std::string(".") : strPath.substr(0, lngSlash)) +
         "\\recorder.log";
}

// Appends in one write, so programs started side by side do not mix lines.
void subRecord(const std::string& strRecord, const std::string& strText) {
  HANDLE objFile =
      CreateFileA(strRecord.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) return;
  std::string strLine = strText + "\r\n";
  DWORD lngWritten = 0;
  WriteFile(objFile, strLine.data(), static_cast<DWORD>(strLine.size()), &lngWritten, nullptr);
  CloseHandle(objFile);
}

void subLeaveChild(const std::string& strMilliseconds) {
  char chrSelf[MAX_PATH];
  DWORD lngLength = GetModuleFileNameA(nullptr, chrSelf, sizeof chrSelf);
  if (lngLength == 0 || lngLength >= sizeof chrSelf) return;
  std::string strCommand = "\"" + std::string(chrSelf, lngLength) + "\" child";
  SetEnvironmentVariableA("TARVEX_CHILD_MS", nullptr);
  SetEnvironmentVariableA("TARVEX_SLEEP_MS", strMilliseconds.c_str());
  STARTUPINFOA objStartup = {};
  objStartup.cb = sizeof objStartup;
  PROCESS_INFORMATION objProcess = {};
  if (CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &objStartup, &objProcess)) {
    CloseHandle(objProcess.hThread);
    CloseHandle(objProcess.hProcess);
  }
}

}  // namespace

int main() {
  std::string strRecord = fncEnvironment("TARVEX_RECORD");
  if (strRecord.empty()) strRecord = fncDefaultRecord();
  subRecord(strRecord, GetCommandLineA());
  std::string strFrom = fncEnvironment("TARVEX_REPLACE_FROM");
  std::string strTo = fncEnvironment("TARVEX_REPLACE_TO");
  if (!strFrom.empty() && !strTo.empty()) CopyFileA(strFrom.c_str(), strTo.c_str(), FALSE);
  std::string strChild = fncEnvironment("TARVEX_CHILD_MS");
  std::string strSleep = fncEnvironment("TARVEX_SLEEP_MS");
  if (!strChild.empty()) subLeaveChild(strChild);
  if (!strSleep.empty()) {
    Sleep(static_cast<DWORD>(std::strtoul(strSleep.c_str(), nullptr, 10)));
    subRecord(strRecord, "done");
  }
  std::string strExit = fncEnvironment("TARVEX_EXIT_CODE");
  return strExit.empty() ? 0 : static_cast<int>(std::strtol(strExit.c_str(), nullptr, 0));
}
