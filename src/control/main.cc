#include "control/control.h"
#include "status/status.h"

namespace tarvex {

std::string fncCleanCommandLine(const std::string& strCommandLine) {
  std::string strText;
  for (char chr : strCommandLine)
    if (chr != '"') strText += chr;
  size_t lngFirst = strText.find_first_not_of(' ');
  if (lngFirst == std::string::npos) return "";
  size_t lngLast = strText.find_last_not_of(' ');
  return strText.substr(lngFirst, lngLast - lngFirst + 1);
}

std::string fncGeneralDateTime(const LocalTime& objTime) {
  std::string strText = Os().fncShortDate(objTime);
  if (objTime.intHour != 0 || objTime.intMinute != 0 || objTime.intSecond != 0)
    strText += " " + Os().fncLongTime(objTime);
  return strText;
}

namespace {

// A PID with a line break could forge keys in the status file; it is
// rejected, and its rejection line shows each break as one space.
bool fncHasLineBreak(const std::string& strText) {
  return strText.find_first_of("\r\n") != std::string::npos;
}

std::string fncBreaksAsSpaces(const std::string& strText) {
  std::string strOut;
  for (size_t i = 0; i < strText.size(); ++i) {
    char chr = strText[i];
    if (chr == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n') continue;
    strOut += (chr == '\r' || chr == '\n') ? ' ' : chr;
  }
  return strOut;
}

void subRelease() {
  TextFile objLog = g_run.objLog;
  g_run.objLog = nullptr;
  if (objLog != nullptr) {
    try {
      Os().subCloseTextFile(objLog);
    } catch (...) {
    }
  }
}

}  // namespace

int Main() {
  int intExit = kExitSuccess;
  try {
    g_run = RunState();
    g_run.lngStartTime = Os().fncUnixTime();
    subForgetSweptFolders();
    g_run.blnFailed = false;
    // One run per application folder: a later run waits here, before it
    // has touched the log, the status file or any target.
    if (!Os().fncLockAppFolder(kLockWaitMilliseconds)) return kExitLockTimeout;
    g_run.objLog = Os().fncCreateTextFile(fncAppFolder() + fncSep() + "Duplix.log");
    g_run.objStartLocal = Os().fncLocalTime();
    subWriteLog("MSG : Application Started " + fncGeneralDateTime(g_run.objStartLocal));

    g_run.strPID = fncCleanCommandLine(Os().fncCommandLineTail());
    if (g_run.strPID.empty() || fncHasLineBreak(g_run.strPID)) {
      subWriteLog("ERR : Invalid CommandLine Parameter " + fncBreaksAsSpaces(g_run.strPID));
      intExit = kExitInvalidParameter;
    } else {
      subWriteLog("MSG : CommandLine Parameter Received " + g_run.strPID);
      intExit = fncRunSequence();
    }

    // Every run that opened its log leaves its report.
    subWriteRunReport(intExit);
    subWriteLog("MSG : Application Stopped " + fncGeneralDateTime(Os().fncLocalTime()));
    subRelease();
    Os().subReapProcesses();
    return intExit;
  } catch (...) {
    Error objError = fncTrappedError();
    subWriteLog("ERR : Sub - Main" + fncErrorSuffix(objError));
    if (g_run.objLog != nullptr) subWriteRunReport(kExitTrapped);
    subRelease();
    Os().subReapProcesses();
    return kExitTrapped;
  }
}

}  // namespace tarvex
