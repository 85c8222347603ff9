// The run report, Duplix.json beside the log: what a fleet reads instead of
// scraping the log. One JSON object (package/run-report.schema.json),
// UTF-8, rewritten by every run that opened its log, never half-written.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "control/run_state.h"
#include "status/status.h"

#ifndef TARVEX_VERSION_TEXT
#define TARVEX_VERSION_TEXT "0"
#endif

namespace tarvex {

namespace {

typedef nlohmann::ordered_json Json;

// The run's text, in the code page of the build, as UTF-8.
std::string fncUtf8(const std::string& strText) { return Os().fncToUtf8(strText); }

Json fncText(const std::string& strText) {
  return strText.empty() ? Json(nullptr) : Json(fncUtf8(strText));
}

// ISO 8601 with the local offset, which the local time and the UTC time of
// the same moment give (to the minute).
std::string fncIsoTime(const LocalTime& objLocal, int64_t lngUtc) {
  const int64_t lngSeconds = fncUtcSeconds(objLocal) - lngUtc;
  // The two clocks were read a moment apart: to the nearest minute.
  const int64_t lngOffset = (lngSeconds + (lngSeconds < 0 ? -30 : 30)) / 60;
  const int64_t lngMinutes = lngOffset < 0 ? -lngOffset : lngOffset;
  char chrText[48];
  std::snprintf(chrText, sizeof chrText, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", objLocal.intYear,
                objLocal.intMonth, objLocal.intDay, objLocal.intHour, objLocal.intMinute,
                objLocal.intSecond, lngOffset < 0 ? '-' : '+', static_cast<int>(lngMinutes / 60),
                static_cast<int>(lngMinutes % 60));
  return chrText;
}

Json fncEntry(const EntryReport& objEntry) {
  const CopyReport& objCopy = objEntry.objCopy;
  const ExecutionReport& objRun = objEntry.objExecution;
  Json objCopyJson = {{"result", objCopy.strResult}, {"attempts", objCopy.intAttempts}};
  const bool blnPlaced = objCopy.strResult == "copied" || objCopy.strResult == "unchanged";
  objCopyJson["bytes"] = blnPlaced ? Json(objCopy.lngBytes) : Json(nullptr);
  objCopyJson["sha256"] = blnPlaced ? fncText(objCopy.strSha256) : Json(nullptr);
  objCopyJson["error"] = objCopy.objError.lngNumber == 0
                             ? Json(nullptr)
                             : Json{{"number", objCopy.objError.lngNumber},
                                    {"text", fncUtf8(objCopy.objError.strDescription)}};
  Json objRunJson = {{"result", objRun.strResult}, {"command", fncText(objRun.strCommand)}};
  objRunJson["exitCode"] =
      objRun.blnExitCode ? Json(static_cast<int32_t>(objRun.lngExitCode)) : Json(nullptr);
  objRunJson["seconds"] = objRun.strCommand.empty() ? Json(nullptr) : Json(objRun.dblSeconds);
  objRunJson["judgment"] = fncText(objRun.strJudgment);
  return Json{{"section", fncUtf8(objEntry.strSection)},
              {"fileName", fncUtf8(objEntry.strFileName)},
              {"target", fncUtf8(objEntry.strTarget)},
              {"copy", objCopyJson},
              {"execution", objRunJson}};
}

}  // namespace

std::string fncRunReport(int intExit) {
  Json objReport;
  objReport["program"] = "Tarvex";
  objReport["version"] = TARVEX_VERSION_TEXT;
  objReport["pid"] = fncText(g_run.strPID);
  objReport["regid"] = fncText(g_run.strRegID);
  objReport["start"] = fncIsoTime(g_run.objStartLocal, g_run.lngStartTime);
  objReport["end"] = fncIsoTime(Os().fncLocalTime(), Os().fncUnixTime());
  objReport["status"] = fncText(g_run.strStatus);
  objReport["exitCode"] = intExit;
  objReport["restartRequired"] = g_run.strStatus == "SUCCESS" && g_run.blnRebootRequired;
  Json objSeal = {{"state", g_run.strSealState}};
  objSeal["files"] = g_run.strSealState == "none" ? Json(nullptr) : Json(g_run.lngSealFiles);
  objSeal["package"] = fncText(g_run.strSignedPackage);
  objSeal["version"] =
      g_run.strSignedPackage.empty() ? Json(nullptr) : Json(g_run.lngSignedVersion);
  objReport["seal"] = objSeal;
  objReport["handOff"] = !g_run.blnHandOffTried ? Json(nullptr)
                         : g_run.blnHandedOver  ? Json("ok")
                                                : Json("failed");
  objReport["entries"] = Json::array();
  // The entries are written one by one into the object's last member: a
  // manifest of many entries never stands in memory twice. A name that is
  // no valid UTF-8 (a POSIX file name) becomes U+FFFD.
  std::string strText = objReport.dump(-1, ' ', false, Json::error_handler_t::replace);
  strText.resize(strText.size() - 2);  // "]}"
  for (size_t i = 0; i < g_run.objEntries.size(); ++i) {
    if (i != 0) strText += ',';
    strText += fncEntry(g_run.objEntries[i]).dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  return strText + "]}\n";
}

void subWriteRunReport(int intExit) {
  try {
    subReplaceWholeFile(fncAppFolder(), kRunReportName, fncRunReport(intExit));
  } catch (...) {
    subWriteLog("ERR : Sub - subWriteRunReport" + fncErrorSuffix(fncTrappedError()));
  }
}

}  // namespace tarvex
