#include <cstdio>

#include "control/run_state.h"
#include "deploy/deploy.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

namespace {

const char kSection[] = "STATUS_INFO";

bool fncWriteStatus(const std::string& strKey, const std::string& strValue) {
  return fncWriteINI(kSection, strKey, strValue, g_run.strPIDFilePath);
}

// A status file left by an earlier run that asked for a restart.
bool fncLeftRestart() {
  try {
    const profile::Profile objLeft = profile::fncParseBytes(
        fncReadWholeFile(g_run.strPIDFilePath, 1u << 20, true));
    char chrValue[8];
    return profile::fncGetString(&objLeft, kSection, "RebootRequired", chrValue,
                                 sizeof chrValue) != 0;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

std::string fncStatusDateTime(const LocalTime& objTime, const std::string& strTimeSeparator) {
  int intHour12 = objTime.intHour % 12 == 0 ? 12 : objTime.intHour % 12;
  char chrDate[32];
  char chrHour[8], chrMinute[8], chrSecond[8];
  std::snprintf(chrDate, sizeof chrDate, "%02d/%02d/%04d", objTime.intMonth, objTime.intDay,
                objTime.intYear);
  std::snprintf(chrHour, sizeof chrHour, "%02d", intHour12);
  std::snprintf(chrMinute, sizeof chrMinute, "%02d", objTime.intMinute);
  std::snprintf(chrSecond, sizeof chrSecond, "%02d", objTime.intSecond);
  return std::string(chrDate) + " " + chrHour + strTimeSeparator + chrMinute + strTimeSeparator +
         chrSecond + (objTime.intHour < 12 ? " AM" : " PM");
}

bool fncCreatePIDFile(const std::string& strPID) {
  try {
    std::string strSeparator = Os().fncTimeSeparator();
    std::string strLastRun = fncStatusDateTime(Os().fncLocalTime(), strSeparator);
    std::string strNextRun = fncStatusDateTime(Os().fncLocalTime(), strSeparator);
    // A file left by an earlier run may be read-only: it is made writable,
    // as the delete routine does, so that this run's keys replace its own.
    Os().fncSetAttributesNormal(g_run.strPIDFilePath);
    fncWriteStatus("REGID", g_run.strRegID);
    fncWriteStatus("Desc", "");
    g_run.blnStatusWritten = fncWriteStatus("PID", strPID);
    fncWriteStatus("SysID", "");
    fncWriteStatus("LastRunDateTime", strLastRun);
    fncWriteStatus("NextRunDateTime", strNextRun);
    // A file left by an earlier run must not go on saying SUCCESS for this
    // one should it end before its final status.
    fncWriteStatus("LastRunStatusCode", "");
    // Nor go on asking for a restart that this run did not ask for.
    if (fncLeftRestart()) fncWriteStatus("RebootRequired", "");
    return true;
  } catch (...) {
    subWriteLog("ERR : Function - fncCreatePIDFile" + fncErrorSuffix(fncTrappedError()));
    return false;
  }
}

void subWriteFinalStatus() {
  const std::string strStatus = g_run.blnFailed ? "FAILED" : "SUCCESS";
  bool blnWritten = true;
  if (g_run.blnFailed) blnWritten = fncWriteStatus("Desc", g_run.strFailureDesc);
  blnWritten = fncWriteStatus("LastRunStatusCode", strStatus) && blnWritten;
  // A program of the run asked for a restart: the agent is told, after the
  // status; the key is there only then.
  if (!g_run.blnFailed && g_run.blnRebootRequired)
    blnWritten = fncWriteStatus("RebootRequired", "Y") && blnWritten;
  if (!blnWritten || !g_run.blnStatusWritten) {
    // A profile write fails without raising. An outcome that never reached
    // the status file, or reached one that keeps an earlier run's PID, is
    // told in the log, and the run does not exit 0.
    subWriteLog("ERR : Failed to Write Status " + strStatus + " to " + g_run.strPIDFilePath);
    g_run.blnFailed = true;
    g_run.blnStatusWritten = false;
  }
  g_run.strStatus = g_run.blnFailed ? "FAILED" : "SUCCESS";
}

void subHandOffPIDFile() {
  const std::string strFolder = g_run.strInstallPath + "PMStatus" + fncSep();
  g_run.blnHandOffTried = true;
  // The agent would take a file without this run's PID and final status for
  // this run's report: such a file is not handed over, and stays for the
  // next run.
  if (!g_run.blnStatusWritten || !fncDuplix(g_run.strPIDFilePath, strFolder)) {
    subWriteLog("MSG : Failed to Copy PID File " + g_run.strPIDFilePath + " to " + strFolder);
    return;
  }
  g_run.blnHandedOver = true;
  subWriteLog("MSG : Successfully Copied PID File " + g_run.strPIDFilePath + " to " + strFolder);
  if (fncDeleteFile(g_run.strPIDFilePath))
    subWriteLog("MSG : Successfully Deleted PID File " + g_run.strPIDFilePath);
  else
    subWriteLog("MSG : Failed to Delete PID File " + g_run.strPIDFilePath);
}

}  // namespace tarvex
